// The loopback simulated web: an accept thread plus one thread per connection. Stop() raises a flag that ends
// every stall, shuts every open socket (which ends blocking reads and writes) and joins all threads.
#include "sim/SimWeb.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace vexo::sim {

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr int kListenBacklog = 64;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string HostWithoutPort(std::string_view authority) {
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        return Lower(authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1));
    }
    return Lower(authority.substr(0, authority.find(':')));
}

std::string_view ReasonFor(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool HasToken(const std::optional<std::string>& value, std::string_view token) {
    return value && Lower(*value).find(token) != std::string::npos;
}

std::string Hex(std::size_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    return out;
}

// Parses a complete header block (without the blank line). False on a malformed request line.
bool ParseRequest(std::string_view block, TSimRequest& request) {
    std::size_t lineEnd = block.find(kLineEnd);
    std::string_view requestLine = block.substr(0, lineEnd);
    std::size_t firstSpace = requestLine.find(' ');
    std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
        return false;
    }
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(Trim(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1)));
    request.version = std::string(requestLine.substr(lastSpace + 1));

    while (lineEnd != std::string_view::npos) {
        std::size_t start = lineEnd + kLineEnd.size();
        lineEnd = block.find(kLineEnd, start);
        std::string_view line = block.substr(start, lineEnd == std::string_view::npos ? lineEnd : lineEnd - start);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            request.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                         std::string(Trim(line.substr(colon + 1))));
        }
    }

    constexpr std::string_view kHttpScheme = "http://";
    if (Lower(std::string_view(request.target).substr(0, kHttpScheme.size())) == kHttpScheme) {
        request.viaProxy = true;
        std::string_view rest = std::string_view(request.target).substr(kHttpScheme.size());
        std::size_t authorityEnd = rest.find_first_of("/?");
        request.host = HostWithoutPort(rest.substr(0, authorityEnd));
        std::string pathAndQuery = authorityEnd == std::string_view::npos ? "" : std::string(rest.substr(authorityEnd));
        if (pathAndQuery.empty() || pathAndQuery.front() != '/') {
            pathAndQuery.insert(0, "/");
        }
        request.pathAndQuery = std::move(pathAndQuery);
    } else {
        request.pathAndQuery = request.target;
        request.host = HostWithoutPort(request.Header("Host").value_or(""));
    }
    request.path = request.pathAndQuery.substr(0, request.pathAndQuery.find('?'));
    return true;
}

}  // namespace

std::optional<std::string> TSimRequest::Header(std::string_view name) const {
    std::string wanted = Lower(name);
    for (const auto& [key, value] : headers) {
        if (Lower(key) == wanted) {
            return value;
        }
    }
    return std::nullopt;
}

int TSimRequest::HeaderCount(std::string_view name) const {
    std::string wanted = Lower(name);
    return static_cast<int>(std::count_if(headers.begin(), headers.end(),
                                          [&](const auto& header) { return Lower(header.first) == wanted; }));
}

TSimResponse TSimResponse::Html(std::string body, std::string_view charset) {
    TSimResponse response;
    response.body = std::move(body);
    response.headers.emplace_back("Content-Type", "text/html; charset=" + std::string(charset));
    return response;
}

TSimResponse TSimResponse::Redirect(std::string location, int status) {
    TSimResponse response;
    response.status = status;
    response.headers.emplace_back("Location", location);
    response.headers.emplace_back("Content-Type", "text/html");
    response.body = "<html><body>Moved to <a href=\"" + location + "\">here</a></body></html>";
    return response;
}

TSimResponse TSimResponse::Status(int status, std::string body) {
    TSimResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers.emplace_back("Content-Type", "text/html");
    return response;
}

TSimResponse& TSimResponse::AddHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

struct TSimWeb::TConnection {
    int fd = -1;  // guarded by mutex_; -1 once closed
    std::uint64_t id = 0;
    std::thread thread;
    std::atomic<bool> finished{false};
};

