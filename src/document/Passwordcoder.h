#pragma once

#include <string>
#include <string_view>

// Keeps a stored password from being read at a glance. No key: this is not
// encryption. Every byte becomes two lowercase hex digits, then the digit
// string is reversed ("abc" -> "616263" -> "362616").
std::string EncodePassword(std::string_view text);

// Inverse of EncodePassword. Lenient like the original reader: a lone last
// digit is a byte of its own, a pair is read as far as it is hexadecimal.
std::string DecodePassword(std::string_view text);
