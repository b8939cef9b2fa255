// The full HTTP client on libcurl. Each client owns one easy handle (request settings, cookie store) and one multi
// handle (the open connections). Transfers are driven by the client's own loop so that the read limit ("no byte
// for that long") is measured to the millisecond from the last byte received; libcurl's low-speed check counts
// whole seconds of an averaged transfer speed instead.
#include "net/HttpClient.h"

#include <curl/curl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace vexo {

namespace {

using TClock = std::chrono::steady_clock;

// Longest single wait inside the transfer loop; libcurl shortens it for its own timers.
constexpr int kPollSliceMs = 1000;
constexpr char kHttpOnly[] = "http";
constexpr char kHttpAndHttps[] = "http,https";
constexpr std::string_view kHeaderBlockEnd = "\r\n\r\n";
constexpr std::string_view kCookieKey = "cookie";
// Blocks from this size on get a mapping of their own (see InitNetwork).
constexpr std::size_t kLargeBlockBytes = 512 * 1024;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return AsciiLower(c); });
    return out;
}

bool IsHeaderName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && c != ':';
    });
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Host part of a URL without port; empty when the URL cannot be parsed.
std::string HostOf(const std::string& url) {
    std::string host;
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        return host;
    }
    char* part = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        curl_free(part);
    }
    curl_url_cleanup(parsed);
    return host;
}

THttpErrorKind KindOf(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return THttpErrorKind::Connect;
        case CURLE_OPERATION_TIMEDOUT:
            return THttpErrorKind::Timeout;
        case CURLE_TOO_MANY_REDIRECTS:
            return THttpErrorKind::TooManyRedirects;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return THttpErrorKind::Protocol;
        case CURLE_FILESIZE_EXCEEDED:
            return THttpErrorKind::TooLarge;
        default:
            return THttpErrorKind::Other;
    }
}

bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

template <typename T>
void SetOption(CURL* easy, CURLoption option, T value) {
    CURLcode code = curl_easy_setopt(easy, option, value);
    if (code != CURLE_OK) {
        throw EHttpError(THttpErrorKind::Other, std::string("HTTP client setting refused: ") + curl_easy_strerror(code),
                         code, 0);
    }
}

THttpSettings SiteSettings(int authRetries) {
    THttpSettings settings;
    settings.connectTimeoutMs = kSiteTimeLimitMs;
    settings.readTimeoutMs = kSiteTimeLimitMs;
    settings.authRetries = authRetries;
    return settings;
}

THttpSettings SimpleSettings(std::string_view userAgent, int timeLimitMs) {
    THttpSettings settings;
    settings.followRedirects = false;
    settings.connectTimeoutMs = timeLimitMs;
    settings.readTimeoutMs = timeLimitMs;
    settings.overallTimeoutMs = kSimpleClientCeilingMs;
    settings.userAgent = std::string(userAgent);
    settings.keepCookies = false;
    settings.version = THttpVersion::Http10;
    settings.accept.clear();
    settings.anyStatusIsSuccess = true;
    settings.freshConnection = true;
    return settings;
}

constexpr int kBaiduAuthRetries = 20;
constexpr int kOtherEngineAuthRetries = 5;
constexpr int kContactPageTimeLimitMs = 90000;
constexpr int kRemoteConfigTimeLimitMs = 5000;

}  // namespace