TSimWeb::TSimWeb() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || pipe2(wakeFds_, O_CLOEXEC) != 0) {
        throw std::runtime_error("simulated web: no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, kListenBacklog) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listenFd_);
        close(wakeFds_[0]);
        close(wakeFds_[1]);
        throw std::runtime_error("simulated web: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TSimWeb::~TSimWeb() {
    Stop();
}

std::string TSimWeb::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void TSimWeb::Handle(std::string_view host, std::string_view path, TSimHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_[{Lower(host), std::string(path)}] = std::move(handler);
}

void TSimWeb::Serve(std::string_view host, std::string_view path, TSimResponse response) {
    Handle(host, path, [response = std::move(response)](const TSimRequest&) { return response; });
}

std::vector<TSimRequest> TSimWeb::Requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<TSimRequest> TSimWeb::RequestsTo(std::string_view host, std::string_view path) const {
    std::lock_guard lock(mutex_);
    std::vector<TSimRequest> matching;
    for (const TSimRequest& request : log_) {
        const bool hostMatches = host == kAnyHost || request.host == Lower(host);
        const bool pathMatches = path == kAnyPath || request.path == path;
        if (hostMatches && pathMatches) {
            matching.push_back(request);
        }
    }
    return matching;
}

void TSimWeb::ClearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::uint64_t TSimWeb::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connectionCount_;
}

std::chrono::steady_clock::time_point TSimWeb::LastRequestTime() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

void TSimWeb::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !acceptThread_.joinable()) {
            return;
        }
        stopping_ = true;
        for (auto& connection : connections_) {
            if (connection->fd >= 0) {
                shutdown(connection->fd, SHUT_RDWR);
            }
        }
    }
    stopped_.notify_all();
    const char wake = 'x';
    [[maybe_unused]] ssize_t written = write(wakeFds_[1], &wake, 1);
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    // The accept thread is gone, so the list no longer grows.
    for (auto& connection : connections_) {
        if (connection->thread.joinable()) {
            connection->thread.join();
        }
    }
    connections_.clear();
    close(listenFd_);
    close(wakeFds_[0]);
    close(wakeFds_[1]);
    listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;
}

void TSimWeb::ReapFinished() {
    auto done = std::stable_partition(connections_.begin(), connections_.end(),
                                      [](const auto& connection) { return !connection->finished.load(); });
    for (auto it = done; it != connections_.end(); ++it) {
        (*it)->thread.join();
    }
    connections_.erase(done, connections_.end());
}

void TSimWeb::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // Headers and body go out in separate writes; without this, Nagle plus delayed ACK adds 40 ms to each.
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            close(fd);
            return;
        }
        ReapFinished();
        auto connection = std::make_unique<TConnection>();
        connection->fd = fd;
        connection->id = ++connectionCount_;
        TConnection* raw = connection.get();
        connections_.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { ServeConnection(*raw); });
    }
}

bool TSimWeb::Wait(int milliseconds) {
    std::unique_lock lock(mutex_);
    if (milliseconds == kStallForever) {
        stopped_.wait(lock, [this] { return stopping_; });
    } else if (milliseconds > 0) {
        stopped_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
    }
    return !stopping_;
}

TSimResponse TSimWeb::Answer(const TSimRequest& request) const {
    TSimHandler handler;
    {
        std::lock_guard lock(mutex_);
        const std::string any(kAnyHost);
        const std::string anyPath(kAnyPath);
        for (const auto& key : {std::pair{request.host, request.path}, std::pair{request.host, anyPath},
                                std::pair{any, request.path}, std::pair{any, anyPath}}) {
            auto found = handlers_.find(key);
            if (found != handlers_.end()) {
                handler = found->second;
                break;
            }
        }
    }
    if (!handler) {
        return TSimResponse::Status(404, "<html><body>Not Found</body></html>");
    }
    try {
        return handler(request);
    } catch (const std::exception& error) {
        return TSimResponse::Status(500, error.what());
    }
}

