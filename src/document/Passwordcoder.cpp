#include "document/Passwordcoder.h"

#include <algorithm>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string EncodePassword(std::string_view text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::string DecodePassword(std::string_view text) {
    std::string digits(text.rbegin(), text.rend());
    std::string out;
    out.reserve(digits.size() / 2 + 1);
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = HexValue(digits[i]);
        if (hi < 0) {
            out += '\0';
            continue;
        }
        int lo = i + 1 < digits.size() ? HexValue(digits[i + 1]) : -1;
        out += static_cast<char>(lo < 0 ? hi : hi * 16 + lo);
    }
    return out;
}
