#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Clock.h"
#include "delivery/Mailcreate.h"
#include "delivery/Mailmessage.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "support/TempDir.h"

namespace {

const std::string kMailFixtures = std::string(PELVANE_FIXTURES) + "/mail/";

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

// 2026-12-09 (a Wednesday) 10:37:26.045 in a zone 9 hours east of UTC.
TClockTime FixedTime() {
    TClockTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 9;
    t.hour = 10;
    t.minute = 37;
    t.second = 26;
    t.millisecond = 45;
    t.weekday = 3;
    t.utcOffsetMinutes = 540;
    t.standardOffsetMinutes = 540;
    return t;
}

// A delivery module as the send job sets it up, on a Japanese system.
void SetUpModule(TNetModule& net, int mode) {
    net.SetAgent("PelvanePersonal", "1.0");
    net.SetSmtpServer("mail.example.jp:587", "pelvane-user", "secret");
    net.SetMode(mode);
    net.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));
}

// Application paths in a temporary folder, with the main preview folder made.
class MailPaths {
public:
    MailPaths() : saved_(Paths()) {
        AppPaths p = dir_.makeAppPaths();
        SetAppPaths(p);
        CreateFolder(p.mainPreviewFolder);
        SetClock([] { return FixedTime(); });
    }
    ~MailPaths() {
        SetClock({});
        SetAppPaths(saved_);
    }
    const TempDir& dir() const { return dir_; }
    std::string preview(const std::string& name) const { return Paths().mainPreviewFolder + name; }

private:
    TempDir dir_;
    AppPaths saved_;
};

// The golden mails: the same inputs as tests/fixtures/mail/make_goldens.py.
struct GoldenCase {
    const char* kind;  // plain, mixed, alternative, related
    const char* mode;  // ja, en
};

std::vector<std::string> Names() {
    std::vector<std::string> names = {"Mail Address", "Name", "Company"};
    for (int i = 4; i <= 20; ++i) names.push_back("field" + std::to_string(i));
    return names;
}

TPVDatabase GoldenBook() {
    TPVDatabase book;
    book.FieldNames = Names();
    book.Records[0].Values = {"hanako@example.jp", Sjis("鈴木花子"), Sjis("ペルベーン商事")};
    book.Records[1].Values = {"alice@example.com", "Alice", "Example Inc."};
    for (int i = 0; i < 2; ++i) book.Records[i].Values.resize(20);
    book.Count = 2;
    return book;
}

std::string ReadFile(const std::string& path) { return TempDir::read(path); }

std::string BuildGolden(const GoldenCase& c, const MailPaths& paths) {
    const bool ja = std::string(c.mode) == "ja";
    const std::string kind = c.kind;
    TMailHeaderTexts h;
    int multi = 0;
    if (ja) {
        h = {"info@example.jp", Sjis("山田 太郎"), Sjis("[[Name]]様へ Pelvane のお知らせ"),
             "[[Mail Address]]"};
    } else {
        h = {"shop@example.com", "Example Shop", "Hello [[Name]]", "[[Mail Address]]"};
        if (kind == "mixed") {
            h.recipient = "[[Mail Address]],audit@example.com";
            multi = 2;
        } else if (kind == "related") {
            h.recipient = "[[Mail Address]],boss@example.com";
            multi = 1;
        } else if (kind == "alternative") {
            h.senderName = "";
        }
    }
    std::vector<std::string> body =
        ja ? std::vector<std::string>{Sjis("[[Name]]様"),
                                      Sjis("いつもありがとうございます。ｶﾞｲﾄﾞをお送りします。"), ".",
                                      "[[Company]] / Pelvane Personal"}
           : std::vector<std::string>{"Dear [[Name]],", "Total = 100 yen ", "."};
    if (!ja) {
        std::string digits;
        for (int i = 0; i < 120; ++i) digits += "0123456789";
        body.push_back(digits);
    }
    std::string templ;
    std::vector<std::string> htmlFiles, attachments;
    const std::string input = kMailFixtures + "input/";
    if (kind == "mixed") attachments = {input + "data.bin", input + "readme.txt"};
    if (kind == "alternative" || kind == "related") {
        templ = "Golden";
        TempDir::writeAt(paths.preview("index.html"),
                         ReadFile(input + "index-" + kind + "-" + c.mode + ".html"));
        htmlFiles = {"index.html"};
    }
    if (kind == "related") {
        TempDir::writeAt(paths.preview("logo.gif"), ReadFile(input + "logo.gif"));
        TempDir::writeAt(paths.preview("bg.gif"), ReadFile(input + "bg.gif"));
        htmlFiles = {"index.html", "logo.gif", "bg.gif", "http://example.com/banner.gif"};
        attachments = {input + "data.bin"};
    }
    TNetModule net;
    SetUpModule(net, ja ? 0 : 1);
    EXPECT_EQ(
        BuildMergedMail(net, ja ? 0 : 1, h, true, templ, htmlFiles, attachments, body, GoldenBook(), multi),
        kMailReady);
    net.AddExtraHeader("X-Mailer", net.MailerName());  // as the SMTP layer does at send time
    TStringSink sink;
    EXPECT_EQ(net.WriteMessage(sink), kMessageWritten);
    return sink.data;
}

