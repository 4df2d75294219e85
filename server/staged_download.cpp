#include "staged_download.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <set>
#include <string>
#include <unistd.h>

namespace quendelin::StagedDownload {
namespace {

namespace fs = std::filesystem;

// Hidden, and not ending in ".rezept", so the library list never shows one that a crash
// left behind; of fixed, short length, so that a long target name cannot make it too long.
std::string tempName(std::mt19937_64& random) {
    char name[32];
    std::snprintf(name, sizeof name, ".quendelin-%012llx.part",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFULL));
    return name;
}

std::mt19937_64& randomSource() {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return random;
}

fs::path dirOf(const fs::path& file) {
    fs::path dir = file.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

void syncPath(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

int createTemp(const fs::path& dir, fs::path& temp) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = dir / tempName(randomSource());
        // Mode 0666 lets the umask decide, so the finished file gets the same rights as any
        // other file the user makes.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

void commit(const std::vector<Staged>& staged) {
    if (staged.empty())
        return;
    // The data must be on disk before a rename can make it visible, or a crash could leave
    // an empty file where the old one was. One file gets its own fsync; many get one sync
    // of the whole file system, which costs about as much as a single fsync.
    if (staged.size() == 1) {
        syncPath(staged.front().temp, O_RDONLY);
    } else {
        const int fd =
            ::open(dirOf(staged.front().temp).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }

    std::set<fs::path> dirs;
    for (const auto& file : staged) {
        if (::rename(file.temp.c_str(), file.target.c_str()) == 0)
            dirs.insert(dirOf(file.target));
        else
            discard(file.temp);
    }
    for (const auto& dir : dirs)
        syncPath(dir, O_RDONLY | O_DIRECTORY);
}

void discard(const fs::path& temp) {
    ::unlink(temp.c_str());
}

} // namespace quendelin::StagedDownload
