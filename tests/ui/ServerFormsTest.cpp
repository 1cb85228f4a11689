#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

#include "delivery/forms/TPVServerWizForm.h"
#include "delivery/forms/TPVVer2ServerSetupForm.h"
#include "shell/StringTable.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/TPVAboutForm.h"
#include "shell/forms/TPVStartShortcut.h"
#include "support/ScriptedUiServices.h"
#include "ui/UiTest.h"

Q_DECLARE_METATYPE(StartChoice)

namespace {

// The six edits of both server dialogs, in tab order.
const char* const kEdits[] = {"edtFrom", "edtName", "edtSmtp", "edtPop", "edtUserId", "edtPassword"};

// Values as CP932 bytes, written out by hand: 山田太郎, ①ｶﾅ (an NEC special
// character and half-width katakana, which plain Shift_JIS lacks), 営業部.
const TServerTexts kStored{"taro@example.jp",  "\x8e\x52\x93\x63\x91\xbe\x98\x59",
                           "smtp.example.jp",  "pop.example.jp",
                           "\x87\x40\xb6\xc5", "\x89\x63\x8b\xc6\x95\x94"};

TServerTexts Typed() {
    return {
        "hanako@example.com", "\x89\x63\x8b\xc6\x95\x94", "mail.example.com:587", "pop.example.com", "hanako",
        "\x87\x40\xb6\xc5pw"};
}

QString TypedText(int field) {
    const TServerTexts t = Typed();
    const std::string* values[] = {&t.senderAddress, &t.senderName, &t.smtpServer,
                                   &t.popServer,     &t.userId,     &t.password};
    return FromCp932(*values[field]);
}

QLineEdit* Edit(QWidget* dialog, const char* name) {
    auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name));
    if (!edit) qFatal("no edit %s", name);
    return edit;
}

template <class Button = QAbstractButton>
Button* Find(QWidget* dialog, const char* name) {
    auto* b = dialog->findChild<Button*>(QLatin1String(name));
    if (!b) qFatal("no widget %s", name);
    return b;
}

// Text committed by an input method or emoji picker; this is how Japanese
// text and characters outside the BMP reach an edit.
void Commit(QLineEdit* edit, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(edit, &event);
}

// Types `text` the way a user does: ASCII on the keyboard, the rest through
// the input method.
void Type(QLineEdit* edit, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClicks(edit, QString(c));
        else
            Commit(edit, QString(c));
    }
}

// Replaces an edit's text: select all, type over it.
void Retype(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    Type(edit, text);
}

// A server dialog behind one interface, so that cases can run on both.
struct ServerDialog {
    std::unique_ptr<QDialog> dialog;
    std::function<TServerTexts()> texts;
};

ServerDialog MakeServerDialog(bool wizard, const TServerTexts& given) {
    if (wizard) {
        auto* w = new TPVServerWizForm(nullptr);
        return {std::unique_ptr<QDialog>(w), [w] { return w->texts; }};
    }
    auto* s = new TPVVer2ServerSetupForm(nullptr, given, 2);
    return {std::unique_ptr<QDialog>(s), [s] { return s->texts; }};
}

}  // namespace

class ServerFormsTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<ScriptedUiServices> ui;

