#include "delivery/Debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"

namespace {

struct LogState {
    std::mutex mutex;
    std::string path;  // empty: Paths().logFile
    bool fileLogging = true;
    std::function<void(const std::string&)> windowAppend;
    std::function<void()> windowClear;
};

LogState& State() {
    static LogState state;
    return state;
}

// Length of the character at `pos`: 2 for a lead byte followed by a valid
// trail byte (0x40-0xFC but 0x7F), else 1, so a broken pair never hides a
// CR or LF as its "second byte".
std::size_t CharLength(std::string_view text, std::size_t pos) {
    if (!IsSjisLeadByte(static_cast<unsigned char>(text[pos])) || pos + 1 >= text.size()) return 1;
    unsigned char trail = static_cast<unsigned char>(text[pos + 1]);
    return (trail >= 0x40 && trail <= 0xFC && trail != 0x7F) ? 2 : 1;
}

constexpr std::string_view kSeparator = " / ";
constexpr std::string_view kLineEnd = "\r\n";

// `text` cut to at most `limit` bytes without splitting a double-byte character.
std::string_view CutAtCharBoundary(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t len = CharLength(text, pos);
        if (pos + len > limit) break;
        pos += len;
    }
    return text.substr(0, pos);
}

// The event text as it goes into a line: single-byte CR, LF and NUL become
// blanks (a trail byte is never one of them), then the text is cut so that
// prefix, text and line end fit the line buffer with its terminator.
std::string EventPart(const std::string& prefix, const std::string& eventText) {
    std::string text;
    text.reserve(eventText.size());
    for (std::size_t pos = 0; pos < eventText.size();) {
        std::size_t len = CharLength(eventText, pos);
        if (len == 1 && (eventText[pos] == '\r' || eventText[pos] == '\n' || eventText[pos] == '\0')) {
            text += ' ';
        } else {
            text.append(eventText, pos, len);
        }
        pos += len;
    }
    const std::size_t fixed = prefix.size() + kSeparator.size() + kLineEnd.size() + 1;
    const std::size_t room = fixed < kLogLineBufferSize ? kLogLineBufferSize - fixed : 0;
    return std::string(CutAtCharBoundary(text, room));
}

std::string EffectivePath(const LogState& state) { return state.path.empty() ? Paths().logFile : state.path; }

// Appends `line` in one write. False when the file can be neither opened nor created.
bool AppendToFile(const std::string& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0) fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return true;
}

}  // namespace

void SetLogPath(const std::string& path) {
    std::lock_guard lock(State().mutex);
    State().path = path;
}

std::string LogPath() {
    std::lock_guard lock(State().mutex);
    return EffectivePath(State());
}

void StartLog(const std::string& logPath) {
    std::function<void()> clear;
    {
        std::lock_guard lock(State().mutex);
        State().fileLogging = true;
        clear = State().windowClear;
    }
    if (!logPath.empty()) ::unlink(logPath.c_str());
    if (clear) clear();
}

void StartLog() { StartLog(LogPath()); }

void WriteLog(const std::string& logPath, const std::string& eventText) {
    const TClockTime now = ClockNow();
    const std::string stamp = FormatLogDateTime(now);
    const std::string event = EventPart(stamp, eventText);
    std::string line = stamp;
    line += kSeparator;
    line += event;

    LogState& state = State();
    std::function<void(const std::string&)> append;
    bool toFile = false;
    {
        std::lock_guard lock(state.mutex);
        append = state.windowAppend;
        toFile = state.fileLogging;
    }
    if (append) append(line);
    if (!toFile) return;

    line += kLineEnd;
    bool failed = false;
    {
        // One writer at a time: lines of two threads never interleave, and
        // the failure message is shown once.
        std::lock_guard lock(state.mutex);
        if (!state.fileLogging) return;
        if (logPath.empty() || !AppendToFile(logPath, line)) {
            state.fileLogging = false;
            failed = true;
        }
    }
    if (failed) ShowInfoMessage(4290, 4291);
}

void WriteLog(const std::string& eventText) { WriteLog(LogPath(), eventText); }

void SetFileLogging(bool on) {
    std::lock_guard lock(State().mutex);
    State().fileLogging = on;
}

bool FileLogging() {
    std::lock_guard lock(State().mutex);
    return State().fileLogging;
}

void SetLogWindow(std::function<void(const std::string& line)> append, std::function<void()> clear) {
    std::lock_guard lock(State().mutex);
    State().windowAppend = std::move(append);
    State().windowClear = std::move(clear);
}

std::string FormatLogDateTime(const TClockTime& t) {
    std::string text = FormatShortDate(t);
    if (t.hour == 0 && t.minute == 0 && t.second == 0 && t.millisecond == 0) return text;
    return text + " " + FormatLongTime(t);
}

std::string FormatLogLine(const TClockTime& t, const std::string& eventText) {
    const std::string stamp = FormatLogDateTime(t);
    std::string line = stamp;
    line += kSeparator;
    line += EventPart(stamp, eventText);
    line += kLineEnd;
    return line;
}
