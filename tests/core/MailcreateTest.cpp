#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Clock.h"
#include "delivery/Coder.h"
#include "delivery/Mailcreate.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

Lines FieldNames() {
    Lines names = {"Mail Address", "Name", "Company"};
    for (int i = 4; i <= 20; ++i) names.push_back("field" + std::to_string(i));
    return names;
}

TClockTime FixedTime(int offsetMinutes) {
    TClockTime t;
    t.year = 2026;
    t.month = 1;
    t.day = 5;
    t.hour = 7;
    t.minute = 8;
    t.second = 9;
    t.millisecond = 321;
    t.weekday = 1;  // Monday
    t.utcOffsetMinutes = offsetMinutes;
    t.standardOffsetMinutes = offsetMinutes;
    return t;
}

// Paths in a temporary folder, a fixed clock, and a one-record address book.
class MailcreateTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths();
        paths_ = dir_.makeAppPaths();
        SetAppPaths(paths_);
        CreateFolder(paths_.mainPreviewFolder);
        SetClock([] { return FixedTime(540); });
        book_.FieldNames = FieldNames();
        SetRecord({"hanako@example.jp", "Hanako", "Pelvane"});
        net_.SetAgent("PelvanePersonal", "1.0");
        net_.SetSmtpServer("smtp.example.jp", "user", "pw");
        net_.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));
        net_.SetMode(0);
    }
    void TearDown() override {
        SetClock({});
        SetAppPaths(saved_);
    }

    void SetRecord(Lines values) {
        values.resize(20);
        book_.Records[0].Values = values;
        book_.Count = 1;
    }

    int Build(bool send, const TMailHeaderTexts& h, const Lines& body = {"body"},
              const std::string& templ = "", const Lines& htmlFiles = {}, const Lines& attachments = {},
              int multi = 0) {
        return BuildMergedMail(net_, 0, h, send, templ, htmlFiles, attachments, body, book_, multi);
    }

    std::string Written(int expected = kMessageWritten) {
        TStringSink sink;
        EXPECT_EQ(net_.WriteMessage(sink), expected);
        return sink.data;
    }

    std::string PreviewText() const { return TempDir::read(paths_.tempFolder + "temp.txt"); }
    std::string PreviewPagePath() const { return paths_.mainPreviewFolder + "index.htm"; }

    TempDir dir_;
    AppPaths saved_, paths_;
    TPVDatabase book_;
    TNetModule net_;
    const TMailHeaderTexts plain_{"info@example.jp", "Info", "Hello [[Name]]", "[[Mail Address]]"};
};

