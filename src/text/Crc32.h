// CRC-32 as in zip files (reflected polynomial 0xEDB88320, initial value and final inversion 0xFFFFFFFF).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexo {

// Continues a CRC over more bytes: start with crc 0, feed blocks in order.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// CRC-32 of the file's bytes read in blocks of kCrcBlockSize; 0 when the file cannot be opened.
std::uint32_t FileCrc32(const std::string& path);

inline constexpr std::size_t kCrcBlockSize = 65521;

}  // namespace vexo
