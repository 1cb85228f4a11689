// The send job against a scripted SMTP / POP3 server: what it writes on the
// wire, the log lines of every path, the records' states, the error
// policies, the waits and cancelling at every point where the worker blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Clock.h"
#include "delivery/Mailsendthread.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "support/FakeMailServer.h"
#include "support/ScriptedSendObserver.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;
using Script = FakeMailServer::Script;

const std::string kSender = "me@example.com";
const std::string kRefusal = "550 mailbox unavailable";
const std::string kRefusalText = "mailbox unavailable";

std::string S(int id) { return LoadStr(id); }

TClockTime At(int day, int hour, int minute) {
    TClockTime t;
    t.year = 2026;
    t.month = 1;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.utcOffsetMinutes = 540;
    t.standardOffsetMinutes = 540;
    return t;
}

// ---- server scripts ----

Script& Greet(Script& s, bool authLogin) {
    s.Reply("220 fake.example ESMTP").Expect("EHLO PelvanePersonal");
    if (authLogin) return s.Reply("250-fake.example").Reply("250 AUTH PLAIN LOGIN");
    return s.Reply("250 fake.example");
}

// RSET and, on the connection's first mail with AUTH LOGIN, the login.
Script& Begin(Script& s, bool login) {
    s.Expect("RSET").Reply("250 reset");
    if (login) {
        s.Expect("AUTH LOGIN").Reply("334 VXNlcm5hbWU6").Expect("dXNlcg==").Reply("334 UGFzc3dvcmQ6");
        s.Expect("c2VjcmV0").Reply("235 accepted");
    }
    return s;
}

Script& Accept(Script& s, const std::string& rcpt, bool login = false) {
    Begin(s, login).Expect("MAIL FROM:<" + kSender + ">").Reply("250 ok");
    return s.Expect("RCPT TO:<" + rcpt + ">")
        .Reply("250 ok")
        .Expect("DATA")
        .Reply("354 go")
        .ReadData()
        .Reply("250 queued");
}

Script& Refuse(Script& s, const std::string& rcpt, bool login = false, const std::string& reply = kRefusal) {
    Begin(s, login).Expect("MAIL FROM:<" + kSender + ">").Reply("250 ok");
    return s.Expect("RCPT TO:<" + rcpt + ">").Reply(reply);
}

Script& Quit(Script& s) { return s.Expect("QUIT").Reply("221 bye"); }

// ---- one job against one server ----

struct Record {
    std::string name;
    std::string mail;
    bool selected = true;
    int32_t state = 0;
};

// A server, the job and its observer; the job goes first when it ends.
struct Rig {
    FakeMailServer server;
    FakeMailServer pop;
    ScriptedSendObserver observer;
    std::unique_ptr<TMailSendThread> job = std::make_unique<TMailSendThread>();
    TPVDatabase book;
    TSendJobOptions options;
    serverinfo info;
    Lines attachments;
    std::string templateName;
    Lines htmlFiles;

    Rig() {
        EXPECT_TRUE(server.Start()) << server.Error();
        info.smtpServer = server.Address();
        info.userId = "user";
        info.password = "secret";
        for (int i = 0; i < TPVDatabase::FieldCount; ++i) book.FieldNames.push_back("f" + std::to_string(i));
        book.FieldNames[0] = "Name";
        book.FieldNames[1] = "Mail";
    }
    ~Rig() { job.reset(); }

    void UsePop() {
        EXPECT_TRUE(pop.Start()) << pop.Error();
        info.popServer = pop.Address();
    }

    void Add(const Record& r) {
        TPVRecord& rec = book.Records[book.Count++];
        rec.Values.assign(TPVDatabase::FieldCount, "");
        rec.Values[0] = r.name;
        rec.Values[1] = r.mail;
        rec.Selected = r.selected ? 1 : 0;
        rec.SendState = r.state;
    }

