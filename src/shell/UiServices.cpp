#include "shell/UiServices.h"

#include <mutex>

#include "shell/StringTable.h"

namespace {

// Answers every question with its default button and shows nothing.
class SilentUiServices : public UiServices {
public:
    MessageResult ShowMessage(MessageKind kind, const std::string&, const std::string&) override {
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
    void ProgressOpen(const std::string&, const std::string&) override {}
    void ProgressSetRange(int, int) override {}
    void ProgressSetPosition(int) override {}
    void ProgressSetCaption(const std::string&) override {}
    void ProgressSetLabel(const std::string&) override {}
    void ProgressClose() override {}
    void SetBusyCursor(bool) override {}
    bool ChooseFile(FileDialogKind, const std::string&, const std::string&, const std::string&,
                    std::string&) override {
        return false;
    }
};

std::mutex gMutex;
std::shared_ptr<UiServices>& Installed() {
    static std::shared_ptr<UiServices> services = std::make_shared<SilentUiServices>();
    return services;
}

MessageResult Show(MessageKind kind, int caption, int text) {
    return Ui()->ShowMessage(kind, LoadStr(caption), LoadStr(text));
}

}  // namespace

std::shared_ptr<UiServices> Ui() {
    std::lock_guard lock(gMutex);
    return Installed();
}

void SetUiServices(std::shared_ptr<UiServices> services) {
    std::lock_guard lock(gMutex);
    Installed() = services ? std::move(services) : std::make_shared<SilentUiServices>();
}

void ShowInfoMessage(int caption, int text) { Show(MessageKind::Info, caption, text); }
void ShowInfoMessage(const std::string& caption, const std::string& text) {
    Ui()->ShowMessage(MessageKind::Info, caption, text);
}
bool ConfirmYesNo(int caption, int text) {
    return Show(MessageKind::ConfirmYesNo, caption, text) == MessageResult::Yes;
}
bool ConfirmYesNo(const std::string& caption, const std::string& text) {
    return Ui()->ShowMessage(MessageKind::ConfirmYesNo, caption, text) == MessageResult::Yes;
}
MessageResult AskYesNoCancel(int caption, int text) { return Show(MessageKind::YesNoCancel, caption, text); }
MessageResult AskYesNoCancel(const std::string& caption, const std::string& text) {
    return Ui()->ShowMessage(MessageKind::YesNoCancel, caption, text);
}
MessageResult AskYesNoCancelDefaultNo(int caption, int text) {
    return Show(MessageKind::YesNoCancelDefaultNo, caption, text);
}
MessageResult AskYesNoCancelDefaultNo(const std::string& caption, const std::string& text) {
    return Ui()->ShowMessage(MessageKind::YesNoCancelDefaultNo, caption, text);
}
MessageResult AskOkCancel(int caption, int text) { return Show(MessageKind::OkCancel, caption, text); }
MessageResult AskOkCancel(const std::string& caption, const std::string& text) {
    return Ui()->ShowMessage(MessageKind::OkCancel, caption, text);
}
MessageResult ShowResultWithLogButton(int caption, int text) {
    return Show(MessageKind::ResultWithLogButton, caption, text);
}
MessageResult ShowResultWithLogButton(const std::string& caption, const std::string& text) {
    return Ui()->ShowMessage(MessageKind::ResultWithLogButton, caption, text);
}

void ShowErrorMessage(const std::string& text) { Ui()->ShowMessage(MessageKind::Error, LoadStr(900), text); }
