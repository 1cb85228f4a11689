// Writes a set of mails built by the mail creator into a folder, for a real
// MIME parser to read back (tests/interop/test_mime_parse.py).
//
//   write_sample_messages <folder>
//
// For each sample it writes <name>.eml (the SMTP DATA form, dot transparency
// applied) and, for all of them, manifest.json: what went in (UTF-8, after
// the merge) and the files the mails carry (paths in UTF-8; the files' own
// names are CP932 bytes), so the reader can compare.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Clock.h"
#include "delivery/Coder.h"
#include "delivery/Mailcreate.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "support/JsonText.h"
#include "shell/Commonfunc.h"

namespace {

struct Sample {
    std::string name;
    int mode;                                                 // 0 Japanese, 1 English
    std::string senderName, subject;                          // UTF-8, merged values included
    std::vector<std::string> body;                            // UTF-8 lines
    std::string page;                                         // UTF-8 HTML page, empty for none
    std::vector<std::pair<std::string, std::string>> images;  // name (UTF-8), bytes: template images
    std::vector<std::pair<std::string, std::string>> files;   // name (UTF-8), bytes: attachments
};

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonText(items[i]);
    return out + "]";
}

bool WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out);
}

std::string Bytes(std::size_t n, unsigned seed) {
    std::string data(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 16);
    }
    return data;
}

