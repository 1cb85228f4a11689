#include "support/ScriptedUiServices.h"

std::shared_ptr<ScriptedUiServices> ScriptedUiServices::Install() {
    auto s = std::make_shared<ScriptedUiServices>();
    SetUiServices(s);
    return s;
}

void ScriptedUiServices::Answer(MessageResult next) {
    std::lock_guard lock(mutex_);
    answers_.push_back(next);
}

MessageResult ScriptedUiServices::ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back({kind, caption, text});
    if (!answers_.empty()) {
        MessageResult r = answers_.front();
        answers_.pop_front();
        return r;
    }
    switch (kind) {
        case MessageKind::ConfirmYesNo:
        case MessageKind::YesNoCancelDefaultNo:
            return MessageResult::No;
        case MessageKind::YesNoCancel:
            return MessageResult::Yes;
        default:
            return MessageResult::Ok;
    }
}

void ScriptedUiServices::ProgressOpen(const std::string& caption, const std::string& label) {
    std::lock_guard lock(mutex_);
    progress_.push_back("open " + caption + "|" + label);
}
void ScriptedUiServices::ProgressSetRange(int minimum, int maximum) {
    std::lock_guard lock(mutex_);
    progress_.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
}
void ScriptedUiServices::ProgressSetPosition(int position) {
    std::lock_guard lock(mutex_);
    progress_.push_back("pos " + std::to_string(position));
}
void ScriptedUiServices::ProgressSetCaption(const std::string& caption) {
    std::lock_guard lock(mutex_);
    progress_.push_back("caption " + caption);
}
void ScriptedUiServices::ProgressSetLabel(const std::string& label) {
    std::lock_guard lock(mutex_);
    progress_.push_back("label " + label);
}
void ScriptedUiServices::ProgressClose() {
    std::lock_guard lock(mutex_);
    progress_.push_back("close");
}
void ScriptedUiServices::SetBusyCursor(bool busy) {
    std::lock_guard lock(mutex_);
    busy_ = busy;
}

std::vector<ScriptedUiServices::Shown> ScriptedUiServices::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}
std::vector<std::string> ScriptedUiServices::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}
bool ScriptedUiServices::busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

void ScriptedUiServices::ChooseNext(const std::string& path) {
    std::lock_guard lock(mutex_);
    chosenFiles_.push_back(path);
}

bool ScriptedUiServices::ChooseFile(FileDialogKind kind, const std::string& title, const std::string& filter,
                                    const std::string&, std::string& path) {
    std::lock_guard lock(mutex_);
    fileDialogs_.push_back({kind, title, filter});
    if (chosenFiles_.empty()) return false;
    std::string next = chosenFiles_.front();
    chosenFiles_.pop_front();
    if (next.empty()) return false;
    path = next;
    return true;
}

std::vector<ScriptedUiServices::FileDialog> ScriptedUiServices::fileDialogs() const {
    std::lock_guard lock(mutex_);
    return fileDialogs_;
}
