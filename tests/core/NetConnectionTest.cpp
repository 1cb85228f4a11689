#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "delivery/Mailmessage.h"
#include "delivery/Net.h"
#include "support/FakeMailServer.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using Script = FakeMailServer::Script;

namespace {

// Short enough that a wrong wait fails the test quickly, long enough for a loaded machine.
constexpr auto kTestTimeout = 10s;
// For cancel tests: a cancel that did not work would run into this instead.
constexpr auto kLongTimeout = 120s;

void SetUpModule(TNetModule& net, const std::string& server,
                 std::chrono::milliseconds timeout = kTestTimeout) {
    net.SetAgent("PelvanePersonal", "1.0");
    net.SetSmtpServer(server, "user", "secret");
    net.SetTimeouts(timeout, timeout, timeout);
}

// An English plain mail with one address in each list.
void FillMessage(TNetModule& net, std::vector<std::string> body = {"Hello,", ".", "bye"}) {
    net.SetMode(1);
    net.ResetMessage();
    net.SetSender("sender@example.com", "Sender");
    net.SetSubject("Greetings");
    net.AddRecipient(TRecipientKind::To, "to@example.com");
    net.AddRecipient(TRecipientKind::Cc, "cc@example.com");
    net.AddRecipient(TRecipientKind::Bcc, "bcc@example.com");
    net.SetPlainBody(std::move(body));
}

// What the writer makes of the module's message now (with its X-Mailer).
std::string WrittenMessage(const TNetModule& net) {
    TStringSink sink;
    EXPECT_EQ(net.WriteMessage(sink), kMessageWritten);
    return sink.data;
}

Script& Greet(Script& s, const std::vector<std::string>& ehloLines = {
                             "250-fake.example", "250-AUTH PLAIN LOGIN", "250 8BITMIME"}) {
    s.Reply("220 fake.example ESMTP ready").Expect("EHLO PelvanePersonal");
    for (const std::string& line : ehloLines) s.Reply(line);
    return s;
}

Script& ExpectAuth(Script& s) {
    return s.Expect("AUTH LOGIN")
        .Reply("334 VXNlcm5hbWU6")
        .Expect("dXNlcg==")
        .Reply("334 UGFzc3dvcmQ6")
        .Expect("c2VjcmV0")
        .Reply("235 2.7.0 Authentication successful");
}

Script& ExpectEnvelope(Script& s) {
    return s.Expect("MAIL FROM:<sender@example.com>")
        .Reply("250 OK")
        .Expect("RCPT TO:<to@example.com>")
        .Reply("250 OK")
        .Expect("RCPT TO:<cc@example.com>")
        .Reply("251 will forward")
        .Expect("RCPT TO:<bcc@example.com>")
        .Reply("250 OK");
}

Script& ExpectData(Script& s) {
    return s.Expect("DATA").Reply("354 go ahead").ReadData().Reply("250 queued");
}

Script& ExpectQuit(Script& s) { return s.Expect("QUIT").Reply("221 bye"); }

void ExpectNoMismatch(const FakeMailServer& server) {
    for (const std::string& m : server.Mismatches()) ADD_FAILURE() << m;
}

// Records which waits the module entered, so a test can act while it blocks.
class WaitWatch {
public:
    std::function<void(TNetWait)> Hook() {
        return [this](TNetWait w) {
            std::lock_guard lock(mutex_);
            seen_.insert(w);
            changed_.notify_all();
        };
    }
    bool WaitFor(TNetWait w) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return seen_.count(w) > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<TNetWait> seen_;
};

// A loopback port nobody listens on.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

}  // namespace

// ---- server texts ----

TEST(NetConnectionAddress, ParsesHostAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"mail.example.com", true, "mail.example.com", 25},
        {"mail.example.com:587", true, "mail.example.com", 587},
        {" 127.0.0.1:2525 ", true, "127.0.0.1", 2525},
        {"[::1]:2525", true, "::1", 2525},
        {"[::1]", true, "::1", 25},
        {"::1", true, "::1", 25},
        {"fe80::1:2", true, "fe80::1:2", 25},
        {"", false, "", 0},
        {":25", false, "", 0},
        {"[]:25", false, "", 0},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:25x", false, "", 0},
        {"host:999999999999", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x25", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host, problem;
        int port = 0;
        bool ok = ParseServerAddress(c.text, 25, host, port, problem);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        } else {
            EXPECT_FALSE(problem.empty()) << c.text;
        }
    }
}

