#pragma once

#include <string>

// INI text files read and written one value at a time: every read loads the
// file, every write loads it, sets one value and saves it again, so values
// that another program wrote meanwhile are kept. Section and key names match
// without regard to case. A missing file, section or key gives the default.
// Values are CP932 bytes, passed through unchanged. Files are written with
// CR LF line ends, through a temporary file that replaces the old one, so a
// failed write leaves the previous file whole.

std::string IniReadString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def);

// A value that is not a decimal integer gives the default.
int IniReadInteger(const std::string& path, const std::string& section, const std::string& key, int def);

// Any integer other than 0 reads as true.
bool IniReadBool(const std::string& path, const std::string& section, const std::string& key, bool def);

// Returns false when the file could not be written.
bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);
bool IniWriteInteger(const std::string& path, const std::string& section, const std::string& key, int value);
bool IniWriteBool(const std::string& path, const std::string& section, const std::string& key, bool value);

// Parses a whole decimal integer (optional sign, surrounding blanks allowed);
// false when `text` is not one or does not fit an int.
bool ParseInteger(const std::string& text, int& value);

// Writes `data` to `path` through a temporary file in the same folder that is
// flushed and then renamed over the old file. Returns false (and leaves any
// old file untouched) when that fails.
bool WriteFileAtomically(const std::string& path, const std::string& data);
