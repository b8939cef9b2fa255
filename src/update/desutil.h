// Single DES (ECB) of the remote configuration file, and its envelope: the encrypted blocks followed by the plain
// text's length as a 32-bit little-endian number.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexo {

using TDesBlock = std::array<std::uint8_t, 8>;

// The key every configuration file is encrypted with.
inline constexpr std::string_view kConfigKey = "qmv3k7tpx";

// Bytes of the trailer that holds the plain text's length.
inline constexpr std::size_t kEnvelopeTrailerBytes = 4;
inline constexpr std::size_t kDesBlockBytes = 8;

// The key text folded into 8 key bytes: character i (counted from 1) is added onto byte i mod 8, modulo 256.
TDesBlock FoldDesKey(std::string_view key);

// One block through DES under the folded key (the parity bit of each key byte is ignored). Decryption applies
// the sixteen subkeys in reverse order; encryption makes the files DesDecodeStream reads.
TDesBlock DesDecryptBlock(const TDesBlock& block, std::string_view key);
TDesBlock DesEncryptBlock(const TDesBlock& block, std::string_view key);

// Decodes an envelope into `output`. An empty key leaves `output` untouched. Otherwise `output` is replaced by the
// plain text, or emptied when the envelope is malformed: shorter than its trailer, blocks not a multiple of 8
// bytes, or a stated length larger than the decrypted bytes. True when a plain text came out.
bool DesDecodeStream(std::string_view input, std::string& output, std::string_view key);

// The envelope of a plain text: the text padded with zero bytes to whole blocks, encrypted, then its length.
// Texts of 4 GiB or more cannot be stated in the trailer: std::length_error.
std::string DesEncodeStream(std::string_view plain, std::string_view key);

}  // namespace vexo
