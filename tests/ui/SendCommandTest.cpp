// The Send command from the main window: the refusal without a selection,
// the job against a scripted server, the outcome messages, the send states
// coming back, and the window staying responsive while the job runs.
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "delivery/forms/TPVSendProgressForm.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/forms/TPVMainForm.h"
#include "support/FakeMailServer.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

std::unique_ptr<TPVMainForm> QuietForm(UiTestEnv& env) {
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    auto form = std::make_unique<TPVMainForm>(QStringList{});
    form->show();
    QCoreApplication::processEvents();
    form->SendJob().Net().SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5));
    return form;
}

// Three records: the first and third selected; the second not, with the
// state of an earlier failed send, which it keeps.
void FillBook(TPVMainForm& form) {
    TPVDatabase& book = form.AddressBook();
    const char* addresses[] = {"taro@example.jp", "jiro@example.jp", "hanako@example.jp"};
    for (int i = 0; i < 3; ++i) {
        book.ResetRecord(i);
        book.Records[i].Values[0] = addresses[i];
        book.Records[i].Values[1] = "Name" + std::to_string(i);
        book.Records[i].Selected = i != 1;
        book.Records[i].SendState = i == 1 ? TPVDatabase::SendError : TPVDatabase::SendWaiting;
    }
    book.Count = 3;
    form.Document().recipient = "[[Mail Address]]";
    form.ShowDocumentHeader();
}

// A server that takes `mails` messages over one connection.
FakeMailServer::Script Accepting(int mails) {
    FakeMailServer::Script s;
    s.Reply("220 fake.example.jp ESMTP").Expect("EHLO PelvanePersonal").Reply("250 fake.example.jp");
    for (int i = 0; i < mails; ++i) {
        s.ReadLine().Reply("250 reset");
        s.ReadLine().Reply("250 sender ok");
        s.ReadLine().Reply("250 recipient ok");
        s.ReadLine().Reply("354 go ahead");
        s.ReadData().Reply("250 queued");
    }
    s.ReadLine().Reply("221 bye");
    return s;
}

}  // namespace

class SendCommandTest : public QObject {
    Q_OBJECT
private slots:
    void nothingSelectedStartsNothing();
    void completeJobGivesStatesBack();
    void failedConnectionGives4401();
    void cancelGives4402AndTheWindowStaysResponsive();
};

void SendCommandTest::nothingSelectedStartsNothing() {
    UiTestEnv env;
    auto form = QuietForm(env);
    FillBook(*form);
    for (int i = 0; i < 3; ++i) form->AddressBook().Records[i].Selected = 0;
    QTest::mouseClick(form->findChild<QPushButton*>("btnSend"), Qt::LeftButton);
    auto shown = env.ui->messages();
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].caption, LoadStr(4000));
    QCOMPARE(shown[0].text, LoadStr(4015));
    QVERIFY(!form->SendRunning());
    QVERIFY(!FileExists(env.paths.logFile));
}

void SendCommandTest::completeJobGivesStatesBack() {
    UiTestEnv env;
    FakeMailServer server;
    server.AddSession(Accepting(2));
    QVERIFY(server.Start());
    auto form = QuietForm(env);
    form->Settings().smtpServer = "127.0.0.1:" + std::to_string(server.Port());
    form->Settings().from = "sender@example.jp";
    FillBook(*form);
    QTest::mouseClick(form->findChild<QPushButton*>("btnSend"), Qt::LeftButton);

    QVERIFY(!form->SendRunning());
    QVERIFY(form->InputEnabled());
    QCOMPARE(form->SendOutcome(), kSendOutcomeRunning);
    const TPVDatabase& book = form->AddressBook();
    QCOMPARE(book.Records[0].SendState, TPVDatabase::SendCompleted);
    QCOMPARE(book.Records[1].SendState, TPVDatabase::SendError);  // not selected: kept
    QCOMPARE(book.Records[2].SendState, TPVDatabase::SendCompleted);
    auto shown = env.ui->messages();
    QCOMPARE(shown.back().kind, MessageKind::ResultWithLogButton);
    QCOMPARE(shown.back().caption, LoadStr(5302));
    QCOMPARE(shown.back().text, LoadStr(4400));
    QCOMPARE(server.Bodies().size(), size_t(2));
    QVERIFY(server.Mismatches().empty());
    QVERIFY(FileExists(env.paths.logFile));
    QVERIFY(form->findChild<QPushButton*>("btnSend")->isEnabled());
}

void SendCommandTest::failedConnectionGives4401() {
    UiTestEnv env;
    auto form = QuietForm(env);
    // A port nothing listens on: take one from a server that is gone again.
    int port = 0;
    {
        FakeMailServer gone;
        QVERIFY(gone.Start());
        port = gone.Port();
        gone.Stop();
    }
    form->Settings().smtpServer = "127.0.0.1:" + std::to_string(port);
    FillBook(*form);
    form->SendMail();
    QCOMPARE(env.ui->messages().back().text, LoadStr(4401));
    QCOMPARE(form->AddressBook().Records[1].SendState, TPVDatabase::SendError);
}

void SendCommandTest::cancelGives4402AndTheWindowStaysResponsive() {
    UiTestEnv env;
    FakeMailServer server;
    FakeMailServer::Script silent;
    silent.Signal("connected").Hang();  // accepts, never greets
    server.AddSession(silent);
    QVERIFY(server.Start());
    auto form = QuietForm(env);
    form->Settings().smtpServer = "127.0.0.1:" + std::to_string(server.Port());
    FillBook(*form);

    bool sawDisabled = false;
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;  // the event loop runs while the job waits on the server
        if (!form->SendRunning()) return;
        sawDisabled = sawDisabled || !form->InputEnabled();
        if (ticks >= 3 && server.WaitForSignal("connected", std::chrono::seconds(0))) {
            if (auto* progress = form->findChild<TPVSendProgressForm*>()) {
                if (auto* cancel = progress->findChild<QPushButton*>("btnCancel"))
                    QTest::mouseClick(cancel, Qt::LeftButton);
            }
        }
    });
    ticker.start(20);
    form->SendMail();
    ticker.stop();
    QVERIFY(sawDisabled);
    QVERIFY(ticks >= 3);
    QCOMPARE(form->SendOutcome(), kSendOutcomeCancelled);
    QCOMPARE(env.ui->messages().back().text, LoadStr(4402));
    QVERIFY(form->InputEnabled());
    QCOMPARE(form->AddressBook().Records[1].SendState, TPVDatabase::SendError);
    QCOMPARE(form->AddressBook().Records[2].SendState, TPVDatabase::SendWaiting);
}

PELVANE_UI_TEST(SendCommandTest);
#include "SendCommandTest.moc"
