#pragma once

#include "ftp_server.hpp"
#include "server_account.hpp"
#include "temp_dir.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quendelin::testing {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// Name -> bytes of the regular files in a directory; a subdirectory shows as "<dir>".
inline std::map<std::string, std::string> filesIn(const fs::path& dir) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        files[entry.path().filename().string()] =
            entry.is_directory() ? std::string("<dir>") : readBytes(entry.path());
    return files;
}

// A server home with the recipe directory "zeb" holding `files`, and an empty library beside
// it (not inside it, so that a file written outside the library would show in `root`).
struct Scene {
    TempDir root;
    fs::path home = root / "home";
    fs::path zeb = home / "zeb";
    fs::path library = root / "library";
    fs::path work = root / "work";

    explicit Scene(const Files& files = {}) {
        fs::create_directories(zeb);
        fs::create_directories(library);
        fs::create_directories(work);
        for (const auto& [name, bytes] : files)
            writeBytes(zeb / name, bytes);
    }
};

// For the tests that wait for a bound to run out.
inline ServerAccount withShortBounds(ServerAccount account) {
    using namespace std::chrono_literals;
    account.connectTimeout = 1s;
    account.replyTimeout = 1s;
    account.stallTimeout = 1s;
    return account;
}

inline std::string kindName(FtpServer::Kind kind) {
    return kind == FtpServer::Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
}

struct KindName {
    std::string operator()(const ::testing::TestParamInfo<FtpServer::Kind>& info) const {
        return kindName(info.param);
    }
};

// The commands of a recorded conversation that start with `verb`, arguments included.
inline std::vector<std::string> commandsOf(const std::vector<std::string>& commands,
                                           std::string_view verb) {
    std::vector<std::string> found;
    for (const auto& line : commands)
        if (line == verb || line.starts_with(std::string(verb) + " "))
            found.push_back(line);
    return found;
}

// Where in a recorded conversation a command first appears; commands.size() when never.
inline std::size_t indexOf(const std::vector<std::string>& commands, std::string_view line,
                           std::size_t from = 0) {
    return static_cast<std::size_t>(
        std::find(commands.begin() + static_cast<std::ptrdiff_t>(from), commands.end(), line) -
        commands.begin());
}

// Recipe bytes as a file of the program holds them: Windows-1252, CR LF.
inline const std::string recipeBytes = "Apfelstrudel\r\n%\r\n4 \xC4pfel\r\n%\r\nSch\xE4len.\r\n%"
                                       "\r\n%\r\nOma\r\n%\r\n";

} // namespace quendelin::testing
