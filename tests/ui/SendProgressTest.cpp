// The send progress window as the send job's observer, against a scripted
// SMTP server: its lines while a job runs, Cancel, the questions of the
// error policy as message boxes, and that every observer call runs on the UI
// thread while the worker waits. Also the log window that mirrors the log.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "delivery/Debug.h"
#include "delivery/Mailsendthread.h"
#include "delivery/forms/TPVLogForm.h"
#include "delivery/forms/TPVSendProgressForm.h"
#include "shell/Codec.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/forms/QtCodec.h"
#include "support/FakeMailServer.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

using Script = FakeMailServer::Script;

Script& Greet(Script& s, bool authLogin = false) {
    s.Reply("220 fake.example ESMTP").Expect("EHLO PelvanePersonal");
    if (authLogin) return s.Reply("250-fake.example").Reply("250 AUTH LOGIN");
    return s.Reply("250 fake.example");
}

Script& Accept(Script& s, const std::string& rcpt) {
    s.Expect("RSET").Reply("250 reset").Expect("MAIL FROM:<me@example.com>").Reply("250 ok");
    return s.Expect("RCPT TO:<" + rcpt + ">")
        .Reply("250 ok")
        .Expect("DATA")
        .Reply("354 go")
        .ReadData()
        .Reply("250 queued");
}

// With the AUTH LOGIN of a new connection.
Script& Refuse(Script& s, const std::string& rcpt) {
    s.Expect("RSET").Reply("250 reset").Expect("AUTH LOGIN").Reply("334 VXNlcm5hbWU6").Expect("dXNlcg==");
    s.Reply("334 UGFzc3dvcmQ6").Expect("c2VjcmV0").Reply("235 accepted");
    s.Expect("MAIL FROM:<me@example.com>").Reply("250 ok");
    return s.Expect("RCPT TO:<" + rcpt + ">").Reply("550 mailbox unavailable");
}

// A job on the scripted server for the records' recipients.
void Prepare(TMailSendThread& job, FakeMailServer& server, const std::vector<std::string>& recipients,
             int policy = kPolicyContinue) {
    serverinfo info;
    info.smtpServer = server.Address();
    info.userId = "user";
    info.password = "secret";
    job.SetServer(info);
    job.SetBody({"hello"});
    job.SetHeaders({"me@example.com", "Me", "Hi", "[[Mail]]"});
    TPVDatabase book;
    book.FieldNames.assign(TPVDatabase::FieldCount, "f");
    book.FieldNames[0] = "Mail";
    for (const std::string& r : recipients) {
        TPVRecord& rec = book.Records[book.Count++];
        rec.Values.assign(TPVDatabase::FieldCount, "");
        rec.Values[0] = r;
        rec.Selected = 1;
    }
    job.SetAddressBook(book);
    TSendJobOptions options;
    options.errorPolicy = policy;
    job.SetOptions(options);
}

// Runs the event loop until `spy` has recorded a call that `done` accepts.
bool WaitFor(QSignalSpy& spy, const std::function<bool(const QList<QVariant>&)>& done) {
    for (int seen = 0;;) {
        for (; seen < spy.count(); ++seen) {
            if (done(spy.at(seen))) return true;
        }
        if (!spy.wait(60000)) return false;
    }
}

}  // namespace

class SendProgressTest : public QObject {
    Q_OBJECT
private slots:
    void windowLayout();
    void showsTheJobAndCancelEndsIt();
    void questionsAreMessageBoxes_data();
    void questionsAreMessageBoxes();
    void logWindowMirrorsTheSendLog();
};

void SendProgressTest::windowLayout() {
    UiTestEnv env;
    QWidget owner;
    TPVSendProgressForm form(&owner);
    QCOMPARE(form.windowTitle(), QString("Sending Mail"));
    QCOMPARE(form.size(), QSize(473, 112));
    auto* cancel = form.findChild<QPushButton*>("btnCancel");
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("Cancel"));
    QVERIFY(form.findChild<QLabel*>("Label1"));
    QVERIFY(form.findChild<QLabel*>("Label2"));
    QVERIFY(form.findChild<QProgressBar*>("ProgressBar1"));
    QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
}

