#include "shell/forms/ComposeEdit.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "shell/forms/QtCodec.h"

namespace {
QLineEdit* Line(QWidget* w) { return qobject_cast<QLineEdit*>(w); }
QPlainTextEdit* Body(QWidget* w) { return qobject_cast<QPlainTextEdit*>(w); }
}  // namespace

ComposeEdit::ComposeEdit(QWidget* control) {
    if (Line(control) || Body(control)) control_ = control;
}

QString ComposeEdit::text() const {
    if (auto* l = Line(control_)) return l->text();
    if (auto* b = Body(control_)) return b->toPlainText();
    return {};
}

std::string ComposeEdit::bytes() const { return ToCp932(text()); }

int ComposeEdit::charStart() const {
    if (auto* l = Line(control_)) return l->hasSelectedText() ? l->selectionStart() : l->cursorPosition();
    if (auto* b = Body(control_)) return b->textCursor().selectionStart();
    return 0;
}

int ComposeEdit::charLength() const {
    if (auto* l = Line(control_)) return l->hasSelectedText() ? l->selectionLength() : 0;
    if (auto* b = Body(control_)) {
        QTextCursor c = b->textCursor();
        return c.selectionEnd() - c.selectionStart();
    }
    return 0;
}

int ComposeEdit::selStart() const { return CharPosToBytePos(text(), charStart()); }

int ComposeEdit::selLength() const {
    QString t = text();
    int start = charStart();
    return CharPosToBytePos(t, start + charLength()) - CharPosToBytePos(t, start);
}

void ComposeEdit::select(int start, int length) {
    QString t = text();
    int from = BytePosToCharPos(t, start);
    int to = BytePosToCharPos(t, start + length);
    if (auto* l = Line(control_)) {
        if (to > from) l->setSelection(from, to - from);
        else l->setCursorPosition(from);
    } else if (auto* b = Body(control_)) {
        QTextCursor c = b->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        b->setTextCursor(c);
    }
}

void ComposeEdit::setCaret(int pos) { select(pos, 0); }

void ComposeEdit::replaceSelection(const QString& text) {
    if (auto* l = Line(control_)) {
        if (text.isEmpty() && l->hasSelectedText()) l->del();
        else l->insert(text);
    } else if (auto* b = Body(control_)) {
        QTextCursor c = b->textCursor();
        c.insertText(text);
        b->setTextCursor(c);
    }
}

bool ComposeEdit::canUndo() const {
    if (auto* l = Line(control_)) return l->isUndoAvailable();
    if (auto* b = Body(control_)) return b->document()->isUndoAvailable();
    return false;
}

bool ComposeEdit::hasSelection() const { return charLength() > 0; }