// ---- ConnectSmtp ----

TEST(NetConnectionSmtp, AuthenticationKindFollowsTheEhloReply) {
    struct Case {
        std::vector<std::string> ehlo;
        int kind;
        std::vector<std::string> mechanisms;
    } cases[] = {
        {{"250-fake", "250-AUTH PLAIN LOGIN", "250 8BITMIME"}, kAuthSmtpLogin, {"PLAIN", "LOGIN"}},
        {{"250-fake", "250 AUTH=LOGIN"}, kAuthSmtpLogin, {"LOGIN"}},
        {{"250-fake", "250-auth=CRAM-MD5 LOGIN", "250-AUTH LOGIN PLAIN", "250 SIZE"},
         kAuthSmtpLogin,
         {"CRAM-MD5", "LOGIN", "PLAIN"}},
        {{"250-fake", "250 AUTH PLAIN CRAM-MD5"}, kAuthNone, {"PLAIN", "CRAM-MD5"}},
        {{"250-fake", "250 AUTH login"}, kAuthNone, {"login"}},  // the name must be exactly LOGIN
        {{"250-fake", "250-AUTHLOGIN", "250 XAUTH LOGIN"}, kAuthNone, {}},
        {{"250 fake"}, kAuthNone, {}},
    };
    for (const Case& c : cases) {
        FakeMailServer server;
        Script s;
        ExpectQuit(Greet(s, c.ehlo));
        server.AddSession(s);
        ASSERT_TRUE(server.Start()) << server.Error();
        TNetModule net;
        SetUpModule(net, server.Address());
        EXPECT_EQ(net.AuthKind(), kAuthPopBeforeSmtp);
        ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
        EXPECT_EQ(net.AuthKind(), c.kind) << c.ehlo.back();
        EXPECT_EQ(net.ServerMechanisms(), c.mechanisms) << c.ehlo.back();
        EXPECT_TRUE(net.IsSmtpConnected());
        net.DisconnectSmtp();
        EXPECT_FALSE(net.IsSmtpConnected());
        ASSERT_TRUE(server.WaitForSessions(1));
        ExpectNoMismatch(server);
    }
}

TEST(NetConnectionSmtp, RefusedEhloFallsBackToHelo) {
    FakeMailServer server;
    Script s;
    s.Reply("220-fake.example first line")
        .Reply("220 second line")
        .Expect("EHLO PelvanePersonal")
        .Reply("502 5.5.1 command not implemented")
        .Expect("HELO PelvanePersonal")
        .Reply("250 fake.example");
    ExpectQuit(s);
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
    EXPECT_EQ(net.AuthKind(), kAuthNone);
    EXPECT_TRUE(net.ServerMechanisms().empty());
    net.DisconnectSmtp();
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);
}

