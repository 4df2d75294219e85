#pragma once

#include "recipe.hpp"
#include "server_account.hpp"
#include "server_session.hpp"

#include <filesystem>
#include <functional>

namespace quendelin {

enum class PublishOutcome {
    NotConnected,          // no connection or login; nothing was done
    NameTaken,             // the server holds a recipe of that file name already
    NotSaved,              // the title cannot be a file name, or the file could not be written
    NotUploaded,           // the server refused the upload or did not confirm it
    PublishedAndRefreshed, // uploaded, and the library refresh that followed connected
    PublishedNotRefreshed, // uploaded, but the library refresh could not connect
};

namespace RecipePublisher {

// Checks that the server does not hold the recipe's file name yet, writes the recipe file
// into `workDir`, uploads it, closes the session, calls `onPublished` once, and then
// refreshes the library. `onPublished` is called only when the upload was confirmed.
PublishOutcome publish(ServerSession& session, const ServerAccount& account,
                       const std::filesystem::path& libraryDir,
                       const std::filesystem::path& workDir, const Recipe& recipe,
                       const std::function<void()>& onPublished);

} // namespace RecipePublisher
} // namespace quendelin
