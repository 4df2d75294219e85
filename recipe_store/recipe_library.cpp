#include "recipe_library.hpp"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <quendelin/build_constants.hpp>

namespace quendelin::RecipeLibrary {
namespace {

constexpr std::string_view kExtension = ".rezept";

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool hasRecipeExtension(std::string_view name) {
    if (name.size() < kExtension.size())
        return false;
    const std::string_view tail = name.substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(),
                      [](char a, char b) { return foldAscii(a) == b; });
}

int compareFolded(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(foldAscii(a[i]));
        const auto y = static_cast<unsigned char>(foldAscii(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Linux hands out directory entries in no useful order; the recipes have always been
// delivered alphabetically with letter case ignored. Ties fall back to the bytes (std::string
// compares unsigned), so the order is total and the same on every machine.
bool deliveryOrderBefore(const std::string& a, const std::string& b) {
    const int folded = compareFolded(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

std::filesystem::path libraryDir() {
    return std::filesystem::path(buildConstants::libraryDir);
}

std::vector<std::string> list() {
    return list(libraryDir());
}

std::vector<std::string> list(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
    if (!handle)
        return names;
    while (const dirent* entry = ::readdir(handle.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && hasRecipeExtension(name))
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end(), deliveryOrderBefore);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    // The entry delivered last is shown on top.
    std::reverse(names.begin(), names.end());
    return names;
}

std::filesystem::path pathOf(std::string_view name) {
    return pathOf(libraryDir(), name);
}

std::filesystem::path pathOf(const std::filesystem::path& dir, std::string_view name) {
    // Deliberately no operator/: it would let an absolute name replace the directory.
    std::string joined = dir.native();
    joined += '/';
    joined += name;
    return joined;
}

} // namespace quendelin::RecipeLibrary
