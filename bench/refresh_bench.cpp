// One library refresh against a given server, timed: the benchmark script runs this side by
// side with the mirror commands of other FTP clients. It prints the seconds that
// LibraryRefresh::run took and exits with 1 when the refresh could not connect.
//
//   refresh_bench HOST PORT USER PASSWORD DIRECTORY LIBRARY_DIR

#include "library_refresh.hpp"
#include "server_account.hpp"
#include "server_session.hpp"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

bool parsePort(std::string_view text, int& port) {
    const char* end = text.data() + text.size();
    auto [rest, error] = std::from_chars(text.data(), end, port);
    return error == std::errc{} && rest == end && port > 0 && port <= 65535;
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    if (argc != 7 || !parsePort(argv[2], port)) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DIRECTORY LIBRARY_DIR\n",
                     argc > 0 ? argv[0] : "refresh_bench");
        return 2;
    }

    quendelin::ServerAccount account{argv[1], port, argv[3], argv[4], argv[5]};
    const std::filesystem::path libraryDir = argv[6];

    // Only the refresh is timed: the program leaves the session open after it, so the user
    // never waits for the QUIT. The benchmark script times the whole process besides, close
    // included, as it does for the other clients.
    quendelin::ServerSession session;
    const auto start = std::chrono::steady_clock::now();
    const bool connected = quendelin::LibraryRefresh::run(session, account, libraryDir);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    session.close();

    if (!connected) {
        std::fprintf(stderr, "refresh_bench: could not connect to %s:%d\n", argv[1], port);
        return 1;
    }
    std::printf("%.4f\n", took.count());
    return 0;
}
