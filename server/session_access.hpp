#pragma once

#include "server_session.hpp"
#include "staged_download.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace quendelin {

// The parts of a session that only the refresh and the publisher use: a download that stops
// short of putting the file in place, so that many files can be made durable together.
struct SessionAccess {
    // Like ServerSession::download, but the bytes stay in a temporary file beside
    // `localPath`, which `staged` names; the caller commits or discards it. True when the
    // server delivered the whole file and confirmed it; `staged` is empty when the local
    // file could not be written.
    static bool fetch(ServerSession& session, std::string_view remoteName,
                      const std::filesystem::path& localPath,
                      std::optional<StagedDownload::Staged>& staged);
};

} // namespace quendelin
