#pragma once

#include <QWidget>
#include <memory>
#include <mutex>
#include <string>

class QAction;
class QPlainTextEdit;

// The log window ("Log"): the send log's lines as the job writes them, in a
// read-only text box whose context menu can empty it. Created with the main
// window and kept for the run; its placement is stored as "LogForm".
class TPVLogForm : public QWidget {
    Q_OBJECT

public:
    explicit TPVLogForm(QWidget* owner);
    ~TPVLogForm() override;

    // One line (CP932, without line end) at the end. Safe from any thread:
    // from another thread it is appended on the UI thread, in order.
    void AppendLine(const std::string& line);
    // Empties the box. Safe from any thread, like AppendLine.
    void Clear();
    // The send log's window lines come here (and StartLog clears it) until
    // DetachFromSendLog or the window's end. The main window attaches it
    // when the log window is to be shown.
    void AttachToSendLog();
    void DetachFromSendLog();

    void mnuClearClick();

private:
    void ShowContextMenu(const QPoint& pos);

    // What the send log's callbacks hold: they may run on the worker just
    // as the window goes away, so they reach it only through this.
    struct TSink {
        std::mutex mutex;
        TPVLogForm* form = nullptr;
    };
    std::shared_ptr<TSink> sink_;
    QPlainTextEdit* Memo1 = nullptr;
    QAction* mnuClear = nullptr;
};
