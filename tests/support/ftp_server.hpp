#pragma once

#include "server_account.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quendelin::testing {

// A child process of the test, started in a process group of its own so that it and every
// child it forks stop together.
class ServerProcess {
public:
    ServerProcess(const std::vector<std::string>& argv, const std::filesystem::path& logFile);
    ~ServerProcess(); // SIGTERM to the group, waits; SIGKILL if it does not stop in time
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool running();

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// A real FTP server on 127.0.0.1 and a free port, serving `home` with full rights for one
// account. The test makes home/"zeb" and its files itself.
class FtpServer {
public:
    enum class Kind { Pyftpdlib, Vsftpd };

    // Throws std::runtime_error when the server does not come up.
    static std::unique_ptr<FtpServer> start(Kind kind, const std::filesystem::path& home);
    ~FtpServer();

    int port() const { return port_; }
    // Host 127.0.0.1, this server's port and account, directory "zeb", and time bounds short
    // enough that a fault shows as a failed test rather than a long wait. vsftpd knows only
    // its anonymous account (with write rights here), so its user is "anonymous".
    ServerAccount account() const;

private:
    FtpServer() = default;

    Kind kind_ = Kind::Pyftpdlib;
    int port_ = 0;
    std::filesystem::path stateDir_;
    std::unique_ptr<ServerProcess> process_;
};

// The small misbehaving server of tests/support/bad_ftpd.py: serves `home` like a plain
// server and misbehaves as its command-line options say (see the script), e.g.
// {"--refuse-pasv"}, {"--break-retr", "10"}, {"--delay-ms", "50"}. It records every command
// it receives, so a test can check what went over the wire and in which order.
class BadFtpServer {
public:
    static std::unique_ptr<BadFtpServer> start(const std::filesystem::path& home,
                                               const std::vector<std::string>& options = {});
    ~BadFtpServer();

    int port() const { return port_; }
    ServerAccount account() const; // as FtpServer::account()

    // The command lines received so far, oldest first, without CR LF, in the bytes that came
    // over the wire; "PASS" lines keep their argument. A new control connection shows as a
    // line "CONNECT" before its first command.
    std::vector<std::string> commands() const;

private:
    BadFtpServer() = default;

    int port_ = 0;
    std::filesystem::path stateDir_;
    std::unique_ptr<ServerProcess> process_;
};

// A port on 127.0.0.1 that is bound but not listening, so every connect to it is refused;
// held for the object's life so that no one else takes it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    int port() const { return port_; }
    ServerAccount account() const; // an account that cannot connect

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace quendelin::testing