namespace HttpPreset {

THttpSettings CaijiBaidu() {
    THttpSettings settings = SiteSettings(kBaiduAuthRetries);
    settings.tls = true;
    settings.verifyCertificate = false;  // public result pages; any certificate is accepted
    return settings;
}

THttpSettings Caiji360() {
    return SiteSettings(kOtherEngineAuthRetries);
}

THttpSettings CaijiSouGou() {
    return SiteSettings(kOtherEngineAuthRetries);
}

// Differs from the collector only in what its owner does: it sets the handed-over Cookie with SetHeader.
THttpSettings BaiduSiteThread() {
    return CaijiBaidu();
}

THttpSettings OtherSiteThread() {
    return SiteSettings(kOtherEngineAuthRetries);
}

THttpSettings BeiAn() {
    THttpSettings settings;
    settings.connectTimeoutMs = kIcpTimeLimitMs;
    settings.readTimeoutMs = kIcpTimeLimitMs;
    return settings;
}

// The update clients fetch no pages: they stay outside the page budget.
THttpSettings UpdateThread() {
    THttpSettings settings;
    settings.followRedirects = false;
    settings.userAgent = std::string(kUpdateUserAgent);
    settings.pageBudget = false;
    return settings;
}

THttpSettings DownIdHttp() {
    THttpSettings settings;
    settings.userAgent = std::string(kUpdateUserAgent);
    settings.pageBudget = false;
    return settings;
}

THttpSettings ContactPage() {
    return SimpleSettings(kFirefoxUserAgent, kContactPageTimeLimitMs);
}

THttpSettings RemoteConfig() {
    THttpSettings settings = SimpleSettings(kRemoteConfigUserAgent, kRemoteConfigTimeLimitMs);
    settings.pageBudget = false;
    return settings;
}

}  // namespace HttpPreset

void InitNetwork() {
    static std::once_flag once;
    std::call_once(once, [] {
        signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
#ifdef __GLIBC__
        // Page bodies and texts of many megabytes come and go on many threads. glibc raises its mmap threshold to
        // the size of every large block freed (up to 32 MiB), after which such blocks come from the threads' heaps,
        // which keep what is freed: the process grew by hundreds of megabytes that no page still used. A fixed
        // threshold keeps every large block in its own mapping, given back to the system when freed.
        mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargeBlockBytes));
#endif
    });
}

// State of one Get, shared with libcurl's callbacks.
struct THttpClient::TTransfer {
    CURL* easy = nullptr;
    const THttpSettings* settings = nullptr;
    const THttpProgress* progress = nullptr;
    std::string* body = nullptr;
    std::size_t bodyBytes = 0;
    std::size_t reservedBytes = 0;  // of the page budget, returned when the Get ends
    bool overBudget = false;
    long status = 0;       // status line of the latest answer in the chain
    bool began = false;    // progress begin delivered
    bool waiting = false;  // a request is out: the read limit runs
    TClock::time_point lastByte;
    std::optional<THttpErrorKind> abortKind;
    std::exception_ptr callbackError;
    std::string requestHeaders;  // header block of the latest request sent
    char errorText[CURL_ERROR_SIZE] = {};
};

void THttpClient::TEasyDeleter::operator()(void* easy) const {
    curl_easy_cleanup(easy);
}
void THttpClient::TMultiDeleter::operator()(void* multi) const {
    curl_multi_cleanup(multi);
}
void THttpClient::TListDeleter::operator()(curl_slist* list) const {
    curl_slist_free_all(list);
}

namespace {

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<THttpClient::TTransfer*>(user);
    std::string_view line(data, size * count);
    constexpr std::string_view kStatusPrefix = "HTTP/";
    if (line.substr(0, kStatusPrefix.size()) == kStatusPrefix) {
        std::size_t space = line.find(' ');
        long status = 0;
        for (std::size_t i = space == std::string_view::npos ? line.size() : space + 1;
             i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
            status = status * 10 + (line[i] - '0');
        }
        transfer.status = status;
    }
    return size * count;
}

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto& transfer = *static_cast<THttpClient::TTransfer*>(user);
    switch (type) {
        case CURLINFO_HEADER_OUT:
            // One block per request as a rule; a block split over several sends is joined.
            if (transfer.requestHeaders.size() >= kHeaderBlockEnd.size() &&
                transfer.requestHeaders.ends_with(kHeaderBlockEnd)) {
                transfer.requestHeaders.assign(data, size);
            } else {
                transfer.requestHeaders.append(data, size);
            }
            transfer.waiting = true;
            transfer.lastByte = TClock::now();
            break;
        case CURLINFO_HEADER_IN:
        case CURLINFO_DATA_IN:
        case CURLINFO_SSL_DATA_IN:
            transfer.lastByte = TClock::now();
            break;
        default:
            break;
    }
    return 0;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<THttpClient::TTransfer*>(user);
    const THttpSettings& settings = *transfer.settings;
    std::size_t length = size * count;
    if (!settings.anyStatusIsSuccess && !IsSuccessStatus(transfer.status)) {
        transfer.abortKind = THttpErrorKind::Status;  // the error page's body is not wanted
        return 0;
    }
    if (length > settings.maxBodyBytes - transfer.bodyBytes) {
        transfer.abortKind = THttpErrorKind::TooLarge;
        return 0;
    }
    if (settings.pageBudget) {
        if (!ReservePageBytes(transfer.bodyBytes, length)) {
            transfer.abortKind = THttpErrorKind::TooLarge;
            transfer.overBudget = true;
            return 0;
        }
        transfer.reservedBytes += length;
    }
    try {
        const THttpProgress& progress = *transfer.progress;
        if (!transfer.began) {
            transfer.began = true;
            if (progress.begin) {
                curl_off_t total = -1;
                if (curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total) != CURLE_OK ||
                    total < 0) {
                    total = kUnknownLength;
                }
                progress.begin(static_cast<std::int64_t>(total));
            }
        }
        transfer.body->append(data, length);
        transfer.bodyBytes += length;
        if (progress.progress) {
            progress.progress(static_cast<std::int64_t>(transfer.bodyBytes));
        }
    } catch (...) {
        transfer.callbackError = std::current_exception();
        return length == 0 ? 1 : 0;  // anything but length stops the transfer
    }
    return length;
}