TEST(NetConnectionSmtp, FailedConnectionsReturnFalseWithAReason) {
    struct Case {
        const char* name;
        Script script;
        const char* errorPart;
    };
    std::vector<Case> cases;
    {
        Script s;
        s.Reply("554 5.3.2 no service for you");
        cases.push_back({"greeting refused", s, "5.3.2 no service for you"});
    }
    {
        Script s;
        s.Reply("220 fake")
            .Expect("EHLO PelvanePersonal")
            .Reply("500 no")
            .Expect("HELO PelvanePersonal")
            .Reply("501 5.5.4 bad name");
        cases.push_back({"HELO refused", s, "5.5.4 bad name"});
    }
    {
        Script s;
        s.Send("SSH-2.0-OpenSSH_9.2\r\n");
        cases.push_back({"garbage greeting", s, "no valid reply"});
    }
    {
        Script s;
        s.Reply("220-fake").Send("220").Drop();  // no line end, then closed
        cases.push_back({"closed inside the greeting", s, "closed"});
    }
    {
        Script s;
        s.Drop();
        cases.push_back({"closed before the greeting", s, "closed"});
    }
    {
        Script s;
        s.Send("220 ").SendFlood(10 * 1024 * 1024);
        cases.push_back({"10 MB greeting line", s, "longer than"});
    }
    {
        Script s;
        s.Reply("220 fake").Expect("EHLO PelvanePersonal").Reset();
        cases.push_back({"reset after EHLO", s, "reset"});
    }
    for (Case& c : cases) {
        FakeMailServer server;
        server.AddSession(c.script);
        ASSERT_TRUE(server.Start());
        TNetModule net;
        SetUpModule(net, server.Address());
        EXPECT_FALSE(net.ConnectSmtp()) << c.name;
        EXPECT_NE(net.LastErrorText().find(c.errorPart), std::string::npos)
            << c.name << ": " << net.LastErrorText();
        EXPECT_FALSE(net.IsSmtpConnected()) << c.name;
        EXPECT_EQ(net.AuthKind(), kAuthPopBeforeSmtp) << c.name;
    }
}

TEST(NetConnectionSmtp, SilentServerTimesOutInTheGreeting) {
    FakeMailServer server;
    server.AddSession(Script().Hang());
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    TNetTimeouts t = net.Timeouts();
    t.greeting = 200ms;
    net.SetTimeouts(t);
    EXPECT_FALSE(net.ConnectSmtp());
    EXPECT_NE(net.LastErrorText().find("timed out"), std::string::npos) << net.LastErrorText();
}

TEST(NetConnectionSmtp, UnreachableServersFailWithAClearText) {
    struct Case {
        std::string server;
        const char* errorPart;
    } cases[] = {
        {"", ""},
        {"no-such-host.invalid", "Cannot resolve the server name \"no-such-host.invalid\""},
        {"127.0.0.1:" + std::to_string(ClosedPort()), "Connection refused"},
        {"127.0.0.1:99999", "Invalid port"},
    };
    for (const Case& c : cases) {
        TNetModule net;
        SetUpModule(net, c.server);
        EXPECT_FALSE(net.ConnectSmtp()) << c.server;
        EXPECT_NE(net.LastErrorText().find(c.errorPart), std::string::npos)
            << c.server << ": " << net.LastErrorText();
        if (c.server.empty()) {
            EXPECT_TRUE(net.LastErrorText().empty());
        }
    }
}

TEST(NetConnectionSmtp, ConnectsOverIpv6AndByName) {
    {
        FakeMailServer server(FakeMailServer::Family::IPv6);
        if (!server.Start()) GTEST_SKIP() << "no IPv6 loopback: " << server.Error();
        Script s;
        server.AddSession(ExpectQuit(Greet(s)));
        TNetModule net;
        SetUpModule(net, server.Address());
        EXPECT_EQ(server.Address().front(), '[');
        ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
        net.DisconnectSmtp();
        ASSERT_TRUE(server.WaitForSessions(1));
        ExpectNoMismatch(server);
    }
    {
        // "localhost" goes through the name lookup and may give ::1 first,
        // where nobody listens: the next address is tried.
        FakeMailServer server;
        Script s;
        server.AddSession(ExpectQuit(Greet(s)));
        ASSERT_TRUE(server.Start());
        TNetModule net;
        SetUpModule(net, "localhost:" + std::to_string(server.Port()));
        ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
        net.DisconnectSmtp();
        ASSERT_TRUE(server.WaitForSessions(1));
        ExpectNoMismatch(server);
    }
}

// ---- SendMessage ----

