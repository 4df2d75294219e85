#include "recipe_file.hpp"

#include "cp1252.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quendelin::RecipeFile {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kDelimiter = "%";
constexpr std::size_t kSections = 5;

std::string encode(const Recipe& recipe) {
    std::string bytes;
    for (const std::string* field : {&recipe.title, &recipe.ingredients, &recipe.preparation,
                                     &recipe.remarks, &recipe.author}) {
        bytes += Cp1252::fromUtf8(*field);
        bytes += kLineEnd;
        bytes += kDelimiter;
        bytes += kLineEnd;
    }
    return bytes;
}

// Closes the descriptor on every way out of a scope.
class Fd {
public:
    explicit Fd(int fd)
        : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() reports late write errors (NFS, quotas), so the writer must see its result.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A temp file beside the target, with a short name of its own so that a title close to the
// file system's name limit still fits. O_EXCL keeps us off anybody else's file.
int createTempBeside(const std::filesystem::path& dir, std::filesystem::path& tempPath) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = dir / (".quendelin-" + std::to_string(::getpid()) + "-" +
                          std::to_string(counter++) + ".tmp");
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void syncDirectory(const std::filesystem::path& dir) {
    const Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

// Splits bytes into lines at LF, CR, CR LF and NUL, and sorts the lines into the five
// sections. Fed chunk by chunk, so a file is read only up to its fifth delimiter.
class SectionReader {
public:
    bool done() const { return section_ == kSections; }

    void feed(std::string_view chunk) {
        for (const char byte : chunk) {
            if (done())
                return;
            if (afterCr_) {
                afterCr_ = false;
                if (byte == '\n')
                    continue;
            }
            switch (byte) {
            case '\r':
                afterCr_ = true;
                [[fallthrough]];
            case '\n':
            case '\0':
                endLine();
                break;
            default:
                line_ += byte;
                pending_ = true;
            }
        }
    }

    // The end of the file ends a last line that has no ending of its own; right after an
    // ending there is no further line.
    RecipeLines finish() {
        if (pending_ && !done())
            endLine();
        return std::move(lines_);
    }

private:
    void endLine() {
        if (line_ == kDelimiter)
            ++section_;
        else
            sectionLines().push_back(Cp1252::toUtf8(line_));
        line_.clear();
        pending_ = false;
    }

    std::vector<std::string>& sectionLines() {
        const std::array<std::vector<std::string>*, kSections> sections = {
            &lines_.title, &lines_.ingredients, &lines_.preparation, &lines_.remarks,
            &lines_.author};
        return *sections[section_];
    }

    RecipeLines lines_;
    std::string line_;
    std::size_t section_ = 0;
    bool pending_ = false;
    bool afterCr_ = false;
};

} // namespace

std::string fileNameFor(std::string_view title) {
    std::string name(title);
    name += ".rezept";
    return name;
}

bool write(const std::filesystem::path& path, const Recipe& recipe) {
    const std::string bytes = encode(recipe);

    // The new recipe goes to a temp file and replaces the old one only once it is complete
    // and on disk: a full disk or a crash must never leave a short recipe behind, since a
    // published file is uploaded from here and copied by everybody.
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && (S_ISDIR(existing.st_mode) || ::access(path.c_str(), W_OK) != 0))
        return false;

    std::filesystem::path dir = path.parent_path();
    if (dir.empty())
        dir = ".";
    std::filesystem::path tempPath;
    Fd fd(createTempBeside(dir, tempPath));
    if (fd.get() < 0)
        return false;

    bool ok = writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (ok && exists)
        ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    syncDirectory(dir);
    return true;
}

std::optional<RecipeLines> read(const std::filesystem::path& path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;

    SectionReader reader;
    std::array<char, 64 * 1024> buffer;
    while (!reader.done()) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        reader.feed({buffer.data(), static_cast<std::size_t>(got)});
    }
    return reader.finish();
}

} // namespace quendelin::RecipeFile