    bool Start() {
        job->SetServer(info);
        job->SetBody({"Dear [[Name]],", "hello."});
        job->SetHeaders({kSender, "Me", "Hello [[Name]]", "[[Mail]]"});
        job->SetAddressBook(book);
        job->SetAttachments(attachments);
        job->SetHtmlFiles(htmlFiles);
        job->SetTemplateName(templateName);
        job->SetScope(2);
        job->SetOptions(options);
        return job->Start(&observer);
    }

    // Runs the job to its end; false when it did not end.
    bool Run() {
        if (!Start()) return false;
        bool ended = observer.WaitFinished();
        if (ended) job->Wait();
        return ended;
    }

    std::vector<int32_t> States() {
        TPVDatabase copy;
        copy.CopyFrom(book);
        job->CopyStatesBack(copy);
        std::vector<int32_t> states;
        for (int i = 0; i < copy.Count; ++i) states.push_back(copy.Records[i].SendState);
        return states;
    }

    std::string Connected(int kind) const {
        return S(4101) + " ( " + info.smtpServer + " / " + std::to_string(kind) + " )";
    }
};

// The event texts of the log file: every line without its time stamp.
Lines LogEvents() {
    Lines events;
    std::string text = TempDir::read(Paths().logFile);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        std::size_t sep = line.find(" / ");
        events.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
        pos = end + 2;
    }
    return events;
}

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Lines Refused(int code, int id, const std::string& text) {
    Lines l = {S(4111) + " ( " + std::to_string(code) + " )", S(id)};
    if (!text.empty()) l.push_back(text);
    return l;
}

Lines MailStart(int current, int record) {
    return {std::to_string(current) + "(" + std::to_string(record) + ") " + S(4110), S(4105)};
}

bool HasStatusWith(const Lines& statuses, const std::string& part) {
    for (const std::string& s : statuses) {
        if (s.find(part) != std::string::npos) return true;
    }
    return false;
}

class MailsendthreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths();
        paths_ = dir_.makeAppPaths();
        SetAppPaths(paths_);
        CreateFolder(paths_.mainPreviewFolder);
        SetClock([] { return At(2, 10, 0); });
    }
    void TearDown() override {
        SetClock({});
        SetAppPaths(saved_);
    }

    TempDir dir_;
    AppPaths paths_;
    AppPaths saved_;
};

TEST_F(MailsendthreadTest, SendsEverySelectedRecordInBookOrder) {
    Rig rig;
    rig.Add({"Ann", "ann@example.com", true, 0});
    rig.Add({"Bob", "bob@example.com", false, 2});  // not selected: keeps its state
    rig.Add({"Cy", "cy@example.com", true, 1});     // sent before and selected again: sent again
    Script s;
    Greet(s, false);
    Accept(s, "ann@example.com");
    Accept(s, "cy@example.com");
    rig.server.AddSession(Quit(s));

    ASSERT_TRUE(rig.Run());
    EXPECT_EQ(rig.job->Outcome(), kSendOutcomeRunning);
    EXPECT_EQ(rig.observer.finishedOutcome(), kSendOutcomeRunning);
    EXPECT_EQ(rig.States(), (std::vector<int32_t>{1, 2, 1}));
    EXPECT_EQ(rig.job->SentCount(), 2);
    EXPECT_EQ(rig.job->FailedCount(), 0);
    EXPECT_EQ(rig.job->NotSentCount(), 0);
    EXPECT_EQ(rig.job->Total(), 2);

    EXPECT_EQ(LogEvents(), Concat({{rig.Connected(0)},
                                   MailStart(1, 1),
                                   {S(4114)},
                                   MailStart(2, 3),
                                   {S(4114)},
                                   {S(4103), S(4104)}}));
    EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();
    ASSERT_EQ(rig.server.Bodies().size(), 2u);
    EXPECT_NE(rig.server.Bodies()[1].find("Dear Cy,"), std::string::npos);

    EXPECT_EQ(rig.observer.counters(), (Lines{"1  / 2 ", "2  / 2 "}));
    EXPECT_EQ(rig.observer.progress(), (Lines{"0 2 1", "0 2 1", "0 2 2"}));
    EXPECT_EQ(rig.observer.outcomes(), (std::vector<int>{kSendOutcomeRunning}));
    const Lines statuses = rig.observer.statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), S(4300));
    EXPECT_EQ(statuses.back(), S(4306));
    EXPECT_TRUE(HasStatusWith(statuses, S(4303)));
    EXPECT_TRUE(HasStatusWith(statuses, S(4305)));
    EXPECT_EQ(rig.observer.calls().back(), "finished 1");
}

