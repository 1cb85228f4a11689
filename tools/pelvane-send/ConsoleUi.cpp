#include "ConsoleUi.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "shell/Codec.h"

namespace {

// Code points of a UTF-8 text, a fair measure of its width on a terminal.
std::size_t Utf8Length(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

// The first `width` code points of `text`.
std::string Utf8Prefix(const std::string& text, std::size_t width) {
    std::size_t n = 0, i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (n == width) break;
            ++n;
        }
    }
    return text.substr(0, i);
}

int TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
    return 80;
}

void WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

const char* ButtonName(MessageResult r) {
    switch (r) {
        case MessageResult::Ok:
            return "OK";
        case MessageResult::Cancel:
            return "Cancel";
        case MessageResult::Yes:
            return "Yes";
        case MessageResult::No:
            return "No";
    }
    return "OK";
}

char ButtonKey(MessageResult r) {
    switch (r) {
        case MessageResult::Ok:
            return 'o';
        case MessageResult::Cancel:
            return 'c';
        case MessageResult::Yes:
            return 'y';
        case MessageResult::No:
            return 'n';
    }
    return 'o';
}

}  // namespace

TConsole::TConsole(bool quiet, const std::atomic<bool>* cancelled)
    : quiet_(quiet),
      stdinTty_(::isatty(STDIN_FILENO) == 1),
      stderrTty_(::isatty(STDERR_FILENO) == 1),
      cancelled_(cancelled) {}

void TConsole::ClearLocked() {
    if (barDrawn_) {
        WriteAll(STDERR_FILENO, "\r\x1b[K");
        barDrawn_ = false;
    }
}

void TConsole::DrawLocked() {
    if (!barShown_ || quiet_ || !stderrTty_) return;
    const int columns = TerminalColumns() - 1;
    std::string counter = barMax_ > 0 ? " " + std::to_string(barPos_) + "/" + std::to_string(barMax_) : "";
    int barWidth = std::clamp(columns / 3, 10, 40);
    std::string bar = "[";
    int filled = barMax_ > 0 ? static_cast<int>(static_cast<long long>(barWidth) * barPos_ / barMax_) : 0;
    filled = std::clamp(filled, 0, barWidth);
    bar += std::string(static_cast<std::size_t>(filled), '#');
    bar += std::string(static_cast<std::size_t>(barWidth - filled), '-');
    bar += "]";
    int room = columns - static_cast<int>(bar.size() + counter.size()) - 1;
    std::string label = barLabel_;
    if (room < 1)
        label.clear();
    else if (Utf8Length(label) > static_cast<std::size_t>(room))
        label = Utf8Prefix(label, room);
    WriteAll(STDERR_FILENO, "\r" + bar + counter + (label.empty() ? "" : " " + label) + "\x1b[K");
    barDrawn_ = true;
}

void TConsole::WriteLocked(const std::string& text) {
    ClearLocked();
    WriteAll(STDERR_FILENO, text);
    DrawLocked();
}

void TConsole::Error(const std::string& line) {
    std::lock_guard lock(mutex_);
    WriteLocked("pelvane-send: " + line + "\n");
}

void TConsole::Note(const std::string& line) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    WriteLocked("pelvane-send: " + line + "\n");
}

void TConsole::Message(const std::string& captionCp932, const std::string& textCp932) {
    std::string text = Cp932ToUtf8(textCp932);
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::string caption = Cp932ToUtf8(captionCp932);
    Error(caption.empty() ? text : caption + ": " + text);
}

void TConsole::ProgressStart(const std::string& label, int maximum) {
    std::lock_guard lock(mutex_);
    barShown_ = true;
    barLabel_ = label;
    barMax_ = std::max(maximum, 0);
    barPos_ = 0;
    ClearLocked();
    DrawLocked();
}

void TConsole::ProgressLabel(const std::string& label) {
    std::lock_guard lock(mutex_);
    barLabel_ = label;
    DrawLocked();
}

void TConsole::ProgressRange(int maximum) {
    std::lock_guard lock(mutex_);
    barMax_ = std::max(maximum, 0);
    DrawLocked();
}

void TConsole::ProgressPosition(int position) {
    std::lock_guard lock(mutex_);
    barPos_ = std::max(position, 0);
    DrawLocked();
}

void TConsole::ProgressEnd() {
    std::lock_guard lock(mutex_);
    ClearLocked();
    barShown_ = false;
}