TEST(NetConnectionSend, TwoMailsOverOneConnectionAuthenticateOnce) {
    FakeMailServer server;
    Script s;
    Greet(s);
    s.Expect("RSET").Reply("250 reset");
    ExpectAuth(s);
    ExpectData(ExpectEnvelope(s));
    s.Expect("RSET").Reply("250 reset");
    ExpectData(ExpectEnvelope(s));
    ExpectQuit(s);
    server.AddSession(s);
    ASSERT_TRUE(server.Start());

    TNetModule net;
    SetUpModule(net, server.Address());
    ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
    FillMessage(net);
    int code = -1;
    ASSERT_TRUE(net.SendMessage(&code)) << net.LastResultCode() << " " << net.FailureDetail();
    EXPECT_EQ(code, kSendOk);
    EXPECT_TRUE(net.IsAuthenticated());
    const std::string first = WrittenMessage(net);
    FillMessage(net, {"Second mail"});
    ASSERT_TRUE(net.SendMessage()) << net.LastResultCode() << " " << net.FailureDetail();
    const std::string second = WrittenMessage(net);
    net.DisconnectSmtp();
    EXPECT_FALSE(net.IsAuthenticated());
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);

    const std::vector<std::string> bodies = server.Bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], first);
    EXPECT_EQ(bodies[1], second);
    EXPECT_NE(bodies[0].find("\r\nX-Mailer: PelvanePersonal 1.0\r\n"), std::string::npos);
    EXPECT_NE(bodies[0].find("\r\n..\r\n"), std::string::npos);  // the "." body line, stuffed
    EXPECT_EQ(bodies[0].find("bcc@example.com"), std::string::npos);
    EXPECT_EQ(server.SessionAt(0).transcript,
              "EHLO PelvanePersonal\r\nRSET\r\nAUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n"
              "MAIL FROM:<sender@example.com>\r\nRCPT TO:<to@example.com>\r\nRCPT TO:<cc@example.com>\r\n"
              "RCPT TO:<bcc@example.com>\r\nDATA\r\n" +
                  first +
                  ".\r\nRSET\r\nMAIL FROM:<sender@example.com>\r\nRCPT TO:<to@example.com>\r\n"
                  "RCPT TO:<cc@example.com>\r\nRCPT TO:<bcc@example.com>\r\nDATA\r\n" +
                  second + ".\r\nQUIT\r\n");
}

TEST(NetConnectionSend, NoLoginOfferedMeansNoAuthAndEmptyRecipientsAreSentAsIs) {
    FakeMailServer server;
    Script s;
    Greet(s, {"250-fake", "250 AUTH CRAM-MD5"});
    s.Expect("RSET")
        .Reply("250 reset")
        .Expect("MAIL FROM:<sender@example.com>")
        .Reply("250 OK")
        .Expect("RCPT TO:<>")
        .Reply("250 OK");
    ExpectData(s);
    ExpectQuit(s);
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    ASSERT_TRUE(net.ConnectSmtp());
    net.SetMode(1);
    net.ResetMessage();
    net.SetSender("sender@example.com", "");
    net.AddRecipient(TRecipientKind::To, "");
    net.SetPlainBody({"x"});
    EXPECT_TRUE(net.SendMessage()) << net.FailureDetail();
    EXPECT_FALSE(net.IsAuthenticated());
    net.DisconnectSmtp();
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);
}