// The first refusal is retried once after reconnecting: with AUTH LOGIN by a
// new SMTP connection (and a new login), otherwise by POP before SMTP.
TEST_F(MailsendthreadTest, RefusedMailIsSentAgainAfterReconnecting) {
    for (bool authLogin : {true, false}) {
        SCOPED_TRACE(authLogin ? "AUTH LOGIN" : "POP before SMTP");
        Rig rig;
        rig.Add({"Ann", "ann@example.com"});
        Script first;
        Greet(first, authLogin);
        Refuse(first, "ann@example.com", authLogin);
        rig.server.AddSession(Quit(first));
        Script second;
        Greet(second, authLogin);
        Accept(second, "ann@example.com", authLogin);
        rig.server.AddSession(Quit(second));
        if (!authLogin) {
            rig.UsePop();
            Script pop;
            pop.Reply("+OK ready").Expect("USER user").Reply("+OK").Expect("PASS secret").Reply("+OK");
            rig.pop.AddSession(pop.Expect("QUIT").Reply("+OK bye"));
        }

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeRunning);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{1}));
        Lines reconnect = authLogin ? Lines{S(4115)} : Lines{S(4108), S(4115)};
        EXPECT_EQ(LogEvents(), Concat({{rig.Connected(authLogin ? 2 : 0)},
                                       MailStart(1, 1),
                                       Refused(550, 4204, kRefusalText),
                                       reconnect,
                                       {S(4114), S(4103), S(4104)}}));
        EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();
        EXPECT_TRUE(rig.pop.Mismatches().empty());
        EXPECT_EQ(rig.server.Bodies().size(), 1u);
        if (!authLogin) {
            EXPECT_TRUE(HasStatusWith(rig.observer.statuses(), S(4302)));
        }
    }
}

// Each class of refusal has its log text; the server's text follows on a
// line of its own, its line breaks made blanks.
TEST_F(MailsendthreadTest, RefusalsAreLoggedByTheirReplyCode) {
    struct Case {
        std::string mail;  // the recipient field
        std::string reply;
        int code;
        int id;  // 0: the server text alone
        std::string text;
    };
    const Case cases[] = {
        {"a@example.com", "503 bad sequence", 503, 4200, "bad sequence"},
        {"a@example.com", "521 no mail here", 521, 4206, "no mail here"},
        {"a@example.com", "550-first line\r\n550 second line", 550, 4204, "first line  second line"},
        {"a@example.com", "553 bad address", 553, 4201, "bad address"},
        {"a@example.com", "452 too many", 452, 0, "too many"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        Rig rig;
        rig.Add({"Ann", c.mail});
        Script first;
        Greet(first, true);
        Refuse(first, c.mail, true, c.reply);
        rig.server.AddSession(Quit(first));
        Script second;
        Greet(second, true);
        Accept(second, c.mail, true);
        rig.server.AddSession(Quit(second));

        ASSERT_TRUE(rig.Run());
        Lines refused = {S(4111) + " ( " + std::to_string(c.code) + " )"};
        if (c.id != 0) refused.push_back(S(c.id));
        refused.push_back(c.text);
        EXPECT_EQ(
            LogEvents(),
            Concat({{rig.Connected(2)}, MailStart(1, 1), refused, {S(4115), S(4114)}, {S(4103), S(4104)}}));
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{1}));
    }
}

