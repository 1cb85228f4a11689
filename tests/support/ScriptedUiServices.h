#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "shell/UiServices.h"

// UI services for tests: records every call and answers questions from a
// queue ("answer No to the next question"). With the queue empty a question
// gets its default button.
class ScriptedUiServices : public UiServices {
public:
    struct Shown {
        MessageKind kind;
        std::string caption;  // CP932
        std::string text;     // CP932
    };

    // Installs a fresh instance as the process's UI services and returns it.
    static std::shared_ptr<ScriptedUiServices> Install();

    void Answer(MessageResult next);
    // The next file dialog chooses `path`; an empty path cancels it.
    void ChooseNext(const std::string& path);

    MessageResult ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) override;
    void ProgressOpen(const std::string& caption, const std::string& label) override;
    void ProgressSetRange(int minimum, int maximum) override;
    void ProgressSetPosition(int position) override;
    void ProgressSetCaption(const std::string& caption) override;
    void ProgressSetLabel(const std::string& label) override;
    void ProgressClose() override;
    void SetBusyCursor(bool busy) override;
    bool ChooseFile(FileDialogKind kind, const std::string& title, const std::string& filter,
                    const std::string& defaultExt, std::string& path) override;

    struct FileDialog {
        FileDialogKind kind;
        std::string title;
        std::string filter;
    };
    std::vector<FileDialog> fileDialogs() const;

    std::vector<Shown> messages() const;
    // Every progress call, as text ("open Load data|Reading data", "pos 3", ...).
    std::vector<std::string> progress() const;
    bool busy() const;

private:
    mutable std::mutex mutex_;
    std::deque<MessageResult> answers_;
    std::vector<Shown> messages_;
    std::vector<std::string> progress_;
    std::deque<std::string> chosenFiles_;
    std::vector<FileDialog> fileDialogs_;
    bool busy_ = false;
};