// Every class of failure of a send: the result code, the last error text
// and whether the connection is still usable afterwards.
TEST(NetConnectionSend, FailuresGiveTheResultCodeOfTheirClass) {
    struct Case {
        const char* name;
        std::function<void(Script&)> after;  // the script after the greeting (LOGIN offered)
        int code;
        std::string errorText;
        bool connected;
    };
    auto rset = [](Script& s) -> Script& { return s.Expect("RSET").Reply("250 reset"); };
    auto authMail = [&](Script& s) -> Script& {
        return ExpectAuth(rset(s)).Expect("MAIL FROM:<sender@example.com>");
    };
    std::string manyLines;
    for (int i = 0; i < 20000; ++i) manyLines += "250-" + std::string(60, 'y') + "\r\n";
    const std::vector<Case> cases = {
        {"550 to RCPT",
         [&](Script& s) {
             authMail(s)
                 .Reply("250 OK")
                 .Expect("RCPT TO:<to@example.com>")
                 .Reply("550 5.1.1 <to@example.com>: User unknown");
         },
         550, "5.1.1 <to@example.com>: User unknown", true},
        {"multi-line 553 to MAIL",
         [&](Script& s) { authMail(s).Reply("553-5.7.1 sender rejected").Reply("553 5.7.1 see the policy"); },
         553, "5.7.1 sender rejected\r\n5.7.1 see the policy", true},
        {"503 to MAIL", [&](Script& s) { authMail(s).Reply("503 5.5.1 bad sequence"); }, 503,
         "5.5.1 bad sequence", true},
        {"521 to DATA",
         [&](Script& s) {
             ExpectEnvelope(ExpectAuth(rset(s))).Expect("DATA").Reply("521 5.3.2 no mail accepted");
         },
         521, "5.3.2 no mail accepted", true},
        {"535 to the password",
         [&](Script& s) {
             rset(s)
                 .Expect("AUTH LOGIN")
                 .Reply("334 VXNlcm5hbWU6")
                 .Expect("dXNlcg==")
                 .Reply("334 UGFzc3dvcmQ6")
                 .Expect("c2VjcmV0")
                 .Reply("535 5.7.8 bad credentials");
         },
         535, "5.7.8 bad credentials", true},
        {"554 to the final period",
         [&](Script& s) {
             ExpectEnvelope(ExpectAuth(rset(s)))
                 .Expect("DATA")
                 .Reply("354 go")
                 .ReadData()
                 .Reply("554 5.6.0 message rejected");
         },
         554, "5.6.0 message rejected", true},
        {"garbage reply",
         [&](Script& s) {
             rset(s);
             ExpectAuth(s).Expect("MAIL FROM:<sender@example.com>").Reply("hello there");
         },
         kSendSocketError, "", false},
        {"reply code out of range", [&](Script& s) { authMail(s).Reply("999 nine nine nine"); },
         kSendSocketError, "", false},
        {"10 MB reply line", [&](Script& s) { authMail(s).Send("250 ").SendFlood(10 * 1024 * 1024); },
         kSendSocketError, "", false},
        {"reply of more than 1 MB", [&](Script& s) { authMail(s).Send(manyLines); }, kSendSocketError, "",
         false},
        {"closed before the reply to MAIL", [&](Script& s) { authMail(s).Drop(); }, kSendServerClosed, "",
         false},
        {"closed before the reply to RSET", [&](Script& s) { s.Expect("RSET").Drop(); }, kSendServerClosed,
         "", false},
        {"reset in RCPT",
         [&](Script& s) { authMail(s).Reply("250 OK").Expect("RCPT TO:<to@example.com>").Reset(); },
         kSendServerClosed, "", false},
        {"closed after 354",
         [&](Script& s) { ExpectEnvelope(ExpectAuth(rset(s))).Expect("DATA").Reply("354 go").Drop(); },
         kSendServerClosed, "", false},
        {"no reply to the final period",
         [&](Script& s) {
             ExpectEnvelope(ExpectAuth(rset(s))).Expect("DATA").Reply("354 go").ReadData().Hang();
         },
         kSendTimedOut, "", false},
        {"no reply to RCPT",
         [&](Script& s) { authMail(s).Reply("250 OK").Expect("RCPT TO:<to@example.com>").Hang(); },
         kSendTimedOut, "", false},
    };
    for (const Case& c : cases) {
        FakeMailServer server;
        Script s;
        Greet(s);
        c.after(s);
        server.AddSession(s);
        ASSERT_TRUE(server.Start());
        TNetModule net;
        SetUpModule(net, server.Address());
        TNetTimeouts t = net.Timeouts();
        if (c.code == kSendTimedOut) t.command = t.dataEnd = 300ms;
        net.SetTimeouts(t);
        ASSERT_TRUE(net.ConnectSmtp()) << c.name;
        FillMessage(net);
        int code = 0;
        EXPECT_FALSE(net.SendMessage(&code)) << c.name;
        EXPECT_EQ(code, c.code) << c.name << ": " << net.FailureDetail();
        EXPECT_EQ(net.LastResultCode(), c.code) << c.name;
        EXPECT_EQ(net.LastErrorText(), c.errorText) << c.name;
        EXPECT_FALSE(net.FailureDetail().empty()) << c.name;
        EXPECT_EQ(net.IsSmtpConnected(), c.connected) << c.name;
        net.SetTimeouts(300ms, 300ms, 300ms);  // the QUIT of a connected module goes unanswered here
        net.DisconnectSmtp();
        EXPECT_FALSE(net.IsSmtpConnected()) << c.name;
    }
}

