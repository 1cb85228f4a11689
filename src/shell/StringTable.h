#pragma once

#include <string>

// The numbered user-visible texts (900 to 9988). Every message box, caption
// and default value that the application shows by number comes from here.

// CP932 bytes of string `id`; an empty string when the table has no such number.
const std::string& LoadStr(int id);

// Whether the table holds string `id`.
bool HasStr(int id);

// UTF-8 form of string `id`, exactly as written in the table.
const char* LoadStrUtf8(int id);