void SendProgressTest::showsTheJobAndCancelEndsIt() {
    UiTestEnv env;
    FakeMailServer server;
    QVERIFY(server.Start());
    // The first mail goes through; the server stops answering on the second.
    Script s;
    Greet(s);
    Accept(s, "ann@example.com");
    server.AddSession(s.Expect("RSET").Hang());

    TMailSendThread job;
    Prepare(job, server, {"ann@example.com", "bob@example.com", "cy@example.com"});
    QWidget owner;
    owner.show();
    TPVSendProgressForm form(&owner, &job);
    QSignalSpy started(&form, &TPVSendProgressForm::jobStarted);
    QSignalSpy statuses(&form, &TPVSendProgressForm::statusChanged);
    QSignalSpy finished(&form, &TPVSendProgressForm::jobFinished);
    std::atomic<int> offThread{0};
    connect(
        &form, &TPVSendProgressForm::statusChanged, &form,
        [&offThread](const QString&) {
            if (QThread::currentThread() != qApp->thread()) ++offThread;
        },
        Qt::DirectConnection);

    // The first showing starts the job.
    form.show();
    QCOMPARE(started.count(), 1);
    QCOMPARE(started.at(0).at(0).toBool(), true);
    QVERIFY(form.JobRunning());
    QVERIFY(job.IsRunning());

    // Second mail under way: the worker is blocked in the network and the
    // window shows where it is.
    int transmitting = 0;
    QVERIFY(WaitFor(statuses, [&](const QList<QVariant>& args) {
        return args.at(0).toString() == Str(4305) && ++transmitting == 2;
    }));
    auto* label1 = form.findChild<QLabel*>("Label1");
    auto* label2 = form.findChild<QLabel*>("Label2");
    auto* bar = form.findChild<QProgressBar*>("ProgressBar1");
    QCOMPARE(label1->text(), Str(4305));
    QCOMPARE(label2->text(), QString("2  / 3 "));
    QCOMPARE(bar->maximum(), 3);
    QCOMPARE(bar->value(), 1);

    // It cannot be closed while the job runs, not even with Escape.
    QVERIFY(!form.close());
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(form.isVisible());

    QTest::mouseClick(form.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    QVERIFY(finished.count() == 1 || finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).toInt(), kSendOutcomeCancelled);
    QVERIFY(!job.IsRunning());
    QVERIFY(!form.JobRunning());
    QCOMPARE(job.Outcome(), kSendOutcomeCancelled);
    QCOMPARE(job.States(), (std::vector<int32_t>{1, 2, 0}));
    QCOMPARE(offThread.load(), 0);
    QVERIFY(statuses.count() > 4);
    QVERIFY(form.close());
}

void SendProgressTest::questionsAreMessageBoxes_data() {
    QTest::addColumn<bool>("skipQuestion");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("outcome");
    QTest::newRow("double-byte recipient, Cancel")
        << true << int(MessageResult::Cancel) << kSendOutcomeCancelled;
    QTest::newRow("double-byte recipient, OK") << true << int(MessageResult::Ok) << kSendOutcomeFailed;
    QTest::newRow("refused twice, No") << false << int(MessageResult::No) << kSendOutcomeFailed;
    QTest::newRow("refused twice, Cancel") << false << int(MessageResult::Cancel) << kSendOutcomeCancelled;
}

void SendProgressTest::questionsAreMessageBoxes() {
    QFETCH(bool, skipQuestion);
    QFETCH(int, answer);
    QFETCH(int, outcome);
    UiTestEnv env;
    FakeMailServer server;
    QVERIFY(server.Start());
    TMailSendThread job;
    if (skipQuestion) {
        Script s;
        server.AddSession(Greet(s).Expect("QUIT").Reply("221 bye"));
        Prepare(job, server, {Utf8ToCp932("花子@example.jp")}, kPolicyAsk);
    } else {
        for (int i = 0; i < 2; ++i) {
            Script s;
            Greet(s, true);
            server.AddSession(Refuse(s, "ann@example.com").Expect("QUIT").Reply("221 bye"));
        }
        Prepare(job, server, {"ann@example.com"}, kPolicyAsk);
    }
    env.ui->Answer(static_cast<MessageResult>(answer));

    QWidget owner;
    TPVSendProgressForm form(&owner, &job);
    QSignalSpy finished(&form, &TPVSendProgressForm::jobFinished);
    form.show();
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).toInt(), outcome);

    std::vector<ScriptedUiServices::Shown> shown = env.ui->messages();
    QCOMPARE(shown.size(), size_t(1));
    const ScriptedUiServices::Shown& q = shown.front();
    QCOMPARE(q.caption, LoadStr(4210));
    if (skipQuestion) {
        QCOMPARE(int(q.kind), int(MessageKind::OkCancel));
        QCOMPARE(q.text, FormatSkipQuestion(1, LoadStr(4106)));
    } else {
        QCOMPARE(int(q.kind), int(MessageKind::YesNoCancel));
        QCOMPARE(q.text, FormatRetryQuestion(1, 550, "mailbox unavailable"));
    }
    QCOMPARE(job.States(), (std::vector<int32_t>{2}));
}

void SendProgressTest::logWindowMirrorsTheSendLog() {
    UiTestEnv env;
    QWidget owner;
    {
        TPVLogForm log(&owner);
        QCOMPARE(log.windowTitle(), QString("Log"));
        auto* memo = log.findChild<QPlainTextEdit*>("Memo1");
        QVERIFY(memo);
        QVERIFY(memo->isReadOnly());
        log.AttachToSendLog();
        log.show();

        // Lines written on another thread arrive in order on the UI thread.
        StartLog(env.paths.logFile);
        std::thread writer([] {
            WriteLog(Utf8ToCp932("first"));
            WriteLog(Utf8ToCp932("ログ"));
        });
        writer.join();
        QCoreApplication::processEvents();
        const QStringList lines = memo->toPlainText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(" / first"));
        QVERIFY(lines[1].endsWith(QString::fromUtf8(" / ログ")));

        auto* clear = log.findChild<QAction*>("mnuClear");
        QVERIFY(clear);
        QCOMPARE(clear->text(), QString::fromUtf8("ログの消去"));
        clear->trigger();
        QVERIFY(memo->toPlainText().isEmpty());
    }
    // Gone: the log no longer reaches it, and its placement was stored.
    WriteLog(Utf8ToCp932("after"));
    QVERIFY(!IniReadString(env.paths.settingsFile, "WINDOW", "LogForm", "").empty());
}

#include "SendProgressTest.moc"
PELVANE_UI_TEST(SendProgressTest);