// The first line where two texts differ, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    std::size_t start = a.rfind('\n', i == 0 ? 0 : i - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return "at byte " + std::to_string(i) + ":\n  ours:   " + a.substr(start, a.find('\n', i) - start) +
           "\n  golden: " + b.substr(start, b.find('\n', i) - start);
}

}  // namespace

TEST(NetMessage, GoldenMailsByKindAndMode) {
    const GoldenCase cases[] = {{"plain", "ja"},   {"plain", "en"},       {"mixed", "ja"},
                                {"mixed", "en"},   {"alternative", "ja"}, {"alternative", "en"},
                                {"related", "ja"}, {"related", "en"}};
    for (const GoldenCase& c : cases) {
        MailPaths paths;
        const std::string name = std::string(c.kind) + "-" + c.mode + ".eml";
        const std::string golden = ReadFile(kMailFixtures + name);
        ASSERT_FALSE(golden.empty()) << name;
        const std::string ours = BuildGolden(c, paths);
        EXPECT_TRUE(ours == golden) << name << " " << FirstDifference(ours, golden);
    }
}

TEST(NetMessage, DateHeaderAndPreviewDate) {
    struct Case {
        int day, hour, offset, standard;
        const char* header;
        const char* preview;
    } cases[] = {
        {9, 10, 540, 540, "Wed, 9 Dec 2026 10:37:26 +0900", "Wed, 09 Dec 2026 10:37:26 +0900"},
        {9, 8, -300, -300, "Wed, 9 Dec 2026 08:37:26 -0500", "Wed, 09 Dec 2026 8:37:26 -0500"},
        // Daylight saving: the header takes the current offset, the preview the standard one.
        {9, 8, -240, -300, "Wed, 9 Dec 2026 08:37:26 -0400", "Wed, 09 Dec 2026 8:37:26 -0500"},
        {9, 0, 0, 0, "Wed, 9 Dec 2026 00:37:26 +0000", "Wed, 09 Dec 2026 0:37:26 +0000"},
        {9, 23, 330, 330, "Wed, 9 Dec 2026 23:37:26 +0530", "Wed, 09 Dec 2026 23:37:26 +0530"},
        {9, 23, -210, -210, "Wed, 9 Dec 2026 23:37:26 -0330", "Wed, 09 Dec 2026 23:37:26 -0330"},
    };
    for (const Case& c : cases) {
        TClockTime t = FixedTime();
        t.day = c.day;
        t.hour = c.hour;
        t.utcOffsetMinutes = c.offset;
        t.standardOffsetMinutes = c.standard;
        EXPECT_EQ(FormatMailDate(t), c.header);
        TNetModule net;
        EXPECT_EQ(net.SetMessageDate(t), c.preview);
    }
}

TEST(NetMessage, MessageIdTakesTimeDigestAndHost) {
    struct Case {
        const char* host;
        const char* user;
        const char* id;
    } cases[] = {
        // MD5 of "" and "abc": RFC 1321 appendix A.5.
        {"smtp.example.jp", "", "<202612091037260045.D41D8CD98F00B204E9800998ECF8427E@smtp.example.jp>"},
        {"smtp.example.jp:25", "abc",
         "<202612091037260045.900150983CD24FB0D6963F7D28E17F72@smtp.example.jp>"},
        {"[2001:db8::1]:587", "abc", "<202612091037260045.900150983CD24FB0D6963F7D28E17F72@[2001:db8::1]>"},
        {"2001:db8::1", "abc", "<202612091037260045.900150983CD24FB0D6963F7D28E17F72@2001:db8::1>"},
    };
    for (const Case& c : cases) {
        TNetModule net;
        net.SetSmtpServer(c.host, c.user, "");
        EXPECT_EQ(net.MakeMessageId(FixedTime()), c.id);
        ASSERT_EQ(net.Message().extraHeaders.size(), 1u);
        EXPECT_EQ(net.Message().extraHeaders[0].second, c.id);
    }
    // Two mails in the same millisecond for the same user: the same Message-ID.
    TNetModule a, b;
    a.SetSmtpServer("h", "u", "");
    b.SetSmtpServer("h", "u", "");
    EXPECT_EQ(a.MakeMessageId(FixedTime()), b.MakeMessageId(FixedTime()));
}

