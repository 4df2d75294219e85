#include "server_session.hpp"

#include "cp1252.hpp"
#include "remote_name.hpp"
#include "session_access.hpp"
#include "staged_download.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <curl/curl.h>
#include <string>
#include <sys/select.h>
#include <unistd.h>

namespace quendelin {
namespace {

namespace fs = std::filesystem;

// The longest single wait for the sockets before libcurl gets another look. libcurl's own
// timers cut it short and enforce the account's bounds; this is only a safety net.
constexpr int pollSliceMs = 20;

// A listing larger than this is not a recipe directory; we stop reading rather than grow.
constexpr std::size_t maxListingBytes = 16u << 20;

void initCurlOnce() {
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

long wholeSeconds(std::chrono::milliseconds bound) {
    // libcurl 7.88 takes these two bounds in whole seconds; round up, never to zero (which
    // would mean "no bound").
    return std::max<long>(1, static_cast<long>((bound.count() + 999) / 1000));
}

// One URL path segment: every byte but the unreserved ones is escaped, so blanks, '#', '%',
// '?' and ';' stay part of the name and Windows-1252 bytes travel unchanged.
std::string escapeSegment(CURL* easy, std::string_view utf8) {
    const std::string wire = Cp1252::fromUtf8(utf8);
    char* escaped = curl_easy_escape(easy, wire.data(), static_cast<int>(wire.size()));
    if (escaped == nullptr)
        return {};
    std::string segment(escaped);
    curl_free(escaped);
    return segment;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The name of one line of a Unix long listing: everything after the eighth field, less the
// one blank that separates it. Lines with fewer fields hold no name.
bool nameOfListingLine(std::string_view line, std::string_view& name) {
    std::size_t pos = 0;
    for (int field = 0; field < 8; ++field) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos == line.size())
            return false;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
    }
    if (pos + 1 >= line.size())
        return false;
    name = line.substr(pos + 1);
    return true;
}

std::vector<std::string> parseListing(std::string_view text) {
    std::vector<std::string> names;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool isTotal = first && line.starts_with("total ");
        first = false;
        std::string_view name;
        if (!isTotal && nameOfListingLine(line, name))
            names.push_back(Cp1252::toUtf8(name));
    }
    // The program works through the listing from its last line to its first.
    std::reverse(names.begin(), names.end());
    return names;
}

} // namespace

