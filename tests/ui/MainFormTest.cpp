// The main window's frame: caption, menus, the encoding choice, the server
// settings command, the About box and the resize rules.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "shell/IniFile.h"
#include "shell/forms/TPVMainForm.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

// A main window whose start shows no dialog.
std::unique_ptr<TPVMainForm> QuietForm(UiTestEnv& env) {
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    auto form = std::make_unique<TPVMainForm>(QStringList{});
    form->show();
    QCoreApplication::processEvents();
    return form;
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT
private slots:
    void captionAndMenus();
    void encodingMenuChecksOneEntry();
    void serverSettingsCancelKeepsEverything();
    void serverSettingsOkTakesTheSixValues();
    void aboutBox();
    void resizeRules();
};

void MainFormTest::captionAndMenus() {
    UiTestEnv env;
    auto form = QuietForm(env);
    QCOMPARE(form->windowTitle(), QString("Pelvane Personal"));
    for (const char* name : {"actExit", "actJapanese", "actEnglish", "actServerSettings", "actManual", "actAbout"})
        QVERIFY2(form->findChild<QAction*>(name), name);
    // Defaults: English is the encoding of a fresh installation.
    QVERIFY(form->findChild<QAction*>("actEnglish")->isChecked());
    QVERIFY(!form->findChild<QAction*>("actJapanese")->isChecked());
    form->close();
}

void MainFormTest::encodingMenuChecksOneEntry() {
    UiTestEnv env;
    auto form = QuietForm(env);
    auto* jp = form->findChild<QAction*>("actJapanese");
    auto* en = form->findChild<QAction*>("actEnglish");
    jp->trigger();
    QVERIFY(jp->isChecked() && !en->isChecked());
    QCOMPARE(form->Settings().encode, 0);
    jp->trigger();  // choosing it again keeps it chosen
    QVERIFY(jp->isChecked() && !en->isChecked());
    en->trigger();
    QVERIFY(!jp->isChecked() && en->isChecked());
    QCOMPARE(form->Settings().encode, 1);
    jp->trigger();
    form->close();
    QCOMPARE(IniReadString(env.paths.settingsFile, "SETUP", "Encode", ""), std::string("0"));
}

void MainFormTest::serverSettingsCancelKeepsEverything() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "SMTPServer", "smtp.example.jp");
    IniWriteString(env.paths.settingsFile, "SETUP", "Password", "362616");
    auto form = QuietForm(env);
    TAppSettings before = form->Settings();
    env.onNextDialog([](QDialog& d) {
        for (const char* e : {"edtFrom", "edtName", "edtSmtp", "edtPop", "edtUserId", "edtPassword"})
            UiTestEnv::type(d, e, "changed");
        return UiTestEnv::click(d, "btnCancel");
    });
    form->findChild<QAction*>("actServerSettings")->trigger();
    QCOMPARE(env.opened, (std::vector<QString>{"TPVVer2ServerSetupForm"}));
    const TAppSettings& after = form->Settings();
    QCOMPARE(after.smtpServer, before.smtpServer);
    QCOMPARE(after.password, std::string("abc"));
    QCOMPARE(after.popServer, before.popServer);
    QCOMPARE(after.userId, before.userId);
    QCOMPARE(after.from, before.from);
    QCOMPARE(after.name, before.name);
    form->close();
}

void MainFormTest::serverSettingsOkTakesTheSixValues() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "AuthType", "2");
    auto form = QuietForm(env);
    // What the compose window holds is what the dialog starts from.
    QTest::keyClicks(form->findChild<QLineEdit*>("edtFrom"), "typed@example.jp");
    std::string seenFrom;
    env.onNextDialog([&](QDialog& d) {
        d.show();
        seenFrom = d.findChild<QLineEdit*>("edtFrom")->text().toStdString();
        UiTestEnv::type(d, "edtName", QString::fromUtf8("佐藤花子"));
        UiTestEnv::type(d, "edtSmtp", "mail.example.jp:587");
        UiTestEnv::type(d, "edtPop", "pop.example.jp");
        UiTestEnv::type(d, "edtUserId", "hanako");
        UiTestEnv::type(d, "edtPassword", QString::fromUtf8("パス"));
        return UiTestEnv::click(d, "btnOK");
    });
    form->findChild<QAction*>("actServerSettings")->trigger();
    QCOMPARE(seenFrom, std::string("typed@example.jp"));
    const TAppSettings& s = form->Settings();
    QCOMPARE(s.smtpServer, std::string("mail.example.jp:587"));
    QCOMPARE(s.popServer, std::string("pop.example.jp"));
    QCOMPARE(s.userId, std::string("hanako"));
    QCOMPARE(s.password, std::string("\x83\x70\x83\x58"));
    QCOMPARE(s.authType, 2);
    QCOMPARE(form->findChild<QLineEdit*>("edtName")->text(), QString::fromUtf8("佐藤花子"));
    env.ui->Answer(MessageResult::No);  // do not save the mail typed into
    form->close();
    QCOMPARE(IniReadString(env.paths.settingsFile, "SETUP", "Password", ""), std::string("85380738"));
}

void MainFormTest::aboutBox() {
    UiTestEnv env;
    auto form = QuietForm(env);
    QString label;
    env.onNextDialog([&](QDialog& d) {
        label = d.findChild<QLabel*>("lblVersion")->text();
        return UiTestEnv::click(d, "btnOK");
    });
    form->findChild<QAction*>("actAbout")->trigger();
    QCOMPARE(label, QString("Pelvane Personal Version 1.0"));
    form->close();
}

void MainFormTest::resizeRules() {
    UiTestEnv env;
    auto form = QuietForm(env);
    form->resize(200, 100);
    QCOMPARE(form->size(), QSize(420, 360));
    form->resize(900, 700);
    QCoreApplication::processEvents();
    auto* group = form->findChild<QGroupBox*>("grpHeader");
    for (const char* e : {"edtFrom", "edtName", "edtSubject"})
        QCOMPARE(form->findChild<QLineEdit*>(e)->width(), group->width() - 144 - 8);
    form->close();
}

PELVANE_UI_TEST(MainFormTest);
#include "MainFormTest.moc"
