// Table-driven CRC-32 (reflected polynomial 0xEDB88320), the checksum the update packages are checked with.
#include "text/Crc32.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

namespace vexo {

namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;
constexpr std::uint32_t kCrcInversion = 0xFFFFFFFFu;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? kCrcPolynomial ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Closes the descriptor on every way out.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    crc ^= kCrcInversion;
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return crc ^ kCrcInversion;
}

std::uint32_t FileCrc32(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return 0;
    std::vector<unsigned char> block(kCrcBlockSize);
    std::uint32_t crc = 0;
    for (;;) {
        const ssize_t got = ::read(file.Get(), block.data(), block.size());
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // A checksum over part of the file would be a wrong one; report failure the only way there is.
            return 0;
        }
        crc = Crc32Update(crc, block.data(), static_cast<std::size_t>(got));
    }
    return crc;
}

}  // namespace vexo
