#pragma once

#include "server_account.hpp"
#include "server_session.hpp"

#include <filesystem>

// Copies every file of the server's recipe directory into the library.
namespace quendelin::LibraryRefresh {

// True when the server could be reached and the refresh ran (single files may still have
// failed); false when the connect or login failed, and then nothing was touched. The session
// stays open afterwards.
bool run(ServerSession& session, const ServerAccount& account,
         const std::filesystem::path& libraryDir);

} // namespace quendelin::LibraryRefresh