struct ServerSession::Impl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::string base;    // "ftp://host:port/"
    std::string dirPath; // escaped segments of the current directory, each ending in '/'
    std::vector<std::string> entries;
    // libcurl closes the control connection after every transfer that ends early, even when
    // only the data connection broke, and then dials again for the next operation. One such
    // fresh login lets the refresh go on with the next file, as it would on a connection
    // that survived. But after a timeout, or when the fresh connection fails as well, the
    // session is over (`lost`): against a server that stopped answering, every later
    // operation would wait out the bounds anew.
    bool dropped = false;
    bool lost = false;

    // What the transfer in flight reads or writes.
    std::string listing;
    int tempFd = -1;
    fs::path tempDir, tempPath;
    bool localFailed = false;
    long long announcedBytes = -1, receivedBytes = 0;
    std::FILE* source = nullptr;

    ~Impl() {
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        // Closes the cached control connection, with QUIT.
        if (multi != nullptr)
            curl_multi_cleanup(multi);
    }

    bool usable() const { return easy != nullptr && !lost; }

    // Options stick to the handle between transfers; each operation starts from this.
    void resetTransfer() {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::discardBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, nullptr);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, nullptr);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
    }

    // Runs one transfer to its end through the multi interface.
    CURLcode perform(const std::string& url) {
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
            return CURLE_FAILED_INIT;
        CURLcode result = CURLE_FAILED_INIT;
        bool ranAgain = false;
        for (bool done = false; !done;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                break;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    result = message->data.result;
                    done = true;
                }
            }
            if (done || running == 0)
                break;
            // After the PASV reply libcurl 7.88 sets up the data connection but opens its
            // socket only on its next run, and until then it names neither a socket nor a
            // timer: any wait would idle to its end (1 s in curl_easy_perform). When it has
            // nothing to wait on, run it again at once.
            if (!ranAgain && !waitsOnSocket()) {
                ranAgain = true;
                continue;
            }
            ranAgain = false;
            if (curl_multi_poll(multi, nullptr, 0, pollSliceMs, nullptr) != CURLM_OK)
                break;
        }
        // Ask while the handle is still in the multi: afterwards libcurl no longer looks.
        curl_socket_t socket = CURL_SOCKET_BAD;
        const bool gone = curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
                          socket == CURL_SOCKET_BAD;
        curl_multi_remove_handle(multi, easy);
        if (gone && (dropped || result == CURLE_OPERATION_TIMEDOUT))
            lost = true;
        dropped = gone && !lost;
        return result;
    }

    bool waitsOnSocket() {
        fd_set read, write, error;
        FD_ZERO(&read);
        FD_ZERO(&write);
        FD_ZERO(&error);
        int maxFd = -1;
        return curl_multi_fdset(multi, &read, &write, &error, &maxFd) == CURLM_OK && maxFd >= 0;
    }

    std::string urlFor(std::string_view name) const {
        return base + dirPath + escapeSegment(easy, name);
    }

    static size_t discardBody(char*, size_t size, size_t count, void*) { return size * count; }

    static size_t collectListing(char* data, size_t size, size_t count, void* self) {
        auto& impl = *static_cast<Impl*>(self);
        const size_t bytes = size * count;
        if (impl.listing.size() + bytes > maxListingBytes)
            return 0; // fails the listing
        impl.listing.append(data, bytes);
        return bytes;
    }

    // Many servers name the file's size in their answer to RETR, "150 ... (1234 bytes)".
    // libcurl reads it only together with SIZE, which costs a round trip per file; reading it
    // here catches a short transfer that the server still calls complete.
    static size_t noteReply(char* data, size_t size, size_t count, void* self) {
        auto& impl = *static_cast<Impl*>(self);
        const size_t bytes = size * count;
        const std::string_view line(data, bytes);
        if (line.starts_with("150") || line.starts_with("125")) {
            const std::size_t open = line.rfind('(');
            const std::size_t unit = line.find(" bytes)", open);
            if (open != std::string_view::npos && unit != std::string_view::npos &&
                unit > open + 1) {
                long long announced = 0;
                bool digits = true;
                for (std::size_t i = open + 1; i < unit && digits; ++i) {
                    digits = line[i] >= '0' && line[i] <= '9' && announced < (1LL << 50);
                    announced = announced * 10 + (line[i] - '0');
                }
                if (digits)
                    impl.announcedBytes = announced;
            }
        }
        return bytes;
    }

    // The local file is made only when the first byte arrives, that is after the server
    // accepted RETR; until then a refused download touches nothing.
    static size_t storeBody(char* data, size_t size, size_t count, void* self) {
        auto& impl = *static_cast<Impl*>(self);
        const size_t bytes = size * count;
        impl.receivedBytes += static_cast<long long>(bytes);
        if (impl.localFailed)
            return bytes; // read the file to its end all the same, the connection stays usable
        if (impl.tempFd < 0 && !impl.openTemp())
            return bytes;
        for (size_t written = 0; written < bytes;) {
            const ssize_t n = ::write(impl.tempFd, data + written, bytes - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                impl.dropTemp();
                impl.localFailed = true;
                return bytes;
            }
            written += static_cast<size_t>(n);
        }
        return bytes;
    }

    bool openTemp() {
        tempFd = StagedDownload::createTemp(tempDir, tempPath);
        if (tempFd < 0)
            localFailed = true;
        return tempFd >= 0;
    }

    void dropTemp() {
        if (tempFd >= 0) {
            ::close(tempFd);
            tempFd = -1;
            StagedDownload::discard(tempPath);
        }
        tempPath.clear();
    }

    static size_t readSource(char* buffer, size_t size, size_t count, void* self) {
        auto& impl = *static_cast<Impl*>(self);
        const size_t n = std::fread(buffer, 1, size * count, impl.source);
        if (n == 0 && std::ferror(impl.source))
            return CURL_READFUNC_ABORT;
        return n;
    }

    bool fetch(std::string_view remoteName, const fs::path& localPath,
               std::optional<StagedDownload::Staged>& staged) {
        staged.reset();
        if (!usable() || !RemoteName::isPlainFileName(remoteName))
            return false;
        resetTransfer();
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::storeBody);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::noteReply);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        tempDir = localPath.parent_path();
        tempPath.clear();
        tempFd = -1;
        localFailed = false;
        announcedBytes = -1;
        receivedBytes = 0;

        const bool ok = perform(urlFor(remoteName)) == CURLE_OK &&
                        (announcedBytes < 0 || announcedBytes == receivedBytes);
        // A file of zero bytes never reaches the write callback.
        if (ok && tempFd < 0 && !localFailed)
            openTemp();
        if (!ok) {
            dropTemp();
            return false;
        }
        if (tempFd >= 0) {
            ::close(tempFd);
            tempFd = -1;
            staged = StagedDownload::Staged{tempPath, localPath};
        }
        return true;
    }
};

ServerSession::ServerSession() = default;

ServerSession::~ServerSession() = default;

