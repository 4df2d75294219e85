#pragma once

#include <filesystem>
#include <vector>

// A download lands in a temporary file beside its target and takes the target's place only
// once it is complete, so a broken transfer never leaves a half file in the library.
namespace quendelin::StagedDownload {

struct Staged {
    std::filesystem::path temp, target;
};

// Creates a new, empty temporary file in `dir`, readable as the user's other files are.
// Returns its descriptor, or -1 when the directory takes no file.
int createTemp(const std::filesystem::path& dir, std::filesystem::path& temp);

// Makes the finished temporary files durable, moves each onto its target in the given order
// (a later one of the same target wins), and makes the renames durable. A file that cannot
// take its target's place is removed, and the target stays as it was.
void commit(const std::vector<Staged>& staged);

// Removes a temporary file that will not be used.
void discard(const std::filesystem::path& temp);

} // namespace quendelin::StagedDownload
