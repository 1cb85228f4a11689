#pragma once

#include <QPointer>

#include "shell/UiServices.h"

class TPVProgressDialog;
class QWidget;

// The UI services on real windows. Safe to call from the send job's worker:
// such calls run on the UI thread while the worker waits.
class QtUiServices : public UiServices {
public:
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

private:
    QPointer<TPVProgressDialog> progress_;
    int busyDepth_ = 0;
};

// The window that owns message boxes and the progress dialog: the active
// window, else the main window.
QWidget* MessageOwner();
