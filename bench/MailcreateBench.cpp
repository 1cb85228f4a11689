// The mail creator and writer over a whole address book: one merged mail per
// record, written to a sink that only counts the bytes.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Mailcreate.h"
#include "delivery/Mailmessage.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"

namespace {

constexpr int kRecords = 1000;

class CountingSink : public TByteSink {
public:
    bool Write(std::string_view bytes) override {
        count += bytes.size();
        return true;
    }
    std::size_t count = 0;
};

// A private folder with the main preview folder of the HTML mail.
struct BenchFolder {
    BenchFolder() {
        std::string templ = std::filesystem::temp_directory_path().string() + "/pelvane-bench-XXXXXX";
        root = mkdtemp(templ.data()) ? templ + "/" : std::string();
        AppPaths paths;
        paths.tempFolder = root;
        paths.mainPreviewFolder = root + "preview/";
        std::filesystem::create_directories(paths.mainPreviewFolder);
        SetAppPaths(paths);
    }
    ~BenchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string root;
};

TPVDatabase Book() {
    TPVDatabase book;
    book.FieldNames = {"Mail Address", "Name", "Company"};
    book.FieldNames.resize(20);
    for (int i = 0; i < kRecords; ++i) {
        book.Records[i].Values = {"user" + std::to_string(i) + "@example.jp",
                                  Utf8ToCp932("鈴木 花子") + std::to_string(i),
                                  Utf8ToCp932("株式会社ペルベーン")};
        book.Records[i].Values.resize(20);
    }
    book.Count = kRecords;
    return book;
}

std::vector<std::string> JapaneseBody() {
    std::vector<std::string> body = {Utf8ToCp932("[[Company]]"), Utf8ToCp932("[[Name]]様"), ""};
    for (int i = 0; i < 30; ++i) {
        body.push_back(
            Utf8ToCp932("いつもご利用いただきありがとうございます。今月の新製品 Pelvane のご案内です。"));
    }
    return body;
}

void RunBook(benchmark::State& state, TNetModule& net, const TMailHeaderTexts& h, const std::string& templ,
             const std::vector<std::string>& htmlFiles, const std::vector<std::string>& body,
             const TPVDatabase& book) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int r = 0; r < kRecords; ++r) {
            if (BuildMergedMail(net, r, h, true, templ, htmlFiles, {}, body, book) != kMailReady) {
                state.SkipWithError("the mail could not be built");
                return;
            }
            CountingSink sink;
            if (net.WriteMessage(sink) != kMessageWritten) {
                state.SkipWithError("the mail could not be written");
                return;
            }
            bytes += sink.count;
        }
    }
    state.counters["messages_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
    state.counters["MB_per_second"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["bytes_per_message"] =
        benchmark::Counter(static_cast<double>(bytes) / (static_cast<double>(state.iterations()) * kRecords));
}

void BM_PlainJapaneseMail(benchmark::State& state) {
    BenchFolder folder;
    const TPVDatabase book = Book();
    TNetModule net;
    net.SetSmtpServer("mail.example.jp", "user", "pw");
    net.SetMode(0);
    net.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));
    TMailHeaderTexts h{"info@example.jp", Utf8ToCp932("山田 太郎"),
                       Utf8ToCp932("[[Name]]様へ 新製品のご案内"), "[[Mail Address]]"};
    RunBook(state, net, h, "", {}, JapaneseBody(), book);
}
BENCHMARK(BM_PlainJapaneseMail)->Unit(benchmark::kMillisecond);

void BM_HtmlMailWith200KBImage(benchmark::State& state) {
    BenchFolder folder;
    const TPVDatabase book = Book();
    std::string page = "<html><body><p>[[Name]]様</p><img src=\"photo.jpg\">\r\n";
    for (int i = 0; i < 40; ++i) page += Utf8ToCp932("<p>今月の新製品 Pelvane のご案内です。</p>\r\n");
    page += "</body></html>\r\n";
    std::ofstream(Paths().mainPreviewFolder + "index.html", std::ios::binary) << page;
    std::string image(200 * 1024, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(Paths().mainPreviewFolder + "photo.jpg", std::ios::binary) << image;
    TNetModule net;
    net.SetSmtpServer("mail.example.jp", "user", "pw");
    net.SetMode(0);
    net.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));
    TMailHeaderTexts h{"info@example.jp", Utf8ToCp932("山田 太郎"),
                       Utf8ToCp932("[[Name]]様へ 新製品のご案内"), "[[Mail Address]]"};
    RunBook(state, net, h, "Bench", {"index.html", "photo.jpg"}, JapaneseBody(), book);
}
BENCHMARK(BM_HtmlMailWith200KBImage)->Unit(benchmark::kMillisecond);

}  // namespace
