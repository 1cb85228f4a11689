#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// CP932 (Shift_JIS) helpers shared by every scanner and by the UI boundary.

// Lead byte of a double-byte CP932 character: 0x81-0x9F or 0xE0-0xFC.
inline bool IsSjisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Byte length of the character that starts at `pos` (1 or 2; 1 for a lead
// byte that ends the text).
inline std::size_t SjisCharLen(std::string_view text, std::size_t pos) {
    return (IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) ? 2 : 1;
}

// CP932 bytes to UTF-8. Bytes that do not form a CP932 character become U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

// UTF-8 to CP932. Characters CP932 cannot hold are dropped; `lossy` (when
// given) tells whether that happened.
std::string Utf8ToCp932(std::string_view utf8, bool* lossy = nullptr);