// A new connection is being opened: its connect phase falls under the connect limit, not the read limit.
curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto& transfer = *static_cast<THttpClient::TTransfer*>(user);
    transfer.waiting = false;
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace

THttpClient::THttpClient(THttpSettings settings) : settings_(std::move(settings)) {
    InitNetwork();
    easy_.reset(curl_easy_init());
    multi_.reset(curl_multi_init());
    if (!easy_ || !multi_) {
        throw EHttpError(THttpErrorKind::Other, "HTTP client could not be created", 0, 0);
    }
    ApplySettings();
    ApplyHeaders();
}

THttpClient::~THttpClient() = default;

void THttpClient::ApplySettings() {
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    SetOption(easy, CURLOPT_HTTP_VERSION,
              settings_.version == THttpVersion::Http10 ? long{CURL_HTTP_VERSION_1_0} : long{CURL_HTTP_VERSION_1_1});
    SetOption(easy, CURLOPT_FOLLOWLOCATION, settings_.followRedirects ? 1L : 0L);
    SetOption(easy, CURLOPT_MAXREDIRS, static_cast<long>(settings_.maxRedirects));
    SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeoutMs));
    SetOption(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.overallTimeoutMs));
    SetOption(easy, CURLOPT_USERAGENT, settings_.userAgent.c_str());
    const char* protocols = settings_.tls ? kHttpAndHttps : kHttpOnly;
    SetOption(easy, CURLOPT_PROTOCOLS_STR, protocols);
    SetOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    SetOption(easy, CURLOPT_SSL_VERIFYPEER, settings_.verifyCertificate ? 1L : 0L);
    SetOption(easy, CURLOPT_SSL_VERIFYHOST, settings_.verifyCertificate ? 2L : 0L);
    if (settings_.keepCookies) {
        SetOption(easy, CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing read from disk
    }
    // Custom headers go with every request of a redirect chain, to other hosts as well (libcurl would drop a
    // custom Authorization there otherwise; the Cookie goes through CURLOPT_COOKIE, see ApplyHeaders).
    SetOption(easy, CURLOPT_UNRESTRICTED_AUTH, 1L);
    SetOption(easy, CURLOPT_FRESH_CONNECT, settings_.freshConnection ? 1L : 0L);
    SetOption(easy, CURLOPT_FORBID_REUSE, settings_.freshConnection ? 1L : 0L);
    // Fails at once on an announced length over the limit; the write callback catches unannounced ones.
    SetOption(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings_.maxBodyBytes));
    // The debug callback sees the exact request headers and every byte received (read limit).
    SetOption(easy, CURLOPT_VERBOSE, 1L);
    SetOption(easy, CURLOPT_DEBUGFUNCTION, &OnDebug);
    SetOption(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    SetOption(easy, CURLOPT_OPENSOCKETFUNCTION, &OnOpenSocket);
    SetOption(easy, CURLOPT_WRITEFUNCTION, &OnWrite);
    // No CURLOPT_PROXY: libcurl reads http_proxy / no_proxy from the environment for each new connection.
    // No CURLOPT_ACCEPT_ENCODING: no Accept-Encoding header, bodies arrive uncompressed.
}

