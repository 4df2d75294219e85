#pragma once

#include <chrono>
#include <string>

namespace quendelin {

// Where the shared recipes live. Passive data connections only.
struct ServerAccount {
    std::string host;
    int port;
    std::string user, password, directory;
    std::chrono::milliseconds connectTimeout{10'000}; // TCP connect and login
    std::chrono::milliseconds replyTimeout{30'000};   // any one reply of the server
    std::chrono::milliseconds stallTimeout{30'000};   // a transfer that stops moving
};

// The account compiled into the program, with the recipe directory "zeb".
ServerAccount builtInAccount();

} // namespace quendelin