// Every line of `text` (CR LF separated) with its length.
Lines SplitCrLf(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

TEST(Mailcreate, MergeTextPassesAndOrder) {
    Lines names = FieldNames();
    names[12] = "Late";  // field 13: never merged
    struct Case {
        const char* name;
        Lines values;
        std::string in;
        std::string out;
    } cases[] = {
        {"same placeholder twice", {"", "alpha"}, "[[Name]] and [[Name]]", "alpha and alpha"},
        {"field 11 stays", {"", "alpha"}, "[[field11]] [[Late]]", "[[field11]] [[Late]]"},
        {"other letter case stays", {"", "alpha"}, "[[name]] [[NAME]]", "[[name]] [[NAME]]"},
        {"earlier value holding a later placeholder",
         {"[[Name]]", "beta"},
         "[[Mail Address]]/[[Name]]",
         "beta/beta"},
        {"later value holding an earlier placeholder",
         {"x", "[[Mail Address]]"},
         "[[Name]]",
         "[[Mail Address]]"},
        {"a value is not searched in its own pass", {"", "[[Name]]"}, "<[[Name]]>", "<[[Name]]>"},
        {"empty value leaves the blanks", {"", ""}, "a [[Name]] b", "a  b"},
        {"line breaks and text around stay", {"", "v"}, "x\r\n[[Name]]\r\n", "x\r\nv\r\n"},
        {"trail byte 0x5B starts no match", {"", "v"}, "\x81\x5b[Name]]", "\x81\x5b[Name]]"},
        {"placeholder right after a 0x5B trail byte", {"", "v"}, "\x81\x5b[[Name]]", "\x81\x5bv"},
        {"short value list", {"only"}, "[[Mail Address]][[Name]]", "only"},
        {"double-byte value", {"", Sjis("花子")}, "[[Name]]" + Sjis("様"), Sjis("花子様")},
    };
    for (const Case& c : cases) EXPECT_EQ(MergeText(c.in, names, &c.values), c.out) << c.name;
    // No value list at all: every placeholder of the first ten fields goes.
    EXPECT_EQ(MergeText("<[[Name]]|[[Company]]|[[field11]]>", names, nullptr), "<||[[field11]]>");
    // Two of the first ten fields with one name: the earlier field's value everywhere.
    names[3] = "Name";
    Lines values = {"", "first", "", "second"};
    EXPECT_EQ(MergeText("[[Name]] [[Name]]", names, &values), "first first");
}

TEST(Mailcreate, MergeTextCannotMultiplyBeyondItsLimit) {
    // Field 0 holds 200,000 placeholders of field 1, whose value is 1 KB:
    // 200 MB if every one were replaced.
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "[[Name]]";
    Lines values = {many, std::string(1024, 'v')};
    std::string merged = MergeText("[[Mail Address]]", FieldNames(), &values);
    EXPECT_LE(merged.size(), kMaxMergedLength);
    EXPECT_GT(merged.size(), kMaxMergedLength - 2048);
    EXPECT_EQ(merged.substr(merged.size() - 8), "[[Name]]");  // what did not fit stays as typed
}

TEST(Mailcreate, SplitRecipients) {
    struct Case {
        const char* name;
        std::string in;
        Lines out;
    } cases[] = {
        {"one address", "a@x.jp", {"a@x.jp"}},
        {"comma", "a@x.jp,b@y.jp", {"a@x.jp", "b@y.jp"}},
        {"comma and blank: an empty entry between", "a@x.jp, b@y.jp", {"a@x.jp", "", "b@y.jp"}},
        {"two blanks", "a@x.jp  b@y.jp", {"a@x.jp", "", "b@y.jp"}},
        {"one blank", "a@x.jp b@y.jp", {"a@x.jp", "b@y.jp"}},
        {"empty text", "", {}},
        {"trailing comma", "a@x.jp,", {"a@x.jp"}},
        {"leading blank", " a@x.jp", {"", "a@x.jp"}},
        {"quoted item with a doubled quote", "\"a\"\"b\"@x,c", {"a\"b", "@x", "c"}},
        {"control bytes separate", "a@x.jp\r\nb@y.jp\tc@z.jp", {"a@x.jp", "b@y.jp", "c@z.jp"}},
        {"NUL separates", std::string("a@x\0b@y", 7), {"a@x", "b@y"}},
        // A quoted item cannot carry a line break into an envelope command.
        {"quoted CR LF", "\"a@x.jp\r\nRCPT TO:<e@vil>\"", {"a@x.jp", "RCPT", "TO:<e@vil>\""}},
    };
    for (const Case& c : cases) {
        Lines entries = SplitRecipients(c.in);
        EXPECT_EQ(entries, c.out) << c.name;
        for (const std::string& e : entries) EXPECT_TRUE(IsEnvelopeSafe(e)) << c.name;
    }
}

TEST(Mailcreate, IsSingleByteText) {
    struct Case {
        std::string text;
        bool single;
    } cases[] = {
        {"abc@example.jp", true},
        {"", true},
        {"\xb1\xb2", true},  // half-width katakana are single
                             // bytes
        {"\x82\xa0", false},
        {"a\x82", false},
        {"\x40\x5b", true},
        {Sjis("ａ") + "@x", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSingleByteText(c.text), c.single) << c.text;
}

TEST(Mailcreate, SplitAndJoinTextLines) {
    EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\r\n\r\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitTextLines(""), Lines{});
    EXPECT_EQ(JoinTextLines({"a", ""}), "a\r\n\r\n");
}

TEST(Mailcreate, ImageReferenceRewrite) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<img src=\"a.gif\">", "<img src=\"cid:a.gif\">"},
        {"<IMG SRC=\"a.gif\">", "<IMG SRC=\"cid:a.gif\">"},
        {"<td background=\"b.jpg\">", "<td background=\"cid:b.jpg\">"},
        {"<TD BACKGROUND=\"b.jpg\">", "<TD BACKGROUND=\"cid:b.jpg\">"},
        {"<img src=\"http://example.com/a.gif\">", "<img src=\"http://example.com/a.gif\">"},
        {"<img src=\"https://example.com/a.gif\">", "<img src=\"https://example.com/a.gif\">"},
        {"<Img Src=\"a.gif\"> <img  src=\"a.gif\">", "<Img Src=\"a.gif\"> <img  src=\"a.gif\">"},
        {"<img src=\"a\"><img src=\"b\">", "<img src=\"cid:a\"><img src=\"cid:b\">"},
    };
    for (const Case& c : cases) EXPECT_EQ(RewriteImageReferences(c.in), c.out);
}

