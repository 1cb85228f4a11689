#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "shell/UiServices.h"

// The terminal side of pelvane-send: every line it writes to standard error,
// the progress bar, and the questions a job asks. Safe to use from the send
// job's worker and the main thread at once. Texts handed in are UTF-8 unless
// a function says CP932.
class TConsole {
public:
    TConsole(bool quiet, const std::atomic<bool>* cancelled);

    bool Quiet() const { return quiet_; }
    bool StdinIsTerminal() const { return stdinTty_; }
    bool StderrIsTerminal() const { return stderrTty_; }

    // One line on standard error, after "pelvane-send: ". Errors are always
    // written; notes only when not quiet.
    void Error(const std::string& line);
    void Note(const std::string& line);

    // A box of the core: caption and text (CP932), written as "caption: text".
    void Message(const std::string& captionCp932, const std::string& textCp932);

    // The progress bar; drawn only when standard error is a terminal and the
    // run is not quiet. The label is UTF-8.
    void ProgressStart(const std::string& label, int maximum);
    void ProgressLabel(const std::string& label);
    void ProgressRange(int maximum);
    void ProgressPosition(int position);
    void ProgressEnd();

    // One of `buttons` for a question: asked on the terminal when standard
    // input is one, otherwise the default button. A cancel of the run (a
    // signal) answers Cancel when that is a choice, else the default.
    MessageResult Ask(const std::string& captionCp932, const std::string& textCp932,
                      const std::vector<MessageResult>& buttons, MessageResult defaultButton);

private:
    void WriteLocked(const std::string& text);  // clears the bar, writes, redraws
    void DrawLocked();
    void ClearLocked();

    std::mutex mutex_;
    bool quiet_;
    bool stdinTty_;
    bool stderrTty_;
    const std::atomic<bool>* cancelled_;
    bool barShown_ = false;
    bool barDrawn_ = false;
    std::string barLabel_;
    int barMax_ = 0;
    int barPos_ = 0;
};

// UiServices for a terminal: messages on standard error, questions through
// TConsole::Ask, the loaders' progress dialog as the progress bar, no file
// dialogs.
class TConsoleUiServices : public UiServices {
public:
    explicit TConsoleUiServices(TConsole& console) : console_(console) {}

    MessageResult ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) override;
    void ProgressOpen(const std::string& caption, const std::string& label) override;
    void ProgressSetRange(int minimum, int maximum) override;
    void ProgressSetPosition(int position) override;
    void ProgressSetCaption(const std::string& caption) override;
    void ProgressSetLabel(const std::string& label) override;
    void ProgressClose() override;
    void SetBusyCursor(bool) override {}
    bool ChooseFile(FileDialogKind, const std::string&, const std::string&, const std::string&,
                    std::string&) override {
        return false;
    }

private:
    TConsole& console_;
    int minimum_ = 0;
};
