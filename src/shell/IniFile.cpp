#include "shell/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

// SimpleIni as Debian ships it keeps its template bodies behind SI_IMPLEMENTATION;
// this is the one translation unit that instantiates them, for plain bytes.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace {

// Loads `path` into `ini`; a missing or unreadable file leaves it empty.
void Load(CSimpleIniA& ini, const std::string& path) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
    ini.SetSpaces(false);
    if (ini.LoadFile(path.c_str()) < 0) ini.Reset();
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace

bool ParseInteger(const std::string& text, int& value) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return false;
    size_t e = text.find_last_not_of(" \t");
    std::string s = text.substr(b, e - b + 1);
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

std::string IniReadString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def) {
    CSimpleIniA ini;
    Load(ini, path);
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return v ? std::string(v) : def;
}

int IniReadInteger(const std::string& path, const std::string& section, const std::string& key, int def) {
    CSimpleIniA ini;
    Load(ini, path);
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    int value = def;
    if (v && ParseInteger(v, value)) return value;
    return def;
}

bool IniReadBool(const std::string& path, const std::string& section, const std::string& key, bool def) {
    return IniReadInteger(path, section, key, def ? 1 : 0) != 0;
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    CSimpleIniA ini;
    Load(ini, path);
    // A value cannot span lines in this format; a line break would start a
    // new key, so it is cut there.
    std::string oneLine = value.substr(0, value.find_first_of("\r\n"));
    if (ini.SetValue(section.c_str(), key.c_str(), oneLine.c_str()) < 0) return false;
    std::string text;
    if (ini.Save(text) < 0) return false;
    return WriteFileAtomically(path, WithCrLf(text));
}

bool IniWriteInteger(const std::string& path, const std::string& section, const std::string& key, int value) {
    return IniWriteString(path, section, key, std::to_string(value));
}

bool IniWriteBool(const std::string& path, const std::string& section, const std::string& key, bool value) {
    return IniWriteString(path, section, key, value ? "1" : "0");
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
    std::string tmp = path + ".tmp-" + std::to_string(getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // Keep the permissions of the file being replaced.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    const char* p = data.data();
    size_t left = data.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}
