#pragma once

#include <QApplication>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "shell/forms/ModalRunner.h"
#include "support/ScriptedUiServices.h"
#include "support/TempDir.h"

// Per-test surroundings for windows: application paths in a temporary
// folder, scripted message boxes, and a stand-in for the user at every modal
// dialog (a queue of handlers, one per dialog, in the order they open).
class UiTestEnv {
public:
    using DialogHandler = std::function<int(QDialog&)>;

    UiTestEnv() : ui(ScriptedUiServices::Install()) {
        paths = dir.makeAppPaths();
        SetAppPaths(paths);
        SetModalRunner([this](QDialog& d) {
            opened.push_back(d.metaObject()->className());
            if (handlers.empty()) return static_cast<int>(QDialog::Rejected);
            DialogHandler h = std::move(handlers.front());
            handlers.erase(handlers.begin());
            return h(d);
        });
    }
    ~UiTestEnv() { SetModalRunner({}); }

    void onNextDialog(DialogHandler h) { handlers.push_back(std::move(h)); }

    // Types `text` into the line edit named `name` of `d`, as a user does:
    // ASCII on the keyboard, the rest through the input method.
    static void type(QDialog& d, const char* name, const QString& text) {
        auto* e = d.findChild<QLineEdit*>(name);
        QVERIFY2(e, name);
        e->clear();
        typeInto(e, text);
    }
    static void typeInto(QWidget* w, const QString& text) {
        for (QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClicks(w, QString(c));
            } else {
                QInputMethodEvent event;
                event.setCommitString(QString(c));
                QApplication::sendEvent(w, &event);
            }
        }
    }
    // Shows `d`, clicks the button named `name` and returns the dialog's result.
    static int click(QDialog& d, const char* name) {
        d.show();
        auto* b = d.findChild<QAbstractButton*>(name);
        if (!b) return -1;
        QTest::mouseClick(b, Qt::LeftButton);
        return d.result();
    }

    TempDir dir;
    AppPaths paths;
    std::shared_ptr<ScriptedUiServices> ui;
    std::vector<QString> opened;  // class names of the dialogs run, in order
    std::vector<DialogHandler> handlers;
};