TEST(NetConnectionSend, NotConnectedGives999) {
    TNetModule net;
    SetUpModule(net, "127.0.0.1:1");
    FillMessage(net);
    int code = 0;
    EXPECT_FALSE(net.SendMessage(&code));
    EXPECT_EQ(code, kSendNotConnected);
    EXPECT_TRUE(net.LastErrorText().empty());
}

TEST(NetConnectionSend, MissingAttachmentIsFoundBeforeAnythingIsSent) {
    TempDir dir;
    FakeMailServer server;
    Script s;
    Greet(s);
    s.Expect("RSET").Reply("250 reset");
    ExpectAuth(s);
    ExpectData(ExpectEnvelope(s));
    ExpectQuit(s);
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    ASSERT_TRUE(net.ConnectSmtp());
    FillMessage(net);
    net.AddAttachments({dir.file("missing.pdf")});
    int code = 0;
    EXPECT_FALSE(net.SendMessage(&code));
    EXPECT_EQ(code, kSendFileUnreadable);
    EXPECT_TRUE(net.LastErrorText().empty());
    EXPECT_NE(net.FailureDetail().find("missing.pdf"), std::string::npos);
    EXPECT_TRUE(net.IsSmtpConnected());
    EXPECT_EQ(server.SessionAt(0).transcript, "EHLO PelvanePersonal\r\n");
    // The connection is still good for the next mail.
    FillMessage(net);
    EXPECT_TRUE(net.SendMessage()) << net.FailureDetail();
    net.DisconnectSmtp();
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);
}

TEST(NetConnectionSend, ReconnectingStartsANewAuthentication) {
    FakeMailServer server;
    for (int i = 0; i < 2; ++i) {
        Script s;
        Greet(s);
        s.Expect("RSET").Reply("250 reset");
        ExpectAuth(s);
        ExpectData(ExpectEnvelope(s));
        ExpectQuit(s);
        server.AddSession(s);
    }
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(net.ConnectSmtp());
        FillMessage(net);
        EXPECT_TRUE(net.SendMessage()) << net.FailureDetail();
        EXPECT_TRUE(net.IsAuthenticated());
    }
    net.DisconnectSmtp();
    ASSERT_TRUE(server.WaitForSessions(2));
    ExpectNoMismatch(server);
}

TEST(NetConnectionSend, DisconnectNeverFails) {
    FakeMailServer server;
    Script s;
    Greet(s).Expect("QUIT").Drop();
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    ASSERT_TRUE(net.ConnectSmtp());
    net.DisconnectSmtp();
    EXPECT_FALSE(net.IsSmtpConnected());
    net.DisconnectSmtp();  // not connected: nothing happens
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);
}

// ---- cancel ----

namespace {

// Runs `work` on a worker thread, waits until the module blocks in `wait`,
// cancels from this thread and returns when the worker is done.
void CancelWhenBlocked(TNetModule& net, TNetWait wait, const std::function<void()>& work) {
    WaitWatch watch;
    net.SetWaitHook(watch.Hook());
    std::thread worker(work);
    EXPECT_TRUE(watch.WaitFor(wait));
    net.Cancel();
    worker.join();
    net.SetWaitHook({});
}

}  // namespace