void THttpClient::ApplyHeaders() {
    curl_slist* list = nullptr;
    auto add = [&list](const std::string& line) {
        curl_slist* extended = curl_slist_append(list, line.c_str());
        if (extended == nullptr) {
            curl_slist_free_all(list);
            throw std::bad_alloc();
        }
        list = extended;
    };
    // "Accept:" with nothing after it removes libcurl's own "Accept: */*".
    add(settings_.accept.empty() ? std::string("Accept:") : "Accept: " + settings_.accept);
    const char* cookie = nullptr;
    for (const auto& [key, header] : headers_) {
        if (key == kCookieKey) {
            cookie = header.second.c_str();
        } else {
            add(header.first + ": " + header.second);
        }
    }
    std::unique_ptr<curl_slist, TListDeleter> owned(list);
    SetOption(easy_.get(), CURLOPT_HTTPHEADER, list);
    headerList_ = std::move(owned);  // the previous list is freed only now that libcurl no longer points at it
    // A Cookie of the caller's goes through CURLOPT_COOKIE: libcurl joins it with the store's cookies into one
    // Cookie header (as a custom header it would be a second one) and sends it with every request of a chain.
    SetOption(easy_.get(), CURLOPT_COOKIE, cookie);
}

void THttpClient::SetHeader(const std::string& name, const std::string& value) {
    if (!IsHeaderName(name) || value.find_first_of("\r\n") != std::string::npos) {
        throw std::invalid_argument("invalid HTTP header: " + name);
    }
    std::string key = AsciiLower(name);
    if (value.empty()) {
        headers_.erase(key);
    } else {
        headers_[key] = {name, value};
    }
    ApplyHeaders();
}

std::string THttpClient::RequestHeader(std::string_view name) const {
    std::string wanted = AsciiLower(name);
    std::string_view block = lastRequestHeaders_;
    std::size_t lineStart = block.find("\r\n");  // skip the request line
    while (lineStart != std::string_view::npos) {
        lineStart += 2;
        std::size_t lineEnd = block.find("\r\n", lineStart);
        std::string_view line =
            block.substr(lineStart, lineEnd == std::string_view::npos ? lineEnd : lineEnd - lineStart);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && AsciiLower(line.substr(0, colon)) == wanted) {
            return std::string(TrimSpaces(line.substr(colon + 1)));
        }
        lineStart = lineEnd;
    }
    return {};
}

void THttpClient::Disconnect() {
    // The connections live in the multi handle; a new one starts with none. Cookies stay in the easy handle.
    CURLM* fresh = curl_multi_init();
    if (fresh == nullptr) {
        throw EHttpError(THttpErrorKind::Other, "HTTP client could not be reset", 0, 0);
    }
    multi_.reset(fresh);
}

void THttpClient::RunTransfer(TTransfer& transfer) {
    CURL* easy = easy_.get();
    CURLM* multi = multi_.get();
    CURLMcode added = curl_multi_add_handle(multi, easy);
    if (added != CURLM_OK) {
        throw EHttpError(THttpErrorKind::Other, std::string("HTTP transfer not started: ") + curl_multi_strerror(added),
                         0, 0);
    }
    CURLcode result = CURLE_OK;
    bool readTimedOut = false;
    std::optional<int> loopError;
    for (;;) {
        int running = 0;
        CURLMcode code = curl_multi_perform(multi, &running);
        if (code != CURLM_OK) {
            loopError = code;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
                done = true;
            }
        }
        if (done) {
            break;
        }
        int waitMs = kPollSliceMs;
        if (settings_.readTimeoutMs > 0 && transfer.waiting) {
            auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - transfer.lastByte);
            if (idle.count() >= settings_.readTimeoutMs) {
                readTimedOut = true;
                break;
            }
            waitMs = std::min<int>(waitMs, settings_.readTimeoutMs - static_cast<int>(idle.count()));
        }
        code = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
        if (code != CURLM_OK) {
            loopError = code;
            break;
        }
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(multi, easy);

    char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr) {
        lastUrl_ = effective;
        lastHost_ = HostOf(lastUrl_);
    }
    if (!transfer.requestHeaders.empty()) {
        lastRequestHeaders_ = transfer.requestHeaders;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) {
        status = transfer.status;
    }

    std::optional<EHttpError> failure = Failure(transfer, result, loopError, readTimedOut, status);
    if (!failure && !transfer.began && progress_.begin) {
        // A successful empty body has begin and end as well.
        curl_off_t total = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
        transfer.began = true;
        progress_.begin(total < 0 ? kUnknownLength : static_cast<std::int64_t>(total));
    }
    if (transfer.began && progress_.end) {
        progress_.end();
    }
    if (transfer.callbackError) {
        std::rethrow_exception(transfer.callbackError);
    }
    if (failure) {
        throw *failure;
    }
}

