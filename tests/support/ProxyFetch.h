// A plain HTTP/1.0 GET through a forward proxy on the loopback interface, with nothing of the program's own network
// code in the way: what a server under test answers, byte for byte.
#pragma once

#include <cstdint>
#include <string>

namespace vexo::test {

struct THttpReply {
    int status = 0;    // 0 when no status line came (no connection, or the server closed it at once)
    std::string head;  // the status line and the headers, without the blank line
    std::string body;
};

// GET `url` (an absolute http:// address) through the proxy at 127.0.0.1:`proxyPort`; the body runs to the end of
// the connection.
THttpReply ProxyGet(std::uint16_t proxyPort, const std::string& url);

// The query value of a keyword as the engines' collectors send it: GBK bytes, percent-encoded.
std::string GbkQueryValue(const std::string& utf8);

}  // namespace vexo::test
