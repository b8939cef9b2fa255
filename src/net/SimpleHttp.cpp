// The simple client is the full client with the simple presets: the presets carry every difference (HTTP/1.0,
// fresh connection, no cookies, no redirects, no Accept header, any status is an answer, plain http only).
#include "net/SimpleHttp.h"

#include "net/HttpClient.h"
#include "net/PageText.h"

namespace vexo {

namespace {

// The body, or nothing when the request failed; failures are the callers' false result, not errors.
bool FetchBody(const THttpSettings& settings, const std::string& url, std::string& body, TPageLease* lease = nullptr) {
    try {
        THttpClient client(settings);
        client.Get(url, body);
        if (lease != nullptr)
            *lease = client.TakePageLease();
        return true;
    } catch (const EHttpError&) {
        return false;
    }
}

}  // namespace

bool SimpleGet(const std::string& url, std::vector<std::string>& lines) {
    std::string body;
    if (!FetchBody(HttpPreset::ContactPage(), url, body)) {
        return false;
    }
    lines = SplitBodyLines(body);
    return true;
}

bool SimpleGetText(const std::string& url, std::string& text, TPageLease& lease) {
    std::string body;
    TPageLease bodyLease;
    if (!FetchBody(HttpPreset::ContactPage(), url, body, &bodyLease)) {
        return false;
    }
    text = DecodePageText(body, true);
    lease = std::move(bodyLease);
    return true;
}

bool SimpleGetStream(const std::string& url, std::string& stream) {
    std::string body;
    if (!FetchBody(HttpPreset::RemoteConfig(), url, body)) {
        return false;
    }
    stream = std::move(body);
    return true;
}

}  // namespace vexo
