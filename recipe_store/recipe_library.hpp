#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The local recipe library: one directory of ".rezept" files. Names are the exact bytes of
// the directory entries, so whatever is listed can be opened again.
namespace quendelin::RecipeLibrary {

// The names ending in ".rezept" (any letter case) in display order, top entry first:
// alphabetical with letter case ignored, then reversed. A missing directory lists nothing.
std::vector<std::string> list();
std::vector<std::string> list(const std::filesystem::path& dir);

// The directory joined with the name, as a plain concatenation: the name is not examined.
std::filesystem::path pathOf(std::string_view name);
std::filesystem::path pathOf(const std::filesystem::path& dir, std::string_view name);

// The built-in library directory.
std::filesystem::path libraryDir();

} // namespace quendelin::RecipeLibrary