TEST_F(MailcreateTest, DoubleByteRecipientStopsSendingButNotThePreview) {
    SetRecord({Sjis("全角") + "@example.jp", "Hanako"});
    EXPECT_EQ(Build(true, plain_), kMailDoubleByteRecipient);
    EXPECT_TRUE(net_.Message().to.empty());
    EXPECT_TRUE(net_.Message().body.empty());
    EXPECT_EQ(Build(false, plain_), kMailReady);
    EXPECT_NE(PreviewText().find("\r\nTo: " + Sjis("全角") + "@example.jp\r\n"), std::string::npos);
}

TEST_F(MailcreateTest, RecipientsByTheMultipleAddressSetting) {
    TMailHeaderTexts h = plain_;
    h.recipient = "[[Mail Address]], cc@example.jp,third@example.jp";
    for (int multi : {0, 1, 2}) {
        ASSERT_EQ(Build(true, h, {"x"}, "", {}, {}, multi), kMailReady);
        const TMailMessage& m = net_.Message();
        Lines rest = {"", "cc@example.jp", "third@example.jp"};
        EXPECT_EQ(m.to.front(), "hanako@example.jp");
        EXPECT_EQ(multi == 0   ? Lines(m.to.begin() + 1, m.to.end())
                  : multi == 1 ? m.cc
                               : m.bcc,
                  rest)
            << multi;
        ASSERT_EQ(Build(false, h, {"x"}, "", {}, {}, multi), kMailReady);
        const char* prefix = multi == 0 ? "To: " : multi == 1 ? "Cc: " : "Bcc: ";
        EXPECT_NE(PreviewText().find("To: hanako@example.jp\r\n" + std::string(prefix) + "\r\n" + prefix +
                                     "cc@example.jp\r\n" + prefix + "third@example.jp\r\nMIME-Version"),
                  std::string::npos)
            << multi;
    }
}

TEST_F(MailcreateTest, LineBreaksInValuesCannotForgeHeadersOrRecipients) {
    // A name value with line breaks would, merged as one block, push the
    // subject into the recipient's place.
    SetRecord({"hanako@example.jp", "Evil\r\nattacker@evil.example\r\nBcc: x@evil.example", "Co\nX-Evil: 1"});
    TMailHeaderTexts h{"[[Company]]@example.jp", "[[Name]]", "Hi [[Name]] [[Company]]", "[[Mail Address]]"};
    for (int mode : {0, 1}) {
        net_.SetMode(mode);
        ASSERT_EQ(Build(true, h, {"[[Name]]"}), kMailReady);
        const TMailMessage& m = net_.Message();
        EXPECT_EQ(m.to, Lines{"hanako@example.jp"});
        EXPECT_TRUE(m.cc.empty() && m.bcc.empty());
        EXPECT_TRUE(IsEnvelopeSafe(m.senderAddress));
        const std::string mail = Written();
        const std::string headers = mail.substr(0, mail.find("\r\n\r\n"));
        for (const std::string& line : SplitCrLf(headers)) {
            EXPECT_NE(line.rfind("Bcc:", 0), 0u) << line;
            EXPECT_NE(line.rfind("X-Evil", 0), 0u) << line;
            EXPECT_NE(line.rfind("attacker", 0), 0u) << line;
        }
        // The body takes the value's line breaks as lines of its own.
        EXPECT_NE(mail.find("\r\n\r\nEvil\r\nattacker@evil.example\r\nBcc: x@evil.example\r\n"),
                  std::string::npos);
    }
    ASSERT_EQ(Build(false, h), kMailReady);
    Lines preview = SplitCrLf(PreviewText());
    EXPECT_EQ(preview[0], "From: Evil  attacker@evil.example  Bcc: x@evil.example <Co X-Evil: 1@example.jp>");
    EXPECT_EQ(preview[2], "To: hanako@example.jp");
    EXPECT_EQ(preview[3], "MIME-Version: 1.0");
}

