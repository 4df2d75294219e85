#include "recipe_publisher.hpp"

#include "library_refresh.hpp"
#include "recipe_file.hpp"
#include "remote_name.hpp"
#include "session_access.hpp"
#include "staged_download.hpp"

#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quendelin::RecipePublisher {
namespace {

namespace fs = std::filesystem;

constexpr const char* probeName = "downloadzeb.rezepttest";

// The title becomes a file name both here and on the server, unchanged; one that would name
// another directory, hold control characters or not fit the file system cannot be saved as
// what the user wrote.
bool canBeFileName(std::string_view title, std::string_view fileName, const fs::path& workDir) {
    if (title == "." || title == ".." || !RemoteName::isPlainFileName(fileName))
        return false;
    const long nameMax = ::pathconf(workDir.c_str(), _PC_NAME_MAX);
    return nameMax < 0 || fileName.size() <= static_cast<std::size_t>(nameMax);
}

// The server delivered a file of this name. The copy lands beside the probe file first and
// takes its place only once complete, so when the name turns out to be free a probe file
// that was there before stays untouched.
bool nameTaken(ServerSession& session, const std::string& fileName, const fs::path& workDir) {
    const fs::path probe = workDir / probeName;
    std::optional<StagedDownload::Staged> staged;
    if (!SessionAccess::fetch(session, fileName, probe, staged))
        return false;
    if (staged)
        StagedDownload::discard(staged->temp);
    std::error_code ignored;
    fs::remove(probe, ignored);
    return true;
}

} // namespace

PublishOutcome publish(ServerSession& session, const ServerAccount& account,
                       const fs::path& libraryDir, const fs::path& workDir, const Recipe& recipe,
                       const std::function<void()>& onPublished) {
    if (!session.connect(account))
        return PublishOutcome::NotConnected;
    // Not examined: without "zeb" the probe and the upload use the login directory.
    session.changeDirectory(account.directory);

    const std::string fileName = RecipeFile::fileNameFor(recipe.title);
    if (!canBeFileName(recipe.title, fileName, workDir)) {
        session.close();
        return PublishOutcome::NotSaved;
    }
    // A probe that fails for any other reason than a delivered file counts as a free name;
    // should the server be unwell, the upload below finds out.
    if (nameTaken(session, fileName, workDir))
        return PublishOutcome::NameTaken; // the session stays open; the next connect closes it

    const fs::path localFile = workDir / fileName;
    if (!RecipeFile::write(localFile, recipe)) {
        session.close();
        return PublishOutcome::NotSaved;
    }
    if (!session.upload(localFile, fileName)) {
        session.close();
        return PublishOutcome::NotUploaded;
    }
    session.close();

    if (onPublished)
        onPublished();
    return LibraryRefresh::run(session, account, libraryDir)
               ? PublishOutcome::PublishedAndRefreshed
               : PublishOutcome::PublishedNotRefreshed;
}

} // namespace quendelin::RecipePublisher