std::optional<EHttpError> THttpClient::Failure(const TTransfer& transfer, int curlCode, std::optional<int> loopError,
                                               bool readTimedOut, long status) const {
    const std::string where = " (" + lastUrl_ + ")";
    if (loopError) {
        return EHttpError(
            THttpErrorKind::Other,
            std::string("HTTP transfer failed: ") + curl_multi_strerror(static_cast<CURLMcode>(*loopError)) + where, 0,
            status);
    }
    if (readTimedOut) {
        return EHttpError(THttpErrorKind::Timeout,
                          "no data received for " + std::to_string(settings_.readTimeoutMs) + " ms" + where,
                          CURLE_OPERATION_TIMEDOUT, status);
    }
    if (transfer.abortKind == THttpErrorKind::Status) {
        return EHttpError(THttpErrorKind::Status, "HTTP status " + std::to_string(status) + where, 0, status);
    }
    if (transfer.overBudget) {
        return EHttpError(
            THttpErrorKind::TooLarge,
            "page bodies in flight would pass " + std::to_string(CurrentPageBudget().Total) + " bytes" + where,
            CURLE_FILESIZE_EXCEEDED, status);
    }
    if (transfer.abortKind == THttpErrorKind::TooLarge) {
        return EHttpError(THttpErrorKind::TooLarge,
                          "response body over " + std::to_string(settings_.maxBodyBytes) + " bytes" + where,
                          CURLE_FILESIZE_EXCEEDED, status);
    }
    if (curlCode != CURLE_OK) {
        const auto code = static_cast<CURLcode>(curlCode);
        std::string message = curl_easy_strerror(code);
        if (transfer.errorText[0] != '\0') {
            message += std::string(": ") + transfer.errorText;
        }
        return EHttpError(KindOf(code), message + where, curlCode, status);
    }
    if (!settings_.anyStatusIsSuccess && !IsSuccessStatus(status)) {
        return EHttpError(THttpErrorKind::Status, "HTTP status " + std::to_string(status) + where, 0, status);
    }
    return std::nullopt;
}

void THttpClient::Get(const std::string& url, std::string& buffer) {
    TTransfer transfer;
    transfer.easy = easy_.get();
    transfer.settings = &settings_;
    transfer.progress = &progress_;
    transfer.body = &buffer;
    transfer.lastByte = TClock::now();
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_URL, url.c_str());
    SetOption(easy, CURLOPT_HTTPGET, 1L);
    SetOption(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
    SetOption(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_DEBUGDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_OPENSOCKETDATA, static_cast<void*>(&transfer));

    const std::size_t originalSize = buffer.size();
    pageLease_.Release();
    // The body's share of the page budget is given back if the Get fails, and kept with the body if it succeeds.
    struct TBudgetShare {
        TTransfer& transfer;
        ~TBudgetShare() { ReleasePageBytes(transfer.reservedBytes); }
    } budgetShare{transfer};
    try {
        RunTransfer(transfer);
    } catch (...) {
        // A failed Get leaves no partial body behind.
        buffer.resize(originalSize);
        SetOption(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
        throw;
    }
    SetOption(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    pageLease_ = TPageLease(std::exchange(transfer.reservedBytes, 0));
}

std::string THttpClient::Get(const std::string& url) {
    std::string buffer;
    Get(url, buffer);
    return buffer;
}

}  // namespace vexo