TEST(NetMessage, ExtraHeadersReplaceInPlaceAndNeverDuplicateFixedOnes) {
    TNetModule net;
    SetUpModule(net, 1);
    net.ResetMessage();
    net.SetSender("a@example.com", "");
    net.AddRecipient(TRecipientKind::To, "b@example.com");
    net.AddRecipient(TRecipientKind::Bcc, "hidden@example.com");
    net.SetPlainBody({"x"});
    net.AddExtraHeader("X-Mailer", "one");
    net.AddExtraHeader("Message-ID", "<id@h>");
    net.AddExtraHeader("x-mailer", "two");
    net.AddExtraHeader("MIME-Version", "1.0");
    net.AddExtraHeader("Bcc", "hidden@example.com");
    TStringSink sink;
    ASSERT_EQ(net.WriteMessage(sink), kMessageWritten);
    const std::string& m = sink.data;
    EXPECT_NE(m.find("X-Library: Pelvane Message Writer 1.0\r\nMessage-ID: <id@h>\r\nX-Mailer: two\r\n\r\n"),
              std::string::npos)
        << m;
    EXPECT_EQ(m.find("MIME-Version"), m.rfind("MIME-Version"));
    EXPECT_EQ(m.find("hidden"), std::string::npos);    // Bcc receives the mail but is named nowhere
    EXPECT_EQ(m.find("Subject:"), std::string::npos);  // an empty subject leaves the header out
    EXPECT_NE(m.find("From: a@example.com\r\n"), std::string::npos);
    EXPECT_EQ(m.find("Date:"), std::string::npos);  // no date set, no Date header
}

TEST(NetMessage, BodyLinesStayLinesOnTheWire) {
    // A stored line holding a bare LF or CR, or a lone period, must not end
    // the DATA early or reach the wire as a bare line break.
    for (int mode : {0, 1}) {
        TNetModule net;
        SetUpModule(net, mode);
        net.ResetMessage();
        net.SetSender("a@example.com", "");
        net.SetPlainBody({".", "one\n.\ntwo", "three\r.\rfour", std::string("nul\0byte", 8)});
        TStringSink sink;
        ASSERT_EQ(net.WriteMessage(sink), kMessageWritten);
        const std::string body = sink.data.substr(sink.data.find("\r\n\r\n") + 4);
        const std::string expected = mode == 0
                                         ? "..\r\none\r\n..\r\ntwo\r\nthree\r\n..\r\nfour\r\nnulbyte\r\n"
                                         : "..\r\none\r\n..\r\ntwo\r\nthree\r\n..\r\nfour\r\nnul=00byte\r\n";
        EXPECT_EQ(body, expected) << mode;
        for (std::size_t i = 0; i < sink.data.size(); ++i) {
            if (sink.data[i] == '\n') {
                ASSERT_EQ(sink.data[i - 1], '\r');
            }
            if (sink.data[i] == '\r') {
                ASSERT_EQ(sink.data[i + 1], '\n');
            }
        }
    }
    // Without dot transparency (a file, not the DATA) the period stays single.
    TNetModule net;
    SetUpModule(net, 1);
    net.ResetMessage();
    net.SetPlainBody({"."});
    TStringSink sink;
    ASSERT_EQ(net.WriteMessage(sink, false), kMessageWritten);
    EXPECT_EQ(sink.data.substr(sink.data.find("\r\n\r\n") + 4), ".\r\n");
}

