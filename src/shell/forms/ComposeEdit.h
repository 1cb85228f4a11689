#pragma once

#include <QString>
#include <string>

class QWidget;

// One view on the two kinds of compose control (one-line edits and the body
// editor), with the caret and the selection in CP932 byte positions of the
// control's text, as the placeholder rules count them.
class ComposeEdit {
public:
    // `control` is a QLineEdit or a QPlainTextEdit; anything else gives an
    // invalid view.
    explicit ComposeEdit(QWidget* control);

    bool valid() const { return control_ != nullptr; }
    QWidget* control() const { return control_; }

    QString text() const;
    std::string bytes() const;  // text() in CP932

    int selStart() const;  // bytes
    int selLength() const;  // bytes
    void select(int start, int length);  // bytes; the caret ends at start + length
    void setCaret(int pos);              // bytes

    // Replaces the selection through the control's own editing, so its undo
    // takes the change back.
    void replaceSelection(const QString& text);

    bool canUndo() const;
    bool hasSelection() const;

private:
    int charStart() const;
    int charLength() const;
    QWidget* control_ = nullptr;
};