TEST_F(MailcreateTest, BadValuesGiveSevenBitMailsWithinTheLineLimits) {
    std::string huge;
    while (huge.size() < (1u << 20)) huge += Sjis("長い値") + "ab ";
    struct Case {
        const char* name;
        std::string value;
    } cases[] = {
        {"NUL bytes", std::string("a\0b\0", 4)},
        {"lone lead byte at the end", "abc\x82"},
        {"vendor characters and stray bytes", "\xf0\x40\x80\xa0\xfd\xff"},
        {"1 MB value", huge},
        {"1 MB without blanks", std::string(1u << 20, 'x')},
    };
    for (const Case& c : cases) {
        SetRecord({"hanako@example.jp", c.value, c.value});
        TMailHeaderTexts h{"info@example.jp", "[[Name]]", "Re: [[Company]]", "[[Mail Address]]"};
        for (int mode : {0, 1}) {
            net_.SetMode(mode);
            ASSERT_EQ(Build(true, h, {"[[Name]]", "tail"}), kMailReady) << c.name;
            const std::string mail = Written();
            std::size_t headerEnd = mail.find("\r\n\r\n");
            for (unsigned char b : mail) ASSERT_LT(b, 0x80) << c.name << " mode " << mode;
            ASSERT_EQ(mail.find('\0'), std::string::npos) << c.name;
            Lines lines = SplitCrLf(mail);
            std::size_t offset = 0;
            for (const std::string& line : lines) {
                // Headers always, English (quoted-printable) bodies too; a
                // 7bit Japanese body line is as long as the user made it.
                if (offset < headerEnd || mode == 1) {
                    ASSERT_LE(line.size(), 998u) << c.name << " mode " << mode;
                }
                offset += line.size() + 2;
            }
        }
    }
}

TEST_F(MailcreateTest, EmptyRecipientAndSubjectAndSenderName) {
    SetRecord({"", "Hanako"});
    TMailHeaderTexts h{"info@example.jp", "", "", "[[Mail Address]]"};
    ASSERT_EQ(Build(true, h), kMailReady);
    EXPECT_TRUE(net_.Message().to.empty());
    const std::string mail = Written();
    EXPECT_EQ(mail.find("\r\nTo:"), std::string::npos);
    EXPECT_EQ(mail.find("Subject:"), std::string::npos);
    EXPECT_EQ(mail.rfind("From: info@example.jp\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-2022-jp\"\r\n"
                         "MIME-Version: 1.0\r\nContent-Transfer-Encoding: 7bit\r\n",
                         0),
              0u)
        << mail;
}