std::vector<Sample> Samples() {
    const std::string png = "\x89PNG\r\n\x1a\n" + Bytes(700, 7);
    const std::string gif = "GIF89a" + Bytes(300, 9);
    std::string longSubject;
    for (int i = 0; i < 60; ++i) longSubject += "とても長い件名です";
    std::string longLine;
    for (int i = 0; i < 130; ++i) longLine += "x = y + 1; ";
    return {
        {"ja-plain",
         0,
         "山田 太郎",
         "[[Name]]様へ：新製品 Pelvane のご案内",
         {"[[Name]]様", "いつもお世話になっております。", "ｶﾞｲﾄﾞとﾊﾟﾝﾌﾚｯﾄをお送りします。", ".", "",
          "株式会社ペルベーン 〒100-0001"},
         "",
         {},
         {}},
        {"ja-mixed",
         0,
         "ペルベーン 営業部 (Sales)",
         "資料送付のお知らせ",
         {"[[Name]]様", "資料を添付いたします。", ".. 二つの点で始まる行"},
         "",
         {},
         {{"data.bin", Bytes(1000, 1)}, {"資料.txt", "Shift_JIS\r\n" + Utf8ToCp932("日本語の本文\r\n")}}},
        {"ja-alternative",
         0,
         "山田 太郎",
         "HTML メール [[Name]]様",
         {"テキスト版の本文です。"},
         "<html><body><p>[[Name]]様、こんにちは。</p><p>ｶﾀｶﾅ</p></body></html>",
         {},
         {}},
        {"ja-related",
         0,
         "山田 太郎",
         "画像付きのご案内",
         {"画像付きのメールです。"},
         "<html><body background=\"bg.gif\"><p>[[Name]]様</p><img src=\"logo.png\">"
         "<img src=\"http://example.com/remote.png\"></body></html>",
         {{"logo.png", png}, {"bg.gif", gif}},
         {{"price.bin", Bytes(333, 3)}}},
        {"ja-related-japanese-name",
         0,
         "山田 太郎",
         "日本語の画像名",
         {"本文"},
         "<html><body><img src=\"画像.gif\"></body></html>",
         {{"画像.gif", gif}},
         {}},
        {"ja-long-subject", 0, "山田 太郎", longSubject, {"本文"}, "", {}, {}},
        {"en-plain",
         1,
         "Example Shop",
         "Hello [[Name]], 100% = 1/1",
         {"Dear [[Name]],", longLine, ".", "tab\tend "},
         "",
         {},
         {}},
        {"en-related",
         1,
         "Example \"Shop\"",
         "Newsletter",
         {"Plain part."},
         "<html><body><p>Dear [[Name]]</p><img src=\"logo.png\"></body></html>",
         {{"logo.png", png}},
         {{"report.txt", "line one\r\n.\r\nline three\r\n"}}},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_sample_messages <folder>\n");
        return 2;
    }
    const std::string out = std::string(argv[1]) + "/";
    AppPaths paths;
    paths.tempFolder = out + "tmp/";
    CreateFolder(out);
    CreateFolder(paths.tempFolder);
    CreateFolder(out + "files/");

    TPVDatabase book;
    book.FieldNames = {"Mail Address", "Name"};
    book.FieldNames.resize(20);
    book.Records[0].Values = {"hanako@example.jp", Utf8ToCp932("鈴木花子")};
    book.Records[0].Values.resize(20);
    book.Records[1].Values = {"alice@example.com", "Alice"};  // English mails carry ASCII only
    book.Records[1].Values.resize(20);
    book.Count = 2;

    std::string manifest = "[\n";
    bool first = true;
    for (const Sample& s : Samples()) {
        // A preview folder per sample, so that the manifest's paths stay valid.
        paths.mainPreviewFolder = out + "preview-" + s.name + "/";
        CreateFolder(paths.mainPreviewFolder);
        SetAppPaths(paths);
        std::vector<std::string> body, htmlFiles, attachments, fileNames, filePaths;
        for (const std::string& line : s.body) body.push_back(Utf8ToCp932(line));
        std::string templ;
        if (!s.page.empty()) {
            templ = "Sample";
            htmlFiles.push_back("index.html");
            if (!WriteFile(paths.mainPreviewFolder + "index.html", Utf8ToCp932(s.page))) return 1;
            for (const auto& [name, data] : s.images) {
                htmlFiles.push_back(Utf8ToCp932(name));
                if (!WriteFile(paths.mainPreviewFolder + Utf8ToCp932(name), data)) return 1;
                fileNames.push_back(name);
                filePaths.push_back(paths.mainPreviewFolder + Utf8ToCp932(name));
            }
            htmlFiles.push_back("http://example.com/remote.png");
        }
        for (const auto& [name, data] : s.files) {
            std::string path = out + "files/" + Utf8ToCp932(name);
            if (!WriteFile(path, data)) return 1;
            attachments.push_back(path);
            fileNames.push_back(name);
            filePaths.push_back(path);
        }
        TNetModule net;
        net.SetAgent("PelvanePersonal", "1.0");
        net.SetSmtpServer("mail.example.jp", "sample-user", "");
        net.SetMode(s.mode);
        net.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));
        TMailHeaderTexts h{"sender@example.jp", Utf8ToCp932(s.senderName), Utf8ToCp932(s.subject),
                           "[[Mail Address]]"};
        const int record = s.mode == 0 ? 0 : 1;
        if (BuildMergedMail(net, record, h, true, templ, htmlFiles, attachments, body, book) != kMailReady)
            return 1;
        net.AddExtraHeader("X-Mailer", net.MailerName());
        TFileSink sink(out + s.name + ".eml");
        std::string problem;
        if (net.WriteMessage(sink, true, &problem) != kMessageWritten || !sink.Close()) {
            std::fprintf(stderr, "%s: %s\n", s.name.c_str(), problem.c_str());
            return 1;
        }
        auto merged = [&](const std::string& utf8) {
            return Cp932ToUtf8(MergeText(Utf8ToCp932(utf8), book.FieldNames, &book.Records[record].Values));
        };
        std::vector<std::string> expectedBody, pathsUtf8;
        for (const std::string& line : s.body) expectedBody.push_back(merged(line));
        for (const std::string& path : filePaths) pathsUtf8.push_back(Cp932ToUtf8(path));
        manifest += std::string(first ? "" : ",\n") + "  {\"name\": " + JsonText(s.name) +
                    ", \"mode\": " + std::to_string(s.mode) +
                    ", \"sender_name\": " + JsonText(merged(s.senderName)) +
                    ", \"sender\": \"sender@example.jp\", \"to\": " + JsonText(book.Records[record].Values[0]) +
                    ", \"subject\": " + JsonText(merged(s.subject)) + ", \"body\": " + JsonList(expectedBody) +
                    ", \"html\": " + JsonText(merged(s.page)) + ", \"file_names\": " + JsonList(fileNames) +
                    ", \"file_paths\": " + JsonList(pathsUtf8) + "}";
        first = false;
    }
    manifest += "\n]\n";
    return WriteFile(out + "manifest.json", manifest) ? 0 : 1;
}
