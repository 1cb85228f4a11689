// The start and the close of the main window: first-run wizard, Getting
// Started, settings written at close, window placement.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include "document/Datafile.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/forms/TPVMainForm.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

// Shows `form` and lets its first paint run.
void Start(TPVMainForm& form) {
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

std::string Setup(const UiTestEnv& env, const char* key) {
    return IniReadString(env.paths.settingsFile, "SETUP", key, "<missing>");
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void firstStartShowsTheWizardOnlyUntilAnOrderlyClose();
    void notNowKeepsTheStoredValues();
    void startWithADocumentSkipsTheDialogs();
    void gettingStartedSwitchedOffAndExit();
    void unknownEncodingIsKept();
    void senderSurvivesAStartWithoutDialogs();
    void placementIsRestoredAndStored();
    void startupProblemsAreShown();
};

void StartupTest::firstStartShowsTheWizardOnlyUntilAnOrderlyClose() {
    UiTestEnv env;
    env.onNextDialog([](QDialog& d) {
        UiTestEnv::type(d, "edtFrom", "taro@example.jp");
        UiTestEnv::type(d, "edtName", QString::fromUtf8("山田太郎"));
        UiTestEnv::type(d, "edtSmtp", "smtp.example.jp");
        UiTestEnv::type(d, "edtPop", "pop.example.jp");
        UiTestEnv::type(d, "edtUserId", "taro");
        UiTestEnv::type(d, "edtPassword", "secret");
        return UiTestEnv::click(d, "btnOK");
    });
    {
        TPVMainForm form({});
        Start(form);
        QCOMPARE(env.opened, (std::vector<QString>{"TPVServerWizForm", "TPVStartShortcut"}));
        QCOMPARE(form.Settings().smtpServer, std::string("smtp.example.jp"));
        QCOMPARE(form.Settings().authType, 0);
        QCOMPARE(form.findChild<QLineEdit*>("edtName")->text(), QString::fromUtf8("山田太郎"));
        form.close();
    }
    QCOMPARE(Setup(env, "IniVersion"), std::string("3000"));
    QCOMPARE(Setup(env, "FirstRun"), std::string("0"));
    QCOMPARE(Setup(env, "AuthType"), std::string("0"));
    QCOMPARE(Setup(env, "Name"), std::string("\x8e\x52\x93\x63\x91\xbe\x98\x59"));
    QCOMPARE(Setup(env, "Password"), std::string("475627365637"));

    env.opened.clear();
    TPVMainForm again({});
    Start(again);
    QCOMPARE(env.opened, (std::vector<QString>{"TPVStartShortcut"}));
    QCOMPARE(again.Settings().userId, std::string("taro"));
    again.close();
}

void StartupTest::notNowKeepsTheStoredValues() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "SMTPServer", "kept.example.jp");
    IniWriteString(env.paths.settingsFile, "SETUP", "AuthType", "2");
    env.onNextDialog([](QDialog& d) {
        UiTestEnv::type(d, "edtSmtp", "typed.example.jp");
        return UiTestEnv::click(d, "btnCancel");
    });
    {
        TPVMainForm form({});
        Start(form);
        QCOMPARE(env.opened.front(), QString("TPVServerWizForm"));
        QCOMPARE(form.Settings().smtpServer, std::string("kept.example.jp"));
        QCOMPARE(form.Settings().authType, 2);
        form.close();
    }
    QCOMPARE(Setup(env, "SMTPServer"), std::string("kept.example.jp"));
}