// An empty recipient field gives a mail without recipients: the server
// refuses its DATA, and the refusal is handled like any other.
TEST_F(MailsendthreadTest, MailWithoutRecipientsIsRefusedByTheServer) {
    Rig rig;
    rig.Add({"Ann", ""});
    for (int i = 0; i < 2; ++i) {
        Script s;
        Greet(s, true);
        Begin(s, true).Expect("MAIL FROM:<" + kSender + ">").Reply("250 ok");
        rig.server.AddSession(Quit(s.Expect("DATA").Reply("503 need recipient")));
    }

    ASSERT_TRUE(rig.Run());
    const Lines refused = Refused(503, 4200, "need recipient");
    EXPECT_EQ(
        LogEvents(),
        Concat(
            {{rig.Connected(2)}, MailStart(1, 1), refused, {S(4115)}, refused, {S(4112), S(4103), S(4401)}}));
    EXPECT_EQ(rig.job->Outcome(), kSendOutcomeFailed);
    EXPECT_EQ(rig.States(), (std::vector<int32_t>{2}));
    EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();
}

// A mail refused again after the reconnection goes to the error policy.
TEST_F(MailsendthreadTest, ErrorPolicyDecidesAfterTheRetryFailed) {
    enum class Then { GoOn, Stop, Retry };
    struct Case {
        const char* name;
        int policy;
        MessageResult answer;  // policy 3 only
        Then then;
        int outcome;
        std::vector<int32_t> states;
        Lines afterSecondRefusal;
    };
    const Lines nextMail = Concat({MailStart(2, 2), {S(4114)}});
    const Case cases[] = {
        {"policy 1",
         1,
         MessageResult::Ok,
         Then::GoOn,
         kSendOutcomeFailed,
         {2, 1},
         Concat({{S(4112)}, nextMail, {S(4103), S(4401)}})},
        {"policy 2",
         2,
         MessageResult::Ok,
         Then::GoOn,
         kSendOutcomeFailed,
         {2, 1},
         Concat({{S(4112)}, nextMail, {S(4103), S(4401)}})},
        {"policy 3, No",
         3,
         MessageResult::No,
         Then::GoOn,
         kSendOutcomeFailed,
         {2, 1},
         Concat({{S(4112), S(4117)}, nextMail, {S(4103), S(4401)}})},
        {"policy 3, Yes",
         3,
         MessageResult::Yes,
         Then::Retry,
         kSendOutcomeRunning,
         {1, 1},
         Concat({{S(4112), S(4116), S(4115), S(4114)}, nextMail, {S(4103), S(4104)}})},
        {"policy 3, Cancel",
         3,
         MessageResult::Cancel,
         Then::Stop,
         kSendOutcomeCancelled,
         {2, 0},
         {S(4112), S(4113), S(4103), S(4402)}},
        {"policy 4",
         4,
         MessageResult::Ok,
         Then::Stop,
         kSendOutcomeCancelled,
         {2, 0},
         {S(4113), S(4103), S(4402)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.options.errorPolicy = c.policy;
        rig.observer.AnswerRetry(c.answer);
        rig.Add({"Ann", "ann@example.com"});
        rig.Add({"Bob", "bob@example.com"});
        Script first;
        Greet(first, true);
        Refuse(first, "ann@example.com", true);
        rig.server.AddSession(Quit(first));
        Script second;
        Greet(second, true);
        Refuse(second, "ann@example.com", true);
        if (c.then == Then::GoOn) Accept(second, "bob@example.com");
        rig.server.AddSession(Quit(second));
        if (c.then == Then::Retry) {
            Script third;
            Greet(third, true);
            Accept(third, "ann@example.com", true);
            Accept(third, "bob@example.com");
            rig.server.AddSession(Quit(third));
        }

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), c.outcome);
        EXPECT_EQ(rig.observer.finishedOutcome(), c.outcome);
        EXPECT_EQ(rig.States(), c.states);
        const Lines refused = Refused(550, 4204, kRefusalText);
        EXPECT_EQ(
            LogEvents(),
            Concat({{rig.Connected(2)}, MailStart(1, 1), refused, {S(4115)}, refused, c.afterSecondRefusal}));
        EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();

        const auto questions = rig.observer.questions();
        if (c.policy == 3) {
            ASSERT_EQ(questions.size(), 1u);
            EXPECT_EQ(questions[0].mailNumber, 1);
            EXPECT_EQ(questions[0].resultCode, 550);
            EXPECT_EQ(
                questions[0].text,
                "Was unable to send mail number 1. \n[550]mailbox unavailable\n\n Would you like to try and "
                "send this mail again? \n(Clicking [No] will skip this mail. Clicking [Cancel] will stop any "
                "further mails from being sent.)");
        } else {
            EXPECT_TRUE(questions.empty());
        }
        if (c.then == Then::Stop) {
            EXPECT_EQ(rig.job->NotSentCount(), 1);
        }
    }
}

