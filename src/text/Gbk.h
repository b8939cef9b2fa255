// GBK (Windows code page 936) at the edges of the program. Text inside is UTF-8; GBK appears only where a file,
// a URL or a length rule of the system is defined in GBK bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexo {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// UTF-8 -> GBK bytes. A character without a GBK form, and every byte of a malformed UTF-8 sequence, becomes "?".
std::string Utf8ToGbk(std::string_view utf8);

// GBK bytes -> UTF-8. A byte (or byte pair) that is not valid GBK becomes "?".
std::string GbkToUtf8(std::string_view gbk);

// Byte length the UTF-8 text has in GBK; a character outside GBK counts as one byte (it would be "?").
std::size_t GbkLength(std::string_view utf8);

// The text with every character that has no GBK form replaced by "?" (what a round trip through GBK leaves).
std::string ToGbkRepertoire(std::string_view utf8);

// Decodes the well-formed UTF-8 sequence at the start of text into codePoint; returns its length in bytes, or 0
// when the text is empty or starts with a malformed sequence (overlong, surrogate, above U+10FFFF, truncated).
std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint);

// Length in bytes of the UTF-8 sequence that starts with this lead byte (1 for ASCII and for stray bytes).
std::size_t Utf8SequenceLength(unsigned char lead);

}  // namespace vexo
