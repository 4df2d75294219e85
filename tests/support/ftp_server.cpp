#include "ftp_server.hpp"

#include "temp_dir.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quendelin::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* user = "quendelin";
constexpr const char* password = "rezepte42";
constexpr const char* python = "/usr/bin/python3";

fs::path supportDir() {
    return QUENDELIN_TEST_SUPPORT_DIR;
}

fs::path makeStateDir() {
    std::string pattern = (fs::temp_directory_path() / "quendelin-ftpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void removeStateDir(const fs::path& dir) {
    std::error_code ignored;
    if (!dir.empty())
        fs::remove_all(dir, ignored);
}

ServerAccount loopbackAccount(int port, std::string userName, std::string pass) {
    ServerAccount account{"127.0.0.1", port, std::move(userName), std::move(pass), "zeb"};
    account.connectTimeout = 5s;
    account.replyTimeout = 5s;
    account.stallTimeout = 5s;
    return account;
}

// A socket bound to 127.0.0.1 on a port of the system's choice; -1 on failure.
int bindLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int freePort() {
    int port = 0;
    const int fd = bindLoopback(port);
    if (fd < 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return port;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// Waits until the script has written its port file; 0 when it died or took too long.
int awaitPortFile(ServerProcess& process, const fs::path& portFile) {
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0)
            return port;
        if (!process.running())
            return 0;
    }
    return 0;
}

std::string logTail(const fs::path& logFile) {
    return "\n" + readBytes(logFile);
}

} // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, const fs::path& logFile) {
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

ServerProcess::~ServerProcess() {
    if (reaped_)
        return;
    ::kill(-pid_, SIGTERM);
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            // Sessions forked by the server may still be winding down.
            ::kill(-pid_, SIGKILL);
            return;
        }
    }
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

bool ServerProcess::running() {
    if (!reaped_ && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
        reaped_ = true;
    return !reaped_;
}

std::unique_ptr<FtpServer> FtpServer::start(Kind kind, const fs::path& home) {
    std::unique_ptr<FtpServer> server(new FtpServer);
    server->kind_ = kind;
    server->stateDir_ = makeStateDir();
    const fs::path log = server->stateDir_ / "server.log";

    if (kind == Kind::Pyftpdlib) {
        const fs::path portFile = server->stateDir_ / "port";
        server->process_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{python, (supportDir() / "pyftpd.py").string(), "--root",
                                     home.string(), "--user", user, "--password", password,
                                     "--port-file", portFile.string()},
            log);
        server->port_ = awaitPortFile(*server->process_, portFile);
        if (server->port_ == 0)
            throw std::runtime_error("pyftpdlib did not start" + logTail(log));
        return server;
    }

    // vsftpd takes its port from the configuration, so a port that another process grabs in
    // between makes it exit at once; then try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = freePort();
        const fs::path config = server->stateDir_ / "vsftpd.conf";
        std::ostringstream text;
        text << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
             << "listen_port=" << port << "\n"
             << "background=NO\n"
             // The tests run as root or as a plain user; either way the sessions stay with
             // that user, who owns the test's directories.
             << "run_as_launching_user=YES\n"
             << "anonymous_enable=YES\nlocal_enable=NO\n"
             << "anon_root=" << fs::absolute(home).string() << "\n"
             << "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
             << "anon_other_write_enable=YES\nanon_world_readable_only=NO\nanon_umask=022\n"
             << "pasv_enable=YES\npasv_address=127.0.0.1\n"
             << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
             << "xferlog_enable=NO\ndirmessage_enable=NO\n";
        {
            std::ofstream out(config);
            out << text.str();
        }
        server->process_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{"/usr/sbin/vsftpd", config.string()}, log);
        for (auto deadline = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < deadline && server->process_->running();
             std::this_thread::sleep_for(20ms)) {
            if (accepts(port)) {
                server->port_ = port;
                return server;
            }
        }
        server->process_.reset();
    }
    throw std::runtime_error("vsftpd did not start" + logTail(log));
}

FtpServer::~FtpServer() {
    process_.reset();
    removeStateDir(stateDir_);
}

ServerAccount FtpServer::account() const {
    if (kind_ == Kind::Vsftpd)
        return loopbackAccount(port_, "anonymous", password);
    return loopbackAccount(port_, user, password);
}

std::unique_ptr<BadFtpServer> BadFtpServer::start(const fs::path& home,
                                                  const std::vector<std::string>& options) {
    std::unique_ptr<BadFtpServer> server(new BadFtpServer);
    server->stateDir_ = makeStateDir();
    const fs::path log = server->stateDir_ / "server.log";
    const fs::path portFile = server->stateDir_ / "port";
    std::vector<std::string> argv{python,
                                  (supportDir() / "bad_ftpd.py").string(),
                                  "--root",
                                  home.string(),
                                  "--user",
                                  user,
                                  "--password",
                                  password,
                                  "--port-file",
                                  portFile.string(),
                                  "--commands-file",
                                  (server->stateDir_ / "commands").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    server->process_ = std::make_unique<ServerProcess>(argv, log);
    server->port_ = awaitPortFile(*server->process_, portFile);
    if (server->port_ == 0)
        throw std::runtime_error("bad_ftpd.py did not start" + logTail(log));
    return server;
}

BadFtpServer::~BadFtpServer() {
    process_.reset();
    removeStateDir(stateDir_);
}

ServerAccount BadFtpServer::account() const {
    return loopbackAccount(port_, user, password);
}

std::vector<std::string> BadFtpServer::commands() const {
    std::vector<std::string> lines;
    std::istringstream in(readBytes(stateDir_ / "commands"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

ClosedPort::ClosedPort() {
    fd_ = bindLoopback(port_);
    if (fd_ < 0)
        throw std::runtime_error("no free port");
}

ClosedPort::~ClosedPort() {
    ::close(fd_);
}

ServerAccount ClosedPort::account() const {
    return loopbackAccount(port_, user, password);
}

} // namespace quendelin::testing