TEST_F(MailsendthreadTest, DoubleByteRecipientFollowsThePolicy) {
    struct Case {
        const char* name;
        int policy;
        MessageResult answer;
        bool goOn;
    };
    const Case cases[] = {
        {"policy 2", 2, MessageResult::Ok, true},
        {"policy 3, OK", 3, MessageResult::Ok, true},
        {"policy 3, Cancel", 3, MessageResult::Cancel, false},
        {"policy 4", 4, MessageResult::Ok, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.options.errorPolicy = c.policy;
        rig.observer.AnswerSkip(c.answer);
        rig.Add({"Ann", Utf8ToCp932("花子@example.jp"), true, 1});
        rig.Add({"Bob", "bob@example.com"});
        Script s;
        Greet(s, false);
        if (c.goOn) Accept(s, "bob@example.com");
        rig.server.AddSession(Quit(s));

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), c.goOn ? kSendOutcomeFailed : kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{2, c.goOn ? 1 : 0}));
        Lines tail =
            c.goOn ? Concat({MailStart(2, 2), {S(4114), S(4103), S(4401)}}) : Lines{S(4103), S(4402)};
        EXPECT_EQ(LogEvents(), Concat({{rig.Connected(0)}, MailStart(1, 1), {S(4106)}, tail}));
        EXPECT_EQ(rig.job->FailedCount(), 1);
        EXPECT_EQ(rig.job->NotSentCount(), c.goOn ? 0 : 1);
        const auto questions = rig.observer.questions();
        ASSERT_EQ(questions.size(), c.policy == 3 ? 1u : 0u);
        if (c.policy == 3) {
            EXPECT_EQ(
                questions[0].text,
                "Was unable to send mail number 1. \nMail cannot be sent as the mail address contains "
                "double-byte characters.\n\nThis mail was skipped.\n(Clicking [Cancel] will stop any further "
                "mails from being sent.)");
        }
        EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();
    }
}

// A file of the mail that cannot be read stops the job without a retry; the
// record, sent by an earlier job, is marked as an error of this one.
TEST_F(MailsendthreadTest, UnreadableFileOfTheMailStopsTheJob) {
    for (bool page : {false, true}) {
        SCOPED_TRACE(page ? "HTML page" : "attachment");
        Rig rig;
        if (page) {
            rig.templateName = "Plain";
            rig.htmlFiles = {"index.html"};  // not in the preview folder
        } else {
            rig.attachments = {dir_.file("missing.pdf")};
        }
        rig.Add({"Ann", "ann@example.com", true, 1});
        rig.Add({"Bob", "bob@example.com"});
        Script s;
        rig.server.AddSession(Quit(Greet(s, true)));

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{2, 0}));
        EXPECT_EQ(LogEvents(), Concat({{rig.Connected(2)},
                                       MailStart(1, 1),
                                       {S(4111) + " ( -998 )", S(4205)},
                                       {S(4113), S(4103), S(4402)}}));
        EXPECT_TRUE(rig.server.Mismatches().empty()) << rig.server.Mismatches().front();
        EXPECT_EQ(rig.server.Sessions().size(), 1u);
    }
}