TEST(NetMessage, HeaderValuesCannotAddHeaderLines) {
    TNetModule net;
    SetUpModule(net, 1);
    net.ResetMessage();
    net.SetSender("a@example.com\r\nBcc: evil@example.com", "Name\r\nX-Evil: 1");
    net.SetSubject("Hi\r\nBcc: evil@example.com");
    EXPECT_FALSE(net.AddRecipient(TRecipientKind::To, "b@example.com\r\nRCPT TO:<evil@example.com>"));
    EXPECT_FALSE(net.AddRecipient(TRecipientKind::Cc, std::string("b@example.com\0x", 15)));
    EXPECT_TRUE(net.AddRecipient(TRecipientKind::To, "b@example.com"));
    net.AddExtraHeader("X-Note", "a\nX-Evil: 2");
    net.SetPlainBody({"x"});
    TStringSink sink;
    ASSERT_EQ(net.WriteMessage(sink), kMessageWritten);
    const std::string headers = sink.data.substr(0, sink.data.find("\r\n\r\n") + 2);
    // Every line of the header block starts a known header or folds one.
    std::size_t start = 0;
    for (std::size_t end; (end = headers.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = headers.substr(start, end - start);
        bool known = false;
        for (const char* name : {"From: ", "Subject: ", "To: ", "Content-Type: ", "\t", "MIME-Version: ",
                                 "Content-Transfer-Encoding: ", "X-Priority: ", "X-Library: ", "X-Note: "}) {
            known = known || line.rfind(name, 0) == 0;
        }
        EXPECT_TRUE(known) << line;
    }
    EXPECT_EQ(net.Message().senderAddress, "a@example.com  Bcc: evil@example.com");
    EXPECT_EQ(net.Message().to, std::vector<std::string>{"b@example.com"});
    EXPECT_TRUE(net.Message().cc.empty());
}

TEST(NetMessage, MissingFileWritesNothing) {
    TempDir dir;
    const std::string present = dir.write("present.txt", "hello");
    for (bool html : {false, true}) {
        TNetModule net;
        SetUpModule(net, 0);
        net.ResetMessage();
        net.SetSender("a@example.com", "");
        if (html) {
            net.AddTextPart({"text"});
            net.AddHtmlPart({"<p>x</p>"}, {present, dir.file("gone.gif")});
        } else {
            net.SetPlainBody({"text"});
            net.AddAttachments({present, dir.file("gone.pdf")});
        }
        std::string problem;
        EXPECT_EQ(net.CheckMessageFiles(&problem), kMessageFileUnreadable);
        TStringSink sink;
        problem.clear();
        EXPECT_EQ(net.WriteMessage(sink, true, &problem), kMessageFileUnreadable);
        EXPECT_TRUE(sink.data.empty());
        EXPECT_NE(problem.find("gone"), std::string::npos);
    }
}

TEST(NetMessage, FoldersAndPipesAreNoFiles) {
    // Neither may be read into a mail: a folder fails half-way, a pipe blocks.
    TempDir dir;
    const std::string folder = dir.path() + "folder.gif";
    ASSERT_TRUE(CreateFolder(folder));
    const std::string pipe = dir.file("pipe.bin");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {folder, pipe}) {
        TNetModule net;
        SetUpModule(net, 1);
        net.ResetMessage();
        net.SetPlainBody({"x"});
        net.AddAttachments({path});
        TStringSink sink;
        EXPECT_EQ(net.WriteMessage(sink), kMessageFileUnreadable) << path;
        EXPECT_TRUE(sink.data.empty());
    }
}

TEST(NetMessage, SinkFailureIsReported) {
    struct RefusingSink : TByteSink {
        bool Write(std::string_view) override { return false; }
    } sink;
    TNetModule net;
    SetUpModule(net, 1);
    net.ResetMessage();
    net.SetPlainBody({"x"});
    EXPECT_EQ(net.WriteMessage(sink), kMessageSinkFailed);

    TempDir dir;
    TFileSink file(dir.file("out.eml"));
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(net.WriteMessage(file), kMessageWritten);
    EXPECT_TRUE(file.Close());
    EXPECT_NE(TempDir::read(dir.file("out.eml")).find("\r\n\r\nx\r\n"), std::string::npos);
    TFileSink nowhere(dir.file("no/such/folder/out.eml"));
    EXPECT_FALSE(nowhere.IsOpen());
    EXPECT_EQ(net.WriteMessage(nowhere), kMessageSinkFailed);
}

TEST(NetMessage, FileNamesAndContentTypes) {
    struct Case {
        const char* path;
        const char* name;
        const char* type;
    } cases[] = {
        {"/a/b/logo.GIF", "logo.GIF", "image/gif"},
        {"x.jpeg", "x.jpeg", "image/jpeg"},
        {"/p/x.Jpg", "x.Jpg", "image/jpeg"},
        {"/p/x.png", "x.png", "image/png"},
        {"/p/read.me.TXT", "read.me.TXT", "text/plain"},
        {"/p/archive.tar.gz", "archive.tar.gz", "application/octet-stream"},
        {"/p.d/noext", "noext", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileNameOfPath(c.path), c.name);
        EXPECT_EQ(ContentTypeForFile(FileNameOfPath(c.path)), c.type) << c.path;
    }
    // A Japanese file name is an encoded word inside the quotes; a quote in a name is escaped.
    TempDir dir;
    const std::string jp = dir.write(Sjis("資料.txt"), "x");
    const std::string quoted = dir.write("say \"hi\".txt", "y");
    TNetModule net;
    SetUpModule(net, 0);
    net.ResetMessage();
    net.SetPlainBody({"x"});
    net.AddAttachments({jp, quoted});
    TStringSink sink;
    ASSERT_EQ(net.WriteMessage(sink), kMessageWritten);
    EXPECT_NE(sink.data.find("        filename=\"=?ISO-2022-JP?B?GyRCO3FOQRsoQi50eHQ=?=\"\r\n"),
              std::string::npos);
    EXPECT_NE(sink.data.find("        name=\"say \\\"hi\\\".txt\"\r\n"), std::string::npos);
    EXPECT_NE(sink.data.find("Content-Disposition: attachment;\r\n"), std::string::npos);
}
