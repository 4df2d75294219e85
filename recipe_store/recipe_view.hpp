#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Turns a library file into what the window shows: the recipe under its German headings,
// and the author line.
namespace quendelin::RecipeView {

struct Lines {
    std::vector<std::string> viewer, author;

    bool operator==(const Lines&) const = default;
};

// No result when the file cannot be opened (missing, a directory, no access).
std::optional<Lines> compose(std::string_view name);
std::optional<Lines> compose(const std::filesystem::path& dir, std::string_view name);

} // namespace quendelin::RecipeView