TEST_F(MailsendthreadTest, ReconnectionThatFailsTwiceStopsTheJob) {
    // Without AUTH LOGIN and without a POP3 server POP before SMTP cannot work.
    {
        SCOPED_TRACE("no POP3 server");
        Rig rig;
        rig.Add({"Ann", "ann@example.com"});
        rig.Add({"Bob", "bob@example.com"});
        Script s;
        Greet(s, false);
        Refuse(s, "ann@example.com");
        rig.server.AddSession(Quit(s));

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{2, 0}));
        EXPECT_EQ(LogEvents(), Concat({{rig.Connected(0)},
                                       MailStart(1, 1),
                                       Refused(550, 4204, kRefusalText),
                                       {S(4109), S(4109), S(4113), S(4103), S(4402)}}));
        EXPECT_TRUE(rig.observer.reconnectNotices().empty());
    }
    // With AUTH LOGIN, a server that no longer takes connections: each
    // failed attempt is shown to the user.
    {
        SCOPED_TRACE("SMTP server gone");
        Rig rig;
        rig.Add({"Ann", "ann@example.com"});
        Script s;
        Greet(s, true);
        Refuse(s, "ann@example.com", true);
        rig.server.AddSession(Quit(s));

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{2}));
        EXPECT_EQ(LogEvents(), Concat({{rig.Connected(2)},
                                       MailStart(1, 1),
                                       Refused(550, 4204, kRefusalText),
                                       {S(4102), S(4102), S(4113), S(4103), S(4402)}}));
        EXPECT_EQ(rig.observer.reconnectNotices(), (Lines{S(4102), S(4102)}));
    }
}

TEST_F(MailsendthreadTest, ConnectionFailureFailsTheJob) {
    for (bool emptyHost : {true, false}) {
        SCOPED_TRACE(emptyHost ? "no SMTP server set" : "server closes at once");
        Rig rig;
        if (emptyHost) rig.info.smtpServer.clear();
        rig.Add({"Ann", "ann@example.com", true, 1});
        rig.Add({"Bob", "bob@example.com"});

        ASSERT_TRUE(rig.Run());
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeFailed);
        EXPECT_EQ(rig.observer.finishedOutcome(), kSendOutcomeFailed);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{1, 0}));
        EXPECT_EQ(rig.job->NotSentCount(), 2);
        EXPECT_EQ(LogEvents(), (Lines{S(4102), S(4401)}));
    }
}

