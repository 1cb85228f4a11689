#pragma once

#include <cstdio>
#include <string>

// `utf8` as a JSON string literal, for the test tools that report to the
// Python checks.
inline std::string JsonText(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
