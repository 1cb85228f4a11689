#pragma once

#include <memory>
#include <string>

// How the core shows things. The desktop application installs the Qt
// implementation at start, tests a scripted one, a command-line build a
// console one. Texts are CP932 bytes.

enum class MessageKind {
    Info,                   // OK
    ConfirmYesNo,           // Yes, No (default No)
    YesNoCancel,            // Yes, No, Cancel (default Yes)
    YesNoCancelDefaultNo,   // Yes, No, Cancel (default No)
    OkCancel,               // OK, Cancel (default OK)
    ResultWithLogButton,    // OK, "View Log" (answers Cancel)
    Error,                  // the general error display: OK
};

enum class MessageResult { Ok, Cancel, Yes, No };

enum class FileDialogKind { Open, Save };

class UiServices {
public:
    virtual ~UiServices() = default;

    // A modal box owned by the application; returns the button pressed.
    virtual MessageResult ShowMessage(MessageKind kind, const std::string& caption,
                                      const std::string& text) = 0;

    // The small modeless progress dialog of the loaders.
    virtual void ProgressOpen(const std::string& caption, const std::string& label) = 0;
    virtual void ProgressSetRange(int minimum, int maximum) = 0;
    virtual void ProgressSetPosition(int position) = 0;
    virtual void ProgressSetCaption(const std::string& caption) = 0;
    virtual void ProgressSetLabel(const std::string& label) = 0;
    virtual void ProgressClose() = 0;

    virtual void SetBusyCursor(bool busy) = 0;

    // The standard open and save dialogs. `filter` has the form
    // "Pelvane File(*.pvd)|*.pvd|All Files(*.*)|*.*"; `defaultExt` (".pvd")
    // is added to a typed name without one. `path` gives the start name and
    // receives the chosen file (file-system bytes). False when cancelled.
    virtual bool ChooseFile(FileDialogKind kind, const std::string& title, const std::string& filter,
                            const std::string& defaultExt, std::string& path) = 0;
};

// The installed services; a silent default (every question answered with its
// default button) until one is installed.
std::shared_ptr<UiServices> Ui();
void SetUiServices(std::shared_ptr<UiServices> services);

// The six message boxes, by string-table numbers or by texts.
void ShowInfoMessage(int caption, int text);
void ShowInfoMessage(const std::string& caption, const std::string& text);
bool ConfirmYesNo(int caption, int text);
bool ConfirmYesNo(const std::string& caption, const std::string& text);
MessageResult AskYesNoCancel(int caption, int text);
MessageResult AskYesNoCancel(const std::string& caption, const std::string& text);
MessageResult AskYesNoCancelDefaultNo(int caption, int text);
MessageResult AskYesNoCancelDefaultNo(const std::string& caption, const std::string& text);
MessageResult AskOkCancel(int caption, int text);
MessageResult AskOkCancel(const std::string& caption, const std::string& text);
MessageResult ShowResultWithLogButton(int caption, int text);
MessageResult ShowResultWithLogButton(const std::string& caption, const std::string& text);

// The application's general error display ("Cannot create file %s" and the like).
void ShowErrorMessage(const std::string& text);