// Cancel from another thread while the worker is blocked in the network:
// the blocked call returns at once and the job ends cancelled, keeping the
// states of the mails already sent.
TEST_F(MailsendthreadTest, CancelEndsABlockedCallAtOnce) {
    enum class Where { Connect, Reply, Data };
    for (Where where : {Where::Connect, Where::Reply, Where::Data}) {
        SCOPED_TRACE(where == Where::Connect ? "connect" : where == Where::Reply ? "reply wait" : "DATA");
        Rig rig;
        std::mutex m;
        std::condition_variable cv;
        bool blocked = false;
        auto signalOn = [&](TNetWait wanted) {
            rig.job->Net().SetWaitHook([&, wanted](TNetWait w) {
                if (w != wanted) return;
                std::lock_guard lock(m);
                blocked = true;
                cv.notify_all();
            });
        };
        FullBacklogPort backlog;
        std::vector<int32_t> expectedStates;
        Lines expectedLog;
        if (where == Where::Connect) {
            ASSERT_TRUE(backlog.Ok());
            rig.info.smtpServer = "127.0.0.1:" + std::to_string(backlog.Port());
            rig.Add({"Ann", "ann@example.com", true, 1});
            signalOn(TNetWait::Connect);
            expectedStates = {1};
            expectedLog = {S(4203), S(4402)};
        } else if (where == Where::Reply) {
            rig.Add({"Ann", "ann@example.com", true, 0});
            rig.Add({"Bob", "bob@example.com", true, 1});
            rig.Add({"Cy", "cy@example.com", true, 1});
            Script s;
            Greet(s, false);
            Accept(s, "ann@example.com");
            rig.server.AddSession(s.Expect("RSET").Signal("rset").Hang());
            expectedStates = {1, 2, 1};
            expectedLog = Concat({{rig.Connected(0)},
                                  MailStart(1, 1),
                                  {S(4114)},
                                  MailStart(2, 2),
                                  {S(4111) + " ( -999 )", S(4203), S(4113), S(4103), S(4402)}});
        } else {
            // A big attachment and a server that stops reading after "354".
            std::string big(12u << 20, 'x');
            rig.attachments = {dir_.write("big.bin", big)};
            rig.server.SetReceiveBuffer(4096);
            rig.Add({"Ann", "ann@example.com", true, 1});
            rig.Add({"Bob", "bob@example.com", true, 0});
            Script s;
            Greet(s, false);
            Begin(s, false).Expect("MAIL FROM:<" + kSender + ">").Reply("250 ok");
            rig.server.AddSession(
                s.Expect("RCPT TO:<ann@example.com>").Reply("250 ok").Expect("DATA").Reply("354 go").Hang());
            signalOn(TNetWait::Write);
            expectedStates = {2, 0};
            expectedLog = Concat({{rig.Connected(0)},
                                  MailStart(1, 1),
                                  {S(4111) + " ( -999 )", S(4203), S(4113), S(4103), S(4402)}});
        }

        ASSERT_TRUE(rig.Start());
        if (where == Where::Reply) {
            ASSERT_TRUE(rig.server.WaitForSignal("rset"));
        } else {
            std::unique_lock lock(m);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return blocked; }));
        }
        EXPECT_TRUE(rig.job->IsRunning());
        ScriptedSendObserver other;
        EXPECT_FALSE(rig.job->Start(&other));  // one job at a time
        rig.job->Cancel();
        ASSERT_TRUE(rig.observer.WaitFinished());
        rig.job->Wait();
        rig.job->Net().SetWaitHook({});

        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.observer.finishedOutcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), expectedStates);
        EXPECT_EQ(LogEvents(), expectedLog);
        EXPECT_TRUE(other.calls().empty());
    }
}

// The waits show when they end and end at once when the job is cancelled.
TEST_F(MailsendthreadTest, WaitsShowTheResumeTimeAndEndOnCancel) {
    SetClock([] { return At(2, 23, 30); });
    for (bool resend : {false, true}) {
        SCOPED_TRACE(resend ? "before a resend" : "between mails");
        Rig rig;
        rig.Add({"Ann", "ann@example.com"});
        rig.Add({"Bob", "bob@example.com", false});  // not selected: no wait of its own
        rig.Add({"Cy", "cy@example.com"});
        Script s;
        Greet(s, true);
        if (resend) {
            rig.options.minutesBeforeResend = 60;
            Refuse(s, "ann@example.com", true);
            rig.server.AddSession(Quit(s));
            Script again;
            Greet(again, true);
            Refuse(again, "ann@example.com", true);
            rig.server.AddSession(Quit(again));
        } else {
            rig.options.secondsBetweenMails = 3600;
            Accept(s, "ann@example.com", true);
            rig.server.AddSession(Quit(s));
        }
        const std::string resume = (resend ? S(4308) : S(4307)) + "/Resume:2026/01/03 0:30:00";

        ASSERT_TRUE(rig.Start());
        ASSERT_TRUE(rig.observer.WaitForStatus("/Resume:"));
        rig.job->Cancel();
        ASSERT_TRUE(rig.observer.WaitFinished());
        rig.job->Wait();

        const Lines statuses = rig.observer.statuses();
        EXPECT_TRUE(HasStatusWith(statuses, resume)) << statuses.back();
        EXPECT_EQ(rig.job->Outcome(), kSendOutcomeCancelled);
        EXPECT_EQ(rig.States(), (std::vector<int32_t>{resend ? 2 : 1, 0, 0}));
        EXPECT_EQ(rig.job->NotSentCount(), 1);
        const Lines log = LogEvents();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], S(4103));
        EXPECT_EQ(log.back(), S(4402));
        if (!resend) {
            // "Standing by" first, then when the wait ends.
            auto at = std::find(statuses.begin(), statuses.end(), resume);
            ASSERT_NE(at, statuses.begin());
            EXPECT_EQ(*(at - 1), S(4307));
        }
    }
}

