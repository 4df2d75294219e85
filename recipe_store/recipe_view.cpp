#include "recipe_view.hpp"

#include "recipe_file.hpp"
#include "recipe_library.hpp"

namespace quendelin::RecipeView {
namespace {

constexpr std::string_view kSeparator = "=============================";
constexpr std::string_view kAuthorPrefix = "AUTOR: ";

void append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

} // namespace

std::optional<Lines> compose(std::string_view name) {
    return compose(RecipeLibrary::libraryDir(), name);
}

std::optional<Lines> compose(const std::filesystem::path& dir, std::string_view name) {
    const std::optional<RecipeLines> recipe = RecipeFile::read(RecipeLibrary::pathOf(dir, name));
    if (!recipe)
        return std::nullopt;

    Lines lines;
    auto& viewer = lines.viewer;
    // The blank line sets the title off from the top edge; without a title it would only
    // push the first heading down.
    if (!recipe->title.empty())
        viewer.emplace_back();
    append(viewer, recipe->title);
    viewer.emplace_back(kSeparator);
    viewer.emplace_back("ZUTATEN:");
    viewer.emplace_back();
    append(viewer, recipe->ingredients);
    viewer.emplace_back(kSeparator);
    viewer.emplace_back("ZUBEREITUNG:");
    append(viewer, recipe->preparation);
    viewer.emplace_back(kSeparator);
    viewer.emplace_back("BEMERKUNGEN:");
    append(viewer, recipe->remarks);

    for (const std::string& author : recipe->author)
        lines.author.push_back(std::string(kAuthorPrefix) + author);
    return lines;
}

} // namespace quendelin::RecipeView
