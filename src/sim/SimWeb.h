// A simulated web on the loopback interface: one HTTP/1.x server on 127.0.0.1 that serves virtual hosts from
// handler functions and also answers as a forward proxy (absolute-URI requests), so clients routed to it through
// `http_proxy` keep real-looking host names. It logs every request. Plain C++ and POSIX sockets, no test
// framework, so a demo program can run it as well.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vexo::sim {

using THeaders = std::vector<std::pair<std::string, std::string>>;

// One request as the server read it.
struct TSimRequest {
    std::chrono::steady_clock::time_point time;  // when its header block was complete
    std::uint64_t connectionId = 0;              // 1, 2, ... in accept order; equal ids mean a reused connection
    int indexOnConnection = 0;                   // 0 for the first request of a connection
    std::string method;
    std::string target;     // as on the request line
    bool viaProxy = false;  // absolute-URI request line ("GET http://host/path HTTP/1.1")
    std::string host;       // lower case, without port: from the absolute URI, else from the Host header
    std::string path;       // without query
    std::string pathAndQuery;
    std::string version;  // "HTTP/1.0" or "HTTP/1.1"
    THeaders headers;     // in the order received

    // First value of the header (name case-insensitive), or nothing.
    std::optional<std::string> Header(std::string_view name) const;
    int HeaderCount(std::string_view name) const;
};

enum class TBodyFraming { ContentLength, Chunked, CloseDelimited };

inline constexpr int kStallForever = -1;  // waits until the server stops

struct TSimResponse {
    int status = 200;
    std::string reason;  // empty: the usual phrase for the status
    THeaders headers;    // framing headers (Content-Length, Transfer-Encoding, Connection) are added by the server
    std::string body;
    TBodyFraming framing = TBodyFraming::ContentLength;
    bool closeConnection = false;  // close after this answer even when the client wants keep-alive
    int delayBeforeHeadersMs = 0;  // kStallForever: the request is read but never answered
    int delayAfterHeadersMs = 0;   // kStallForever: headers are sent, the body never comes
    int dripIntervalMs = 0;        // > 0: the body goes out one byte at a time with this pause before each byte
    std::size_t chunkSize = 0;     // Chunked: bytes per chunk, 0 for one chunk
    // A body made piece by piece instead of `body` (pages too large to hold, or endless): called with 0, 1, 2, ...
    // until it returns false; each piece goes out as soon as it is made (one chunk each with Chunked framing),
    // with pieceIntervalMs before every piece but the first. With ContentLength framing announcedLength is sent
    // as the length, whatever the pieces add up to. The connection is closed after such a body.
    std::function<bool(std::size_t index, std::string& piece)> bodyPieces;
    int pieceIntervalMs = 0;
    std::size_t announcedLength = 0;

    static TSimResponse Html(std::string body, std::string_view charset = "utf-8");
    static TSimResponse Redirect(std::string location, int status = 302);
    static TSimResponse Status(int status, std::string body = {});
    TSimResponse& AddHeader(std::string name, std::string value);
};

using TSimHandler = std::function<TSimResponse(const TSimRequest&)>;

inline constexpr std::string_view kAnyHost = "*";
inline constexpr std::string_view kAnyPath = "*";

class TSimWeb {
  public:
    // Listens on 127.0.0.1 at an ephemeral port and serves at once.
    TSimWeb();
    // Stops: stalled answers are released, open connections are shut, every thread is joined.
    ~TSimWeb();
    TSimWeb(const TSimWeb&) = delete;
    TSimWeb& operator=(const TSimWeb&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>": the value for http_proxy, and the base of direct requests.
    std::string BaseUrl() const;

    // Handler for (host, path); host and path may be kAnyHost / kAnyPath. Lookup order: host and path, host and
    // any path, any host and path, any host and any path; otherwise 404. A later registration replaces one with
    // the same key.
    void Handle(std::string_view host, std::string_view path, TSimHandler handler);
    void Serve(std::string_view host, std::string_view path, TSimResponse response);

    std::vector<TSimRequest> Requests() const;
    // Logged requests to (host, path); kAnyHost / kAnyPath match every host / path.
    std::vector<TSimRequest> RequestsTo(std::string_view host, std::string_view path) const;
    void ClearRequests();
    std::uint64_t ConnectionCount() const;  // accepted so far
    // When the last request was read; the server's start until the first one.
    std::chrono::steady_clock::time_point LastRequestTime() const;

    void Stop();

  private:
    struct TConnection;

    void AcceptLoop();
    void ServeConnection(TConnection& connection);
    TSimResponse Answer(const TSimRequest& request) const;
    bool Wait(int milliseconds);  // false when the server stopped meanwhile
    void ReapFinished();

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::map<std::pair<std::string, std::string>, TSimHandler> handlers_;
    std::vector<TSimRequest> log_;
    std::uint64_t connectionCount_ = 0;
    std::chrono::steady_clock::time_point lastRequest_ = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<TConnection>> connections_;
};

// Routes the process's plain-http traffic through a proxy for its lifetime and restores the environment after:
// sets http_proxy (unset when empty) and no_proxy (unset when empty), clears https_proxy and all_proxy (both
// spellings of each). libcurl reads them whenever it opens a connection.
class TProxyEnvironment {
  public:
    explicit TProxyEnvironment(const std::string& proxyUrl, const std::string& noProxy = {});
    ~TProxyEnvironment();
    TProxyEnvironment(const TProxyEnvironment&) = delete;
    TProxyEnvironment& operator=(const TProxyEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vexo::sim