TEST_F(MailsendthreadTest, NoResendWaitAfterTheLastMail) {
    Rig rig;
    rig.options.minutesBeforeResend = 60;
    // A wait that should not be there would hold the job for an hour: end it.
    rig.observer.OnStatus([&rig](const std::string& text) {
        if (text.find("/Resume:") != std::string::npos) rig.job->Cancel();
    });
    rig.Add({"Ann", "ann@example.com"});
    rig.Add({"Bob", "bob@example.com", false});
    for (int i = 0; i < 2; ++i) {
        Script s;
        Greet(s, true);
        Refuse(s, "ann@example.com", true);
        rig.server.AddSession(Quit(s));
    }

    ASSERT_TRUE(rig.Run());
    EXPECT_FALSE(HasStatusWith(rig.observer.statuses(), "/Resume:"));
    EXPECT_EQ(rig.job->Outcome(), kSendOutcomeFailed);
    EXPECT_EQ(rig.job->FailedCount(), 1);
    EXPECT_EQ(LogEvents().back(), S(4401));
}

// The worker serves one job per start; each job restarts the log.
TEST_F(MailsendthreadTest, EachJobRestartsTheLog) {
    Rig rig;
    rig.Add({"Ann", "ann@example.com"});
    for (int i = 0; i < 2; ++i) {
        Script s;
        Greet(s, false);
        Accept(s, "ann@example.com");
        rig.server.AddSession(Quit(s));
    }
    ASSERT_TRUE(rig.Run());
    ASSERT_TRUE(rig.Run());
    EXPECT_EQ(LogEvents(), Concat({{rig.Connected(0)}, MailStart(1, 1), {S(4114), S(4103), S(4104)}}));
    EXPECT_EQ(rig.server.Bodies().size(), 2u);
    EXPECT_EQ(rig.observer.outcomes(), (std::vector<int>{1, 1}));
}

TEST_F(MailsendthreadTest, DestroyingARunningJobCancelsIt) {
    FullBacklogPort backlog;
    ASSERT_TRUE(backlog.Ok());
    ScriptedSendObserver observer;
    auto job = std::make_unique<TMailSendThread>();
    std::mutex m;
    std::condition_variable cv;
    bool blocked = false;
    job->Net().SetWaitHook([&](TNetWait w) {
        if (w != TNetWait::Connect) return;
        std::lock_guard lock(m);
        blocked = true;
        cv.notify_all();
    });
    serverinfo info;
    info.smtpServer = "127.0.0.1:" + std::to_string(backlog.Port());
    job->SetServer(info);
    TPVDatabase book;
    book.FieldNames.assign(TPVDatabase::FieldCount, "f");
    book.Count = 1;
    book.Records[0].Values.assign(TPVDatabase::FieldCount, "a@example.com");
    book.Records[0].Selected = 1;
    job->SetAddressBook(book);
    ASSERT_TRUE(job->Start(&observer));
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return blocked; }));
    }
    job.reset();
    EXPECT_EQ(observer.finishedOutcome(), kSendOutcomeCancelled);
}

}  // namespace