MessageResult TConsole::Ask(const std::string& captionCp932, const std::string& textCp932,
                            const std::vector<MessageResult>& buttons, MessageResult defaultButton) {
    auto cancelAnswer = [&]() {
        return std::find(buttons.begin(), buttons.end(), MessageResult::Cancel) != buttons.end()
                   ? MessageResult::Cancel
                   : defaultButton;
    };
    std::string text = Cp932ToUtf8(textCp932);
    std::replace(text.begin(), text.end(), '\r', ' ');
    const std::string caption = Cp932ToUtf8(captionCp932);
    std::lock_guard lock(mutex_);
    ClearLocked();
    if (!stdinTty_) {
        WriteAll(STDERR_FILENO, "pelvane-send: " + (caption.empty() ? "" : caption + ": ") + text +
                                    "\n[answered " + ButtonName(defaultButton) +
                                    ": standard input is not a terminal]\n");
        DrawLocked();
        return defaultButton;
    }
    std::string prompt;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        std::string name = ButtonName(buttons[i]);
        prompt += (i ? " / " : "") + std::string("[") +
                  static_cast<char>(std::toupper(ButtonKey(buttons[i]))) + "]" + name.substr(1);
    }
    prompt += " (Enter: " + std::string(ButtonName(defaultButton)) + ")? ";
    WriteAll(STDERR_FILENO, (caption.empty() ? "" : caption + "\n") + text + "\n");
    MessageResult answer = defaultButton;
    while (true) {
        WriteAll(STDERR_FILENO, prompt);
        std::string line;
        bool eof = false;
        while (true) {
            if (cancelled_ && cancelled_->load()) {
                WriteAll(STDERR_FILENO, "\n");
                DrawLocked();
                return cancelAnswer();
            }
            pollfd p{STDIN_FILENO, POLLIN, 0};
            int r = ::poll(&p, 1, 200);
            if (r < 0 && errno != EINTR) {
                eof = true;
                break;
            }
            if (r <= 0) continue;
            char c = 0;
            ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                eof = true;
                break;
            }
            if (c == '\n') break;
            line += c;
        }
        if (eof) {
            WriteAll(STDERR_FILENO, "\n");
            break;
        }
        auto first = std::find_if(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; });
        if (first == line.end()) break;
        const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(*first)));
        auto it = std::find_if(buttons.begin(), buttons.end(),
                               [key](MessageResult b) { return ButtonKey(b) == key; });
        if (it != buttons.end()) {
            answer = *it;
            break;
        }
    }
    DrawLocked();
    return answer;
}

MessageResult TConsoleUiServices::ShowMessage(MessageKind kind, const std::string& caption,
                                              const std::string& text) {
    switch (kind) {
        case MessageKind::ConfirmYesNo:
            return console_.Ask(caption, text, {MessageResult::Yes, MessageResult::No}, MessageResult::No);
        case MessageKind::YesNoCancel:
            return console_.Ask(caption, text, {MessageResult::Yes, MessageResult::No, MessageResult::Cancel},
                                MessageResult::Yes);
        case MessageKind::YesNoCancelDefaultNo:
            return console_.Ask(caption, text, {MessageResult::Yes, MessageResult::No, MessageResult::Cancel},
                                MessageResult::No);
        case MessageKind::OkCancel:
            return console_.Ask(caption, text, {MessageResult::Ok, MessageResult::Cancel}, MessageResult::Ok);
        case MessageKind::Info:
        case MessageKind::ResultWithLogButton:
        case MessageKind::Error:
            console_.Message(caption, text);
            return MessageResult::Ok;
    }
    return MessageResult::Ok;
}

void TConsoleUiServices::ProgressOpen(const std::string& caption, const std::string& label) {
    minimum_ = 0;
    console_.ProgressStart(Cp932ToUtf8(label.empty() ? caption : label), 0);
}

void TConsoleUiServices::ProgressSetRange(int minimum, int maximum) {
    minimum_ = minimum;
    console_.ProgressRange(maximum - minimum);
}

void TConsoleUiServices::ProgressSetPosition(int position) { console_.ProgressPosition(position - minimum_); }

void TConsoleUiServices::ProgressSetCaption(const std::string&) {}

void TConsoleUiServices::ProgressSetLabel(const std::string& label) {
    console_.ProgressLabel(Cp932ToUtf8(label));
}

void TConsoleUiServices::ProgressClose() { console_.ProgressEnd(); }