bool ServerSession::connect(const ServerAccount& account) {
    close();
    initCurlOnce();
    auto impl = std::make_unique<Impl>();
    impl->multi = curl_multi_init();
    impl->easy = curl_easy_init();
    if (impl->multi == nullptr || impl->easy == nullptr)
        return false;

    // An IPv6 address needs its brackets in a URL.
    const std::string host =
        account.host.find(':') != std::string::npos ? "[" + account.host + "]" : account.host;
    impl->base = "ftp://" + host + ":" + std::to_string(account.port) + "/";

    CURL* easy = impl->easy;
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_USERNAME, account.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, account.password.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // PASV, and the data connection goes to the host we are talking to: an address named in
    // the PASV reply could aim us at any other machine.
    curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 0L);
    curl_easy_setopt(easy, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    // No SIZE before RETR: one round trip less per file. The RETR reply and the closing
    // reply still decide whether the file arrived.
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(account.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(account.replyTimeout));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, wholeSeconds(account.stallTimeout));
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);

    // Logging in without a transfer: USER, PASS and PWD, nothing else.
    impl->resetTransfer();
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    const CURLcode result = impl->perform(impl->base);
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    if (result != CURLE_OK || impl->dropped || impl->lost)
        return false; // the unique_ptr closes what was opened; the slot stays empty
    impl_ = std::move(impl);
    return true;
}

bool ServerSession::isOpen() const {
    return impl_ != nullptr && impl_->usable();
}

bool ServerSession::changeDirectory(std::string_view name) {
    if (!isOpen() || name.empty())
        return false;
    // libcurl walks to a URL's directory with CWD, one segment at a time, and remembers where
    // it is; a NOBODY request on the directory sends the CWD alone.
    const std::string target = impl_->dirPath + escapeSegment(impl_->easy, name) + "/";
    impl_->resetTransfer();
    curl_easy_setopt(impl_->easy, CURLOPT_NOBODY, 1L);
    const CURLcode result = impl_->perform(impl_->base + target);
    curl_easy_setopt(impl_->easy, CURLOPT_NOBODY, 0L);
    if (result != CURLE_OK)
        return false;
    impl_->dirPath = target;
    return true;
}

bool ServerSession::list() {
    if (impl_ != nullptr)
        impl_->entries.clear();
    if (!isOpen())
        return false;
    Impl& impl = *impl_;
    impl.resetTransfer();
    impl.listing.clear();
    curl_easy_setopt(impl.easy, CURLOPT_WRITEFUNCTION, &Impl::collectListing);
    const bool ok = impl.perform(impl.base + impl.dirPath) == CURLE_OK;
    // A listing that broke off may end in half a line, and half a name can be the whole
    // name of another file: keep nothing rather than something wrong.
    if (ok)
        impl.entries = parseListing(impl.listing);
    impl.listing.clear();
    impl.listing.shrink_to_fit();
    return ok;
}

const std::vector<std::string>& ServerSession::entries() const {
    static const std::vector<std::string> none;
    return impl_ != nullptr ? impl_->entries : none;
}

bool ServerSession::download(std::string_view remoteName, const fs::path& localPath) {
    std::optional<StagedDownload::Staged> staged;
    if (!SessionAccess::fetch(*this, remoteName, localPath, staged))
        return false;
    if (staged)
        StagedDownload::commit({*staged});
    return true;
}

bool ServerSession::upload(const fs::path& localPath, std::string_view remoteName) {
    if (!isOpen() || !RemoteName::isPlainFileName(remoteName))
        return false;
    std::error_code error;
    const auto size = fs::file_size(localPath, error);
    if (error)
        return false;
    std::FILE* source = std::fopen(localPath.c_str(), "rb");
    if (source == nullptr)
        return false;

    Impl& impl = *impl_;
    impl.resetTransfer();
    impl.source = source;
    curl_easy_setopt(impl.easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(impl.easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(impl.easy, CURLOPT_READFUNCTION, &Impl::readSource);
    curl_easy_setopt(impl.easy, CURLOPT_READDATA, &impl);
    // libcurl fails the transfer when fewer bytes went out than announced, and when the
    // server's closing reply is not a success.
    const bool ok = impl.perform(impl.urlFor(remoteName)) == CURLE_OK;
    impl.resetTransfer();
    impl.source = nullptr;
    std::fclose(source);
    return ok;
}

void ServerSession::close() {
    impl_.reset();
}

bool SessionAccess::fetch(ServerSession& session, std::string_view remoteName,
                          const fs::path& localPath,
                          std::optional<StagedDownload::Staged>& staged) {
    staged.reset();
    if (session.impl_ == nullptr)
        return false;
    return session.impl_->fetch(remoteName, localPath, staged);
}

} // namespace quendelin
