#include "support/ProxyFetch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "text/Gbk.h"

namespace vexo::test {

THttpReply ProxyGet(std::uint16_t proxyPort, const std::string& url) {
    THttpReply reply;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(proxyPort);
    std::string received;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + url + " HTTP/1.0\r\nUser-Agent: vexo-test\r\n\r\n";
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0 && errno != EINTR)
                break;
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        char buffer[16 * 1024];
        while (true) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    const std::size_t headEnd = received.find("\r\n\r\n");
    if (!received.starts_with("HTTP/1.") || headEnd == std::string::npos)
        return reply;
    reply.head = received.substr(0, headEnd);
    reply.body = received.substr(headEnd + 4);
    reply.status = std::atoi(reply.head.c_str() + reply.head.find(' ') + 1);
    return reply;
}

std::string GbkQueryValue(const std::string& utf8) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : Utf8ToGbk(utf8)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ') {
            encoded += '+';
        } else if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0xF];
        }
    }
    return encoded;
}

}  // namespace vexo::test
