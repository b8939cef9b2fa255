// The full HTTP client: one long-lived client per owner thread, with a cookie store, redirect following, connect
// and read time limits, the headers of the last request, the address finally reached and progress events.
// Settings are a value the owner passes in; every owner of the system has a named preset below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "net/PageBudget.h"

struct curl_slist;

namespace vexo {

// User agents the system sends.
inline constexpr std::string_view kFirefoxUserAgent = "Mozilla/5.0 (Windows NT 6.1; rv:2.0) Gecko/20100101 Firefox/4.0";
inline constexpr std::string_view kUpdateUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr std::string_view kRemoteConfigUserAgent = "Mozilla/4.0 (compatible; Synapse)";

// The Accept header of every full-client request.
inline constexpr std::string_view kFullClientAccept = "text/html, */*";

inline constexpr int kMaxRedirects = 15;
inline constexpr int kSiteTimeLimitMs = 5000;        // connect and read limits of collectors and site threads
inline constexpr int kIcpTimeLimitMs = 5000;         // connect and read limits of the ICP lookup
inline constexpr int kFullClientCeilingMs = 120000;  // whole request, redirects included
inline constexpr int kSimpleClientCeilingMs = 300000;
inline constexpr int kDefaultAuthRetries = 3;
inline constexpr std::size_t kMaxBodyBytes = std::size_t{32} * 1024 * 1024;

// Announced total of a body whose length the server did not state (chunked or close-delimited).
inline constexpr std::int64_t kUnknownLength = -1;

enum class THttpVersion { Http10, Http11 };

struct THttpSettings {
    bool followRedirects = true;
    int maxRedirects = kMaxRedirects;  // the next redirect fails
    int connectTimeoutMs = 0;          // 0: no limit of the client's own
    int readTimeoutMs = 0;             // longest wait for the next byte; 0: no limit
    int overallTimeoutMs = kFullClientCeilingMs;
    std::string userAgent = std::string(kFirefoxUserAgent);
    // How often an authentication challenge would be answered. No owner supplies credentials, so a challenge
    // (401/407) is never answered and ends the request as a status error; the count is kept for the record.
    int authRetries = kDefaultAuthRetries;
    bool tls = false;               // https allowed (also on redirects); without it https fails
    bool verifyCertificate = true;  // only meaningful with tls
    bool keepCookies = true;        // cookie store for the client's life
    THttpVersion version = THttpVersion::Http11;
    std::string accept = std::string(kFullClientAccept);  // empty: no Accept header at all
    bool anyStatusIsSuccess = false;                      // false: a final status outside 2xx is an error
    bool freshConnection = false;                         // a new connection for every request, closed after it
    std::size_t maxBodyBytes = kMaxBodyBytes;
    bool pageBudget = true;  // the body counts toward the process-wide budget of page bodies (net/PageBudget.h)
};

// One preset per owner of a client.
namespace HttpPreset {
THttpSettings CaijiBaidu();       // Baidu result collector
THttpSettings Caiji360();         // 360 result collector
THttpSettings CaijiSouGou();      // Sogou result collector
THttpSettings BaiduSiteThread();  // company-site thread started by the Baidu collector
THttpSettings OtherSiteThread();  // company-site threads started by the 360 and Sogou collectors
THttpSettings BeiAn();            // ICP filing lookup
THttpSettings UpdateThread();     // version check
THttpSettings DownIdHttp();       // package download
THttpSettings ContactPage();      // SimpleGet: contact page of a company site
THttpSettings RemoteConfig();     // SimpleGetStream: remote configuration
}  // namespace HttpPreset

enum class THttpErrorKind {
    Connect,  // refused, unreachable, name not resolved
    Timeout,  // connect limit, read limit or overall ceiling
    Status,   // final status outside 2xx
    TooManyRedirects,
    Protocol,  // a scheme the client may not use (https without TLS, ftp, ...)
    TooLarge,  // body over the size limit, or over what the page budget has left
    Other,
};

class EHttpError : public std::runtime_error {
  public:
    EHttpError(THttpErrorKind kind, const std::string& message, int curlCode, long status)
        : std::runtime_error(message), kind_(kind), curlCode_(curlCode), status_(status) {}

    THttpErrorKind Kind() const { return kind_; }
    int CurlCode() const { return curlCode_; }  // 0 when the transfer itself succeeded
    long Status() const { return status_; }     // last HTTP status received, 0 if none

  private:
    THttpErrorKind kind_;
    int curlCode_;
    long status_;
};

// Progress of the body of the final answer, called on the thread running Get: begin once with the announced
// length (kUnknownLength when not announced), progress after every piece with the bytes so far, end once after
// the transfer (also when it failed after begin). A failed request before any body byte calls none of them.
struct THttpProgress {
    std::function<void(std::int64_t total)> begin;
    std::function<void(std::int64_t received)> progress;
    std::function<void()> end;
};

// Program-wide network set-up: call once, before starting threads. Initialises the HTTP library, ignores SIGPIPE
// (a peer closing a socket must not end the process) and has the allocator give large blocks (page bodies) back to
// the system when they are freed. Safe to call more than once.
void InitNetwork();

class THttpClient {
  public:
    explicit THttpClient(THttpSettings settings);
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // GET with redirects as configured; appends the body to buffer (callers empty it first). Throws EHttpError.
    void Get(const std::string& url, std::string& buffer);
    std::string Get(const std::string& url);

    // Address of the last request after redirects: whole URL, and host name without port.
    const std::string& LastUrl() const { return lastUrl_; }
    const std::string& LastHost() const { return lastHost_; }

    // Value of a header of the last request sent (names compared case-insensitively); empty when absent.
    std::string RequestHeader(std::string_view name) const;

    // Sends the header with every later request; an empty value removes it.
    void SetHeader(const std::string& name, const std::string& value);

    // The page-budget share of the last body fetched, for a caller that keeps working on the body or its text;
    // otherwise the client gives it back when the next Get starts or the client ends.
    TPageLease TakePageLease() { return std::move(pageLease_); }

    // Closes the open connections; the next Get opens a new one. The cookie store stays.
    void Disconnect();

    void SetProgress(THttpProgress progress) { progress_ = std::move(progress); }
    const THttpSettings& Settings() const { return settings_; }

    struct TTransfer;  // state of one Get, seen by the library's callbacks

  private:
    struct TEasyDeleter {
        void operator()(void* easy) const;
    };
    struct TMultiDeleter {
        void operator()(void* multi) const;
    };
    struct TListDeleter {
        void operator()(curl_slist* list) const;
    };

    void ApplySettings();
    void ApplyHeaders();
    void RunTransfer(TTransfer& transfer);
    std::optional<EHttpError> Failure(const TTransfer& transfer, int curlCode, std::optional<int> loopError,
                                      bool readTimedOut, long status) const;

    THttpSettings settings_;
    std::unique_ptr<void, TEasyDeleter> easy_;
    std::unique_ptr<void, TMultiDeleter> multi_;                          // holds the open connections
    std::map<std::string, std::pair<std::string, std::string>> headers_;  // lower-case name -> (name, value)
    std::unique_ptr<curl_slist, TListDeleter> headerList_;
    THttpProgress progress_;
    std::string lastUrl_;
    std::string lastHost_;
    std::string lastRequestHeaders_;
    TPageLease pageLease_;  // of the last body fetched
};

}  // namespace vexo