TEST_F(MailcreateTest, HtmlFileListAndAttachments) {
    TempDir::writeAt(paths_.mainPreviewFolder + "index.html",
                     "<img src=\"logo.gif\"><img src=\"http://example.com/remote.gif\">");
    TempDir::writeAt(paths_.mainPreviewFolder + "logo.gif", "GIF");
    const std::string pdf = dir_.write("doc.pdf", "%PDF");
    struct Case {
        const char* name;
        std::string templ;
        Lines htmlFiles;
        Lines attachments;
        TMailKind kind;
        Lines fileParts;  // file names in order
    } cases[] = {
        {"template with a local image and an attachment",
         "T",
         {"index.html", "logo.gif"},
         {pdf},
         TMailKind::HtmlRelated,
         {"logo.gif", "doc.pdf"}},
        {"web entries and empty entries are not attached",
         "T",
         {"index.html", "http://example.com/remote.gif", "", "https://example.com/x.gif"},
         {"", "http://x/y.pdf"},
         TMailKind::HtmlAlternative,
         {}},
        {"template without index.html: a plain mail",
         "T",
         {"logo.gif"},
         {pdf},
         TMailKind::PlainWithAttachments,
         {"doc.pdf"}},
        {"no template: attachments",
         "",
         {"index.html", "logo.gif"},
         {pdf},
         TMailKind::PlainWithAttachments,
         {"doc.pdf"}},
        {"no template, index.html attachment: HTML mode",
         "",
         {},
         {pdf, paths_.mainPreviewFolder + "index.html"},
         TMailKind::HtmlRelated,
         {"doc.pdf"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Build(true, plain_, {"text"}, c.templ, c.htmlFiles, c.attachments), kMailReady) << c.name;
        const TMailMessage& m = net_.Message();
        EXPECT_EQ(MailKindOf(m), c.kind) << c.name;
        Lines names;
        for (const TMailPart& p : m.parts) {
            if (!p.isFile) continue;
            names.push_back(FileNameOfPath(p.filePath));
            bool html = c.kind == TMailKind::HtmlRelated;
            EXPECT_EQ(p.disposition, html ? "inline" : "") << c.name;
            ASSERT_EQ(p.extraHeaders.size(), html ? 1u : 0u) << c.name;
            if (html) {
                EXPECT_EQ(p.extraHeaders[0].second, "<" + names.back() + ">");
            }
        }
        EXPECT_EQ(names, c.fileParts) << c.name;
        if (c.kind == TMailKind::HtmlRelated || c.kind == TMailKind::HtmlAlternative) {
            ASSERT_GE(m.parts.size(), 2u);
            EXPECT_EQ(m.parts[1].lines,
                      Lines{"<img src=\"cid:logo.gif\"><img src=\"http://example.com/remote.gif\">"});
        }
        EXPECT_EQ(Written().find("Content-Type: multipart"),
                  c.kind == TMailKind::Plain ? std::string::npos : Written().find("Content-Type: multipart"));
    }
}

TEST_F(MailcreateTest, JapaneseInlineFileNameGetsAnEncodedContentIdThatThePageUses) {
    const std::string name = Sjis("画像.gif");
    TempDir::writeAt(paths_.mainPreviewFolder + "index.html", "<p>[[Name]]</p><img src=\"" + name + "\">");
    TempDir::writeAt(paths_.mainPreviewFolder + name, "GIF");
    const std::string word = "=?ISO-2022-JP?B?GyRCMmhBfBsoQi5naWY=?=";
    ASSERT_EQ(Build(true, plain_, {"t"}, "T", {"index.html", name}), kMailReady);
    const TMailMessage& m = net_.Message();
    ASSERT_EQ(m.parts.size(), 3u);
    EXPECT_EQ(m.parts[2].extraHeaders[0],
              (std::pair<std::string, std::string>("Content-ID", "<" + word + ">")));
    // The page refers to the part by the same text, so the image is found.
    EXPECT_EQ(m.parts[1].lines, Lines{"<p>Hanako</p><img src=\"cid:" + word + "\">"});
    const std::string mail = Written();
    EXPECT_NE(mail.find("Content-ID: <" + word + ">\r\n"), std::string::npos);
    // English mode keeps the plain name on both sides.
    net_.SetMode(1);
    ASSERT_EQ(Build(true, plain_, {"t"}, "T", {"index.html", name}), kMailReady);
    EXPECT_EQ(net_.Message().parts[2].extraHeaders[0].second, "<" + name + ">");
    EXPECT_EQ(net_.Message().parts[1].lines, Lines{"<p>Hanako</p><img src=\"cid:" + name + "\">"});
}

TEST_F(MailcreateTest, UnreadableFiles) {
    // The page is read while building: the mail is refused at once.
    EXPECT_EQ(Build(true, plain_, {"t"}, "T", {"index.html"}), kMailPageUnreadable);
    EXPECT_EQ(Build(true, plain_, {"t"}, "", {}, {dir_.file("index.html")}), kMailPageUnreadable);
    // Attachments and inline files are read while writing: -998 and nothing written.
    ASSERT_EQ(Build(true, plain_, {"t"}, "", {}, {dir_.file("missing.pdf")}), kMailReady);
    EXPECT_TRUE(Written(kMessageFileUnreadable).empty());
    TempDir::writeAt(paths_.mainPreviewFolder + "index.html", "<img src=\"gone.gif\">");
    ASSERT_EQ(Build(true, plain_, {"t"}, "T", {"index.html", "gone.gif"}), kMailReady);
    EXPECT_TRUE(Written(kMessageFileUnreadable).empty());
}

TEST_F(MailcreateTest, BodyMergeKeepsLinesAndAddsTheValuesLineBreaks) {
    net_.SetMode(1);
    SetRecord({"hanako@example.jp", "one\r\ntwo"});
    ASSERT_EQ(Build(true, plain_, {"Dear [[Name]],", "", "[[field11]]"}), kMailReady);
    EXPECT_EQ(net_.Message().body, (Lines{"Dear one", "two,", "", "[[field11]]"}));
    // Two mails in the same millisecond: the same Message-ID.
    std::string id = net_.Message().extraHeaders[0].second;
    ASSERT_EQ(Build(true, plain_), kMailReady);
    EXPECT_EQ(net_.Message().extraHeaders[0].second, id);
    EXPECT_EQ(id, "<202601050708090321." + Md5Hex("user") + "@smtp.example.jp>");
}

TEST_F(MailcreateTest, PreviewTextFile) {
    SetRecord({"hanako@example.jp", Sjis("花子"), "Pelvane"});
    TMailHeaderTexts h{"info@example.jp", Sjis("山田"), Sjis("[[Name]]様へ"), "[[Mail Address]]"};
    ASSERT_EQ(Build(false, h, {Sjis("[[Name]]様"), "ｶﾞ", "."}), kMailReady);
    const std::string expected = "From: " + Sjis("山田") + " <info@example.jp>\r\n" +
                                 "Subject: " + Sjis("花子様へ") +
                                 "\r\n"
                                 "To: hanako@example.jp\r\n"
                                 "MIME-Version: 1.0\r\n"
                                 "X-Mailer: Pelvane Personal Version1.0\r\n"
                                 "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
                                 "Content-Transfer-Encoding: 7bit\r\n"
                                 "Message-ID: <202601050708090321." +
                                 Md5Hex("user") +
                                 "@smtp.example.jp>\r\n"
                                 "Date: Mon, 05 Jan 2026 7:08:09 +0900\r\n"
                                 "\r\n\r\n\r\n" +
                                 Sjis("花子様") + "\r\nｶﾞ\r\n.\r\n";
    EXPECT_EQ(PreviewText(), expected);
    // The module's message carries the preview's extra headers and no parts.
    const TMailMessage& m = net_.Message();
    EXPECT_TRUE(m.parts.empty());
    ASSERT_EQ(m.extraHeaders.size(), 3u);
    EXPECT_EQ(m.extraHeaders[1], (std::pair<std::string, std::string>("MIME-Version", "1.0")));
    EXPECT_EQ(m.extraHeaders[2].second, "Pelvane Personal Version1.0");

    // English mode, empty sender name, a zone 5 hours west of UTC.
    SetClock([] { return FixedTime(-300); });
    net_.SetMode(1);
    h.senderName = "";
    ASSERT_EQ(Build(false, h), kMailReady);
    Lines lines = SplitCrLf(PreviewText());
    EXPECT_EQ(lines[0], "From:  <info@example.jp>");
    EXPECT_EQ(lines[5], "Content-Type: text/plain; charset=\"us-ascii\"");
    EXPECT_EQ(lines[6], "Content-Transfer-Encoding: quoted-printable");
    EXPECT_EQ(lines[8], "Date: Mon, 05 Jan 2026 7:08:09 -0500");
}

TEST_F(MailcreateTest, PreviewPage) {
    const std::string page = "<p>[[Name]]</p>\n<img src=\"logo.gif\">";
    TempDir::writeAt(paths_.mainPreviewFolder + "index.html", page);
    // With a template: the merged page, image references as they were.
    ASSERT_EQ(Build(false, plain_, {"t"}, "T", {"index.html", "logo.gif"}, {}), kMailReady);
    EXPECT_EQ(TempDir::read(PreviewPagePath()), "<p>Hanako</p>\r\n<img src=\"logo.gif\">\r\n");
    // Without one (or without index.html in the list) there is no page, not even an old one.
    ASSERT_EQ(Build(false, plain_), kMailReady);
    EXPECT_FALSE(FileExists(PreviewPagePath()));
    ASSERT_EQ(Build(false, plain_, {"t"}, "T", {"logo.gif"}), kMailReady);
    EXPECT_FALSE(FileExists(PreviewPagePath()));
    // An index.html attachment makes no preview page and is not needed to preview.
    ASSERT_EQ(Build(false, plain_, {"t"}, "", {}, {dir_.file("index.html")}), kMailReady);
    EXPECT_FALSE(FileExists(PreviewPagePath()));
}

TEST_F(MailcreateTest, PreviewFailuresLeaveNoStaleFiles) {
    ASSERT_EQ(Build(false, plain_), kMailReady);
    ASSERT_TRUE(FileExists(paths_.tempFolder + "temp.txt"));
    // The template page is missing: that record has no preview, and the
    // previous record's text is gone.
    EXPECT_EQ(Build(false, plain_, {"t"}, "T", {"index.html"}), kMailPageUnreadable);
    EXPECT_FALSE(FileExists(paths_.tempFolder + "temp.txt"));
    // A temporary folder that cannot be written.
    AppPaths broken = paths_;
    broken.tempFolder = dir_.file("no/such/folder/");
    SetAppPaths(broken);
    EXPECT_EQ(Build(false, plain_), kMailPreviewUnwritable);
}