private slots:
    void init() { ui = ScriptedUiServices::Install(); }

    void serverSettingsShowsAndCancelKeepsValues() {
        TPVVer2ServerSetupForm form(nullptr, kStored, 2);
        form.show();
        const std::string* stored[] = {&kStored.senderAddress, &kStored.senderName, &kStored.smtpServer,
                                       &kStored.popServer,     &kStored.userId,     &kStored.password};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(Edit(&form, kEdits[i])->text(), FromCp932(*stored[i]));
            QTest::keyClicks(Edit(&form, kEdits[i]), QStringLiteral("x"));
        }
        QTest::mouseClick(Find(&form, "btnCancel"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(form.texts == kStored);
        QCOMPARE(form.authType, 2);
    }

    void okStoresAllSixAsCp932_data() {
        QTest::addColumn<bool>("wizard");
        QTest::newRow("server settings") << false;
        QTest::newRow("first-run wizard") << true;
    }
    void okStoresAllSixAsCp932() {
        QFETCH(bool, wizard);
        ServerDialog d = MakeServerDialog(wizard, kStored);
        d.dialog->show();
        for (int i = 0; i < 6; ++i) Retype(Edit(d.dialog.get(), kEdits[i]), TypedText(i));
        QTest::mouseClick(Find(d.dialog.get(), "btnOK"), Qt::LeftButton);
        QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
        QVERIFY(d.texts() == Typed());
        QVERIFY(ui->messages().empty());
    }

    void tabOrderAndPasswordEcho_data() {
        QTest::addColumn<bool>("wizard");
        QTest::addColumn<int>("echo");
        QTest::newRow("server settings masks") << false << int(QLineEdit::Password);
        QTest::newRow("first-run wizard shows") << true << int(QLineEdit::Normal);
    }
    void tabOrderAndPasswordEcho() {
        QFETCH(bool, wizard);
        QFETCH(int, echo);
        ServerDialog d = MakeServerDialog(wizard, kStored);
        QCOMPARE(int(Edit(d.dialog.get(), "edtPassword")->echoMode()), echo);
        QWidget* w = Edit(d.dialog.get(), kEdits[0]);
        for (int i = 1; i < 6; ++i) {
            do w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus);
            QCOMPARE(w->objectName(), QLatin1String(kEdits[i]));
        }
    }

    void wizardStartsEmpty() {
        TPVServerWizForm wizard(nullptr);
        wizard.show();
        for (const char* name : kEdits) QVERIFY(Edit(&wizard, name)->text().isEmpty());
        QCOMPARE(wizard.focusWidget(), Edit(&wizard, "edtFrom"));
        QCOMPARE(Find<QPushButton>(&wizard, "btnCancel")->text(), QStringLiteral("Not now"));
        bool messageShown = false;
        for (QLabel* label : wizard.findChildren<QLabel*>()) {
            if (label->text() == Str(8000)) messageShown = label->wordWrap();
        }
        QVERIFY(messageShown);

        Retype(Edit(&wizard, "edtSmtp"), QStringLiteral("smtp.example.com"));
        QTest::mouseClick(Find(&wizard, "btnCancel"), Qt::LeftButton);
        QCOMPARE(wizard.result(), int(QDialog::Rejected));
        QVERIFY(wizard.texts == TServerTexts{});
    }

    void characterCp932CannotHoldKeepsDialogOpen_data() {
        QTest::addColumn<bool>("wizard");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("character");
        QTest::newRow("emoji in sender name") << false << "edtName"
                                              << "Sender's Name"
                                              << "\U0001F600";
        QTest::newRow("hangul in password") << false << "edtPassword"
                                            << "Password"
                                            << "\uD55C";
        QTest::newRow("euro in wizard address") << true << "edtFrom"
                                                << "Sender's Mail Address"
                                                << "\u20AC";
        QTest::newRow("emoji in wizard POP") << true << "edtPop"
                                             << "POP Server"
                                             << "\U0001F4E7";
    }
    void characterCp932CannotHoldKeepsDialogOpen() {
        QFETCH(bool, wizard);
        QFETCH(QString, edit);
        QFETCH(QString, field);
        QFETCH(QString, character);
        ServerDialog d = MakeServerDialog(wizard, kStored);
        const TServerTexts before = d.texts();
        d.dialog->show();
        for (int i = 0; i < 6; ++i) Retype(Edit(d.dialog.get(), kEdits[i]), TypedText(i));
        QLineEdit* bad = Edit(d.dialog.get(), edit.toLatin1().constData());
        Commit(bad, character);
        QVERIFY(bad->text().contains(character));

        QTest::mouseClick(Find(d.dialog.get(), "btnOK"), Qt::LeftButton);
        QVERIFY(d.dialog->isVisible());
        QVERIFY(d.texts() == before);
        QCOMPARE(d.dialog->focusWidget(), bad);
        const auto shown = ui->messages();
        QCOMPARE(shown.size(), size_t(1));
        QCOMPARE(shown[0].caption, LoadStr(900));
        QVERIFY2(
            FromCp932(shown[0].text).contains(QStringLiteral("The ") + field + QStringLiteral(" contains")),
            shown[0].text.c_str());

        // Once the character is gone, OK goes through.
        bad->setText(bad->text().remove(character));
        QTest::mouseClick(Find(d.dialog.get(), "btnOK"), Qt::LeftButton);
        QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
        QVERIFY(d.texts() == Typed());
        QCOMPARE(ui->messages().size(), size_t(1));
    }

    void startShortcutButtonGivesChoice_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<StartChoice>("expected");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Text Mail") << "btnTextMail" << StartChoice::TextMail << QRect(55, 53, 100, 130);
        QTest::newRow("HTML Mail") << "btnHtmlMail" << StartChoice::HtmlMail << QRect(195, 53, 100, 130);
        QTest::newRow("Open File") << "btnOpenFile" << StartChoice::OpenFile << QRect(335, 53, 100, 130);
        QTest::newRow("Exit") << "btnExit" << StartChoice::Exit << QRect();
    }
    void startShortcutButtonGivesChoice() {
        QFETCH(QString, button);
        QFETCH(StartChoice, expected);
        QFETCH(QRect, geometry);
        TPVStartShortcut dialog(nullptr);
        for (StartChoice c : {StartChoice::TextMail, StartChoice::HtmlMail, StartChoice::OpenFile})
            dialog.setChoiceEnabled(c, true);
        dialog.show();
        QCOMPARE(dialog.size(), QSize(493, 256));
        QCOMPARE(dialog.windowTitle(), Str(903));
        QVERIFY(dialog.displayNextTime());
        QVERIFY(!Find(&dialog, "btnImport")->isVisible());
        auto* b = Find(&dialog, button.toLatin1().constData());
        if (!geometry.isNull()) QCOMPARE(b->geometry(), geometry);

        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.choice(), expected);
    }

    void startShortcutDisabledChoicesAndCheckBox() {
        TPVStartShortcut dialog(nullptr);
        dialog.setChoiceEnabled(StartChoice::Exit, false);  // Exit cannot be taken away
        dialog.show();
        for (const char* name : {"btnTextMail", "btnHtmlMail", "btnOpenFile"}) {
            QTest::mouseClick(Find(&dialog, name), Qt::LeftButton);
            QVERIFY2(dialog.isVisible(), name);
            QCOMPARE(dialog.choice(), StartChoice::None);
        }
        QTest::mouseClick(Find(&dialog, "chkDisplayNextTime"), Qt::LeftButton);
        QTest::mouseClick(Find(&dialog, "btnExit"), Qt::LeftButton);
        QCOMPARE(dialog.choice(), StartChoice::Exit);
        QVERIFY(!dialog.displayNextTime());
    }

    void startShortcutClosedOtherwiseIsNoChoice() {
        TPVStartShortcut dialog(nullptr);
        dialog.setChoiceEnabled(StartChoice::TextMail, true);
        dialog.show();
        QTest::mouseClick(Find(&dialog, "btnTextMail"), Qt::LeftButton);
        dialog.show();  // a second showing that ends with Escape
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.choice(), StartChoice::None);
        QVERIFY(dialog.displayNextTime());
    }

    void aboutShowsVersion() {
        TPVAboutForm about(nullptr);
        about.show();
        QCOMPARE(Find<QLabel>(&about, "lblVersion")->text(), QStringLiteral("Pelvane Personal Version 1.0"));
        QTest::mouseClick(Find(&about, "btnOK"), Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
};

PELVANE_UI_TEST(ServerFormsTest);

#include "ServerFormsTest.moc"