TEST(NetConnectionCancel, EndsABlockedConnect) {
    FullBacklogPort port;
    ASSERT_TRUE(port.Ok());
    TNetModule net;
    SetUpModule(net, "127.0.0.1:" + std::to_string(port.Port()), kLongTimeout);
    bool connected = true;
    CancelWhenBlocked(net, TNetWait::Connect, [&] { connected = net.ConnectSmtp(); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(net.LastErrorText(), "The connection was cancelled.");
    EXPECT_FALSE(net.IsSmtpConnected());
}

TEST(NetConnectionCancel, EndsAWaitForTheGreeting) {
    FakeMailServer server;
    server.AddSession(Script().Hang());
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address(), kLongTimeout);
    bool connected = true;
    CancelWhenBlocked(net, TNetWait::Reply, [&] { connected = net.ConnectSmtp(); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(net.LastErrorText(), "The connection was cancelled.");
}

TEST(NetConnectionCancel, EndsAWaitForAReply) {
    FakeMailServer server;
    Script s;
    Greet(s).Expect("RSET").Reply("250 reset");
    ExpectAuth(s).Expect("MAIL FROM:<sender@example.com>").Signal("mail").Hang();
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address(), kLongTimeout);
    ASSERT_TRUE(net.ConnectSmtp());
    FillMessage(net);
    int code = 0;
    std::thread worker([&] { net.SendMessage(&code); });
    // The server holds the MAIL FROM, so the client waits for its reply.
    EXPECT_TRUE(server.WaitForSignal("mail"));
    net.Cancel();
    worker.join();
    EXPECT_EQ(code, kSendOtherFailure);
    EXPECT_TRUE(net.LastErrorText().empty());
    EXPECT_FALSE(net.IsSmtpConnected());
}

TEST(NetConnectionCancel, EndsABlockedWriteInsideData) {
    FakeMailServer server;
    server.SetReceiveBuffer(4096);
    Script s;
    Greet(s).Expect("RSET").Reply("250 reset");
    ExpectEnvelope(ExpectAuth(s)).Expect("DATA").Reply("354 go").Hang();
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address(), kLongTimeout);
    ASSERT_TRUE(net.ConnectSmtp());
    // Far more than the socket buffers of both sides hold.
    FillMessage(net, std::vector<std::string>(300'000, std::string(100, 'z')));
    int code = 0;
    CancelWhenBlocked(net, TNetWait::Write, [&] { net.SendMessage(&code); });
    EXPECT_EQ(code, kSendOtherFailure);
    EXPECT_FALSE(net.IsSmtpConnected());
}

TEST(NetConnectionCancel, StaysInForceUntilReset) {
    FakeMailServer server;
    Script s;
    Greet(s).Expect("RSET").Reply("250 reset");
    ExpectData(ExpectEnvelope(ExpectAuth(s)));
    ExpectQuit(s);
    server.AddSession(s);
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, server.Address());
    net.Cancel();
    EXPECT_TRUE(net.IsCancelled());
    EXPECT_FALSE(net.ConnectSmtp());
    EXPECT_EQ(net.LastErrorText(), "The connection was cancelled.");
    net.ResetCancel();
    ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
    FillMessage(net);
    net.Cancel();
    int code = 0;
    EXPECT_FALSE(net.SendMessage(&code));
    EXPECT_EQ(code, kSendOtherFailure);
    EXPECT_FALSE(net.IsSmtpConnected());
    // The server saw the EHLO only: the cancelled send wrote nothing.
    EXPECT_EQ(server.SessionAt(0).transcript, "EHLO PelvanePersonal\r\n");
}

// ---- POP3 ----

TEST(NetConnectionPop, LogsInAndQuits) {
    FakeMailServer server;
    server.AddSession(Script()
                          .Reply("+OK POP3 ready")
                          .Expect("USER user")
                          .Reply("+OK")
                          .Expect("PASS secret")
                          .Reply("+OK logged in")
                          .Expect("QUIT")
                          .Reply("+OK bye"));
    ASSERT_TRUE(server.Start());
    TNetModule net;
    SetUpModule(net, "unused");
    net.SetPopServer(server.Address(), "user", "secret");
    ASSERT_TRUE(net.PopLogin()) << net.LastErrorText();
    EXPECT_TRUE(net.IsPopConnected());
    EXPECT_TRUE(net.LastErrorText().empty());
    net.PopDisconnect();
    EXPECT_FALSE(net.IsPopConnected());
    ASSERT_TRUE(server.WaitForSessions(1));
    ExpectNoMismatch(server);
    EXPECT_EQ(server.SessionAt(0).transcript, "USER user\r\nPASS secret\r\nQUIT\r\n");
}

TEST(NetConnectionPop, FailedLoginsReturnFalseWithAReason) {
    struct Case {
        const char* name;
        Script script;
        std::string password;
        const char* errorPart;
        const char* transcript;
    };
    std::vector<Case> cases;
    cases.push_back({"refused password",
                     Script()
                         .Reply("+OK ready")
                         .Expect("USER user")
                         .Reply("+OK")
                         .Expect("PASS secret")
                         .Reply("-ERR [AUTH] Authentication failed."),
                     "secret", "-ERR [AUTH] Authentication failed.", "USER user\r\nPASS secret\r\n"});
    cases.push_back({"refused greeting", Script().Reply("-ERR busy"), "secret", "-ERR busy", ""});
    cases.push_back(
        {"garbage greeting", Script().Reply("220 this is SMTP"), "secret", "no valid POP3 reply", ""});
    cases.push_back({"closed after USER", Script().Reply("+OK ready").Expect("USER user").Drop(), "secret",
                     "closed", "USER user\r\n"});
    cases.push_back({"password with a line break",
                     Script().Reply("+OK ready").Expect("USER user").Reply("+OK"), "se\r\nDELE 1",
                     "line break", "USER user\r\n"});
    for (Case& c : cases) {
        FakeMailServer server;
        server.AddSession(c.script);
        ASSERT_TRUE(server.Start());
        TNetModule net;
        net.SetTimeouts(kTestTimeout, kTestTimeout, kTestTimeout);
        net.SetPopServer(server.Address(), "user", c.password);
        EXPECT_FALSE(net.PopLogin()) << c.name;
        EXPECT_NE(net.LastErrorText().find(c.errorPart), std::string::npos)
            << c.name << ": " << net.LastErrorText();
        EXPECT_FALSE(net.IsPopConnected()) << c.name;
        ASSERT_TRUE(server.WaitForSessions(1)) << c.name;
        EXPECT_EQ(server.SessionAt(0).transcript, c.transcript) << c.name;
    }
}

TEST(NetConnectionPop, EmptyHostFailsAtOnce) {
    TNetModule net;
    net.SetPopServer("", "user", "secret");
    EXPECT_FALSE(net.PopLogin());
    EXPECT_TRUE(net.LastErrorText().empty());
}

TEST(NetConnectionPop, PopBeforeSmtpUsesTwoConnections) {
    FakeMailServer pop;
    pop.AddSession(Script()
                       .Reply("+OK")
                       .Expect("USER user")
                       .Reply("+OK")
                       .Expect("PASS secret")
                       .Reply("+OK")
                       .Expect("QUIT")
                       .Reply("+OK"));
    ASSERT_TRUE(pop.Start());
    FakeMailServer smtp;
    Script s;
    Greet(s, {"250 fake"}).Expect("RSET").Reply("250 reset");
    ExpectData(ExpectEnvelope(s));
    ExpectQuit(s);
    smtp.AddSession(s);
    ASSERT_TRUE(smtp.Start());

    TNetModule net;
    SetUpModule(net, smtp.Address());
    net.SetPopServer(pop.Address(), "user", "secret");
    ASSERT_TRUE(net.PopLogin()) << net.LastErrorText();
    net.PopDisconnect();
    ASSERT_TRUE(net.ConnectSmtp()) << net.LastErrorText();
    EXPECT_EQ(net.AuthKind(), kAuthNone);
    FillMessage(net);
    EXPECT_TRUE(net.SendMessage()) << net.FailureDetail();
    net.DisconnectSmtp();
    ASSERT_TRUE(pop.WaitForSessions(1));
    ASSERT_TRUE(smtp.WaitForSessions(1));
    ExpectNoMismatch(pop);
    ExpectNoMismatch(smtp);
}
