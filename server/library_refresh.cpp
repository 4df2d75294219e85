#include "library_refresh.hpp"

#include "recipe_library.hpp"
#include "session_access.hpp"
#include "staged_download.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quendelin::LibraryRefresh {

bool run(ServerSession& session, const ServerAccount& account,
         const std::filesystem::path& libraryDir) {
    if (!session.connect(account))
        return false;
    // Neither result matters: without "zeb" we copy the login directory, and a failed listing
    // is simply empty.
    session.changeDirectory(account.directory);
    session.list();

    // Every file arrives in a temporary file first; all of them are made durable together and
    // only then take their places, which is as safe as an fsync per file at a fraction of the
    // cost.
    std::vector<StagedDownload::Staged> finished;
    const std::vector<std::string> names = session.entries();
    for (const std::string& name : names) {
        // Hostile names ("..", "a/b", control characters) are refused by the session before
        // anything is sent or written; the refresh goes on with the next entry either way.
        std::optional<StagedDownload::Staged> staged;
        if (SessionAccess::fetch(session, name, RecipeLibrary::pathOf(libraryDir, name), staged) &&
            staged)
            finished.push_back(std::move(*staged));
    }
    StagedDownload::commit(finished);
    return true;
}

} // namespace quendelin::LibraryRefresh