void TSimWeb::ServeConnection(TConnection& connection) {
    const int fd = connection.fd;  // written before the thread started; only this thread closes it
    std::string buffer;
    int index = 0;
    for (;;) {
        std::size_t headerEnd;
        bool readFailed = false;
        while ((headerEnd = buffer.find(kHeaderEnd)) == std::string::npos) {
            char chunk[kReadChunk];
            ssize_t received = recv(fd, chunk, sizeof chunk, 0);
            if (received < 0 && errno == EINTR) {
                continue;
            }
            if (received <= 0 || buffer.size() > kMaxHeaderBytes) {
                readFailed = true;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(received));
        }
        if (readFailed) {
            break;
        }
        TSimRequest request;
        request.time = std::chrono::steady_clock::now();
        request.connectionId = connection.id;
        request.indexOnConnection = index++;
        bool parsed = ParseRequest(std::string_view(buffer).substr(0, headerEnd), request);
        buffer.erase(0, headerEnd + kHeaderEnd.size());
        // A request body (not used by the clients under test) is skipped.
        std::size_t bodyLength = std::strtoull(request.Header("Content-Length").value_or("0").c_str(), nullptr, 10);
        while (buffer.size() < bodyLength) {
            char chunk[kReadChunk];
            ssize_t received = recv(fd, chunk, sizeof chunk, 0);
            if (received <= 0) {
                readFailed = true;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(received));
        }
        if (readFailed) {
            break;
        }
        buffer.erase(0, bodyLength);
        {
            std::lock_guard lock(mutex_);
            lastRequest_ = request.time;
            log_.push_back(request);
        }

        TSimResponse response;
        if (!parsed) {
            response = TSimResponse::Status(400);
            response.closeConnection = true;
        } else if (request.method == "CONNECT") {
            response = TSimResponse::Status(501);
            response.closeConnection = true;
        } else {
            response = Answer(request);
        }
        if (!Wait(response.delayBeforeHeadersMs)) {
            break;
        }

        const bool http10 = request.version == "HTTP/1.0";
        const bool clientKeepAlive = http10 ? (HasToken(request.Header("Connection"), "keep-alive") ||
                                               HasToken(request.Header("Proxy-Connection"), "keep-alive"))
                                            : !HasToken(request.Header("Connection"), "close");
        const bool keepAlive = clientKeepAlive && !response.closeConnection && !response.bodyPieces &&
                               response.framing != TBodyFraming::CloseDelimited;

        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           (response.reason.empty() ? std::string(ReasonFor(response.status)) : response.reason) +
                           std::string(kLineEnd);
        for (const auto& [name, value] : response.headers) {
            head += name + ": " + value + std::string(kLineEnd);
        }
        if (response.framing == TBodyFraming::ContentLength) {
            const std::size_t length = response.bodyPieces ? response.announcedLength : response.body.size();
            head += "Content-Length: " + std::to_string(length) + std::string(kLineEnd);
        } else if (response.framing == TBodyFraming::Chunked) {
            head += "Transfer-Encoding: chunked" + std::string(kLineEnd);
        }
        if (!keepAlive) {
            head += "Connection: close" + std::string(kLineEnd);
        } else if (http10) {
            head += "Connection: keep-alive" + std::string(kLineEnd);
        }
        head += kLineEnd;
        if (!SendAll(fd, head) || !Wait(response.delayAfterHeadersMs)) {
            break;
        }

        const bool headRequest = request.method == "HEAD";
        std::string_view body = headRequest ? std::string_view() : std::string_view(response.body);
        bool sent = true;
        auto sendPiece = [&](std::string_view piece) {
            if (response.dripIntervalMs <= 0) {
                return SendAll(fd, piece);
            }
            for (char byte : piece) {
                if (!Wait(response.dripIntervalMs) || !SendAll(fd, std::string_view(&byte, 1))) {
                    return false;
                }
            }
            return true;
        };
        if (response.bodyPieces && !headRequest) {
            const bool chunked = response.framing == TBodyFraming::Chunked;
            std::string piece;
            for (std::size_t index = 0; sent; ++index) {
                piece.clear();
                if (!response.bodyPieces(index, piece)) {
                    sent = !chunked || SendAll(fd, "0\r\n\r\n");
                    break;
                }
                if (index > 0 && !Wait(response.pieceIntervalMs)) {
                    sent = false;
                    break;
                }
                if (piece.empty()) {
                    continue;  // an empty chunk would end the body
                }
                sent = chunked ? SendAll(fd, Hex(piece.size()) + std::string(kLineEnd)) && SendAll(fd, piece) &&
                                     SendAll(fd, kLineEnd)
                               : SendAll(fd, piece);
            }
        } else if (response.framing == TBodyFraming::Chunked && !headRequest) {
            std::size_t step = response.chunkSize == 0 ? std::max<std::size_t>(body.size(), 1) : response.chunkSize;
            for (std::size_t offset = 0; sent && offset < body.size(); offset += step) {
                std::string_view piece = body.substr(offset, step);
                sent =
                    SendAll(fd, Hex(piece.size()) + std::string(kLineEnd)) && sendPiece(piece) && SendAll(fd, kLineEnd);
            }
            sent = sent && SendAll(fd, "0\r\n\r\n");
        } else {
            sent = sendPiece(body);
        }
        if (!sent || !keepAlive) {
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        shutdown(fd, SHUT_RDWR);
        close(fd);
        connection.fd = -1;
    }
    connection.finished = true;
}

TProxyEnvironment::TProxyEnvironment(const std::string& proxyUrl, const std::string& noProxy) {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        const char* value = std::getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        unsetenv(name);
    }
    if (!proxyUrl.empty()) {
        setenv("http_proxy", proxyUrl.c_str(), 1);
    }
    if (!noProxy.empty()) {
        setenv("no_proxy", noProxy.c_str(), 1);
    }
}

TProxyEnvironment::~TProxyEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

}  // namespace vexo::sim
