#pragma once

#include "recipe.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The ".rezept" file: five sections in field order, each followed by a line "%", every line
// ended by CR LF, all in Windows-1252. Files travel unchanged between installations, so the
// byte layout is fixed for good.
namespace quendelin::RecipeFile {

// The title followed by ".rezept", unchanged: nothing is replaced, trimmed or cut.
std::string fileNameFor(std::string_view title);

// Writes the recipe so that the file at `path` is afterwards either the complete new recipe
// or, on any failure, exactly what it was before; nothing partial is ever left behind.
bool write(const std::filesystem::path& path, const Recipe& recipe);

// Reads any file, not only those that write() produced: LF, CR, CR LF and NUL end a line,
// and the reader stops at the fifth "%" line or at the end of the file, whichever comes
// first. Sections that the file does not reach are empty. No result when the file cannot
// be opened or is a directory.
std::optional<RecipeLines> read(const std::filesystem::path& path);

} // namespace quendelin::RecipeFile
