#pragma once

#include "server_account.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendelin {

// The program's one FTP session: empty, or one logged-in control connection together with
// the listing made last on it. Every operation blocks the calling thread, and every wait is
// bounded by the account's time limits. Remote names are UTF-8 here and Windows-1252 bytes
// on the wire.
class ServerSession {
public:
    ServerSession();
    ~ServerSession(); // closes what it holds
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // Closes an open session first, so a failed connect leaves the slot empty.
    bool connect(const ServerAccount& account);
    bool isOpen() const;

    bool changeDirectory(std::string_view name);

    // Replaces the listing with the names of the current remote directory.
    bool list();
    // The listing's names in the order the program works through them: the last line of
    // the server's listing first.
    const std::vector<std::string>& entries() const;

    // True when the server delivered the whole file and confirmed the transfer; only then is
    // the local file replaced. Otherwise the local file is exactly as it was before.
    bool download(std::string_view remoteName, const std::filesystem::path& localPath);
    // True when the whole file was sent and the server confirmed it.
    bool upload(const std::filesystem::path& localPath, std::string_view remoteName);

    void close();

private:
    friend struct SessionAccess; // the refresh's batched downloads (session_access.hpp)
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quendelin