void StartupTest::startWithADocumentSkipsTheDialogs() {
    UiTestEnv env;
    std::string path = env.dir.file("mail.pvd");
    {
        TMailDocument doc;
        doc.subject = "\x82\xb2\x88\xc4\x93\xe0";  // ご案内
        doc.body = {"Dear [[Name]],", "hello"};
        TPVDatabase book;
        book.LoadDefaultFieldNames();
        TAppSettings settings;
        TPVDataFile file;
        file.TakeDocument(doc, book, settings);
        QVERIFY(file.Save(path, TPVDataFile::DocumentVersion));
    }
    {
        TPVMainForm form({QString::fromStdString(path)});
        Start(form);
        QVERIFY(env.opened.empty());
        QCOMPARE(form.Document().path, path);
        QCOMPARE(form.findChild<QLineEdit*>("edtSubject")->text(), QString::fromUtf8("ご案内"));
        QCOMPARE(form.findChild<QPlainTextEdit*>("memoBody")->toPlainText(), QString("Dear [[Name]],\nhello"));
        form.close();
    }
    // A document that cannot be read: the message, and no path left to save over.
    TPVMainForm form({QString::fromStdString(env.dir.file("missing.pvd"))});
    Start(form);
    QVERIFY(env.opened.empty());
    QCOMPARE(env.ui->messages().back().text, LoadStr(1102));
    QCOMPARE(form.Document().path, std::string());
    form.close();
}

void StartupTest::gettingStartedSwitchedOffAndExit() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    env.onNextDialog([](QDialog& d) {
        d.show();
        QTest::mouseClick(d.findChild<QAbstractButton*>("chkDisplayNextTime"), Qt::LeftButton);
        return UiTestEnv::click(d, "btnExit");
    });
    TPVMainForm form({});
    Start(form);
    QCOMPARE(env.opened, (std::vector<QString>{"TPVStartShortcut"}));
    QTRY_VERIFY(!form.isVisible());  // Exit closed the main window
    QCOMPARE(Setup(env, "StartShortcut"), std::string("0"));

    env.opened.clear();
    TPVMainForm again({});
    Start(again);
    QVERIFY(env.opened.empty());
    again.close();
}

void StartupTest::unknownEncodingIsKept() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "Encode", "7");
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    {
        TPVMainForm form({});
        Start(form);
        QVERIFY(!form.findChild<QAction*>("actJapanese")->isChecked());
        QVERIFY(!form.findChild<QAction*>("actEnglish")->isChecked());
        form.close();
    }
    QCOMPARE(Setup(env, "Encode"), std::string("7"));
}

void StartupTest::senderSurvivesAStartWithoutDialogs() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "Name", "Taro");
    IniWriteString(env.paths.settingsFile, "SETUP", "From", "taro@example.jp");
    {
        TPVMainForm form({});
        Start(form);
        QCOMPARE(form.findChild<QLineEdit*>("edtName")->text(), QString("Taro"));
        QCOMPARE(form.findChild<QComboBox*>("cmbRecipient")->currentText(), QString("[[Mail Address]]"));
        form.close();
    }
    QCOMPARE(Setup(env, "Name"), std::string("Taro"));
    QCOMPARE(Setup(env, "From"), std::string("taro@example.jp"));
}

void StartupTest::placementIsRestoredAndStored() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    IniWriteString(env.paths.settingsFile, "WINDOW", "MainForm", "40,50,640,480,0");
    {
        TPVMainForm form({});
        QCOMPARE(form.geometry(), QRect(40, 50, 640, 480));
        Start(form);
        form.setGeometry(60, 70, 700, 500);
        form.close();
    }
    QCOMPARE(IniReadString(env.paths.settingsFile, "WINDOW", "MainForm", ""), std::string("60,70,700,500,0"));

    IniWriteString(env.paths.settingsFile, "WINDOW", "MainForm", "40,50,640,480,2");
    TPVMainForm maximised({});
    QVERIFY(maximised.windowState() & Qt::WindowMaximized);
}

void StartupTest::startupProblemsAreShown() {
    UiTestEnv env;
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    TPVMainForm form({});
    form.AddStartupProblem("The temporary folder /tmp/x/ is a symbolic link.");
    Start(form);
    auto shown = env.ui->messages();
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].caption, LoadStr(900));
    QCOMPARE(shown[0].text, std::string("The temporary folder /tmp/x/ is a symbolic link."));
    form.close();
}

PELVANE_UI_TEST(StartupTest);
#include "StartupTest.moc"
