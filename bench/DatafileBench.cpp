// Saving and loading a full mail document: 1,000 records of 20 values and
// 5 MB of HTML files (1 MB of markup that zlib shrinks, 4 MB of pictures it
// cannot), as the main window and the command-line sender do.

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "document/Datafile.h"
#include "shell/Commonfunc.h"

namespace {

class BenchDocument {
public:
    BenchDocument() {
        std::string templ = std::filesystem::temp_directory_path().string() + "/pelvane-bench-XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        root_ = std::string(buf.data()) + "/";
        AppPaths p;
        p.dataFolder = root_;
        p.templateFolder = root_ + "Template/";
        p.tempFolder = root_ + "tmp/";
        p.mainPreviewFolder = p.tempFolder + "PelvaneMainPreview/";
        p.wizardPreviewFolder = p.tempFolder + "PelvaneWizardPreview/";
        CreateFolder(p.tempFolder);
        CreateFolder(p.mainPreviewFolder);
        CreateFolder(p.wizardPreviewFolder);
        SetAppPaths(p);

        std::string page = "<html><body>\r\n";
        for (int i = 0; page.size() < (1u << 20); ++i) {
            page += "<p class=\"row\">Dear [[Name]], line " + std::to_string(i) + " of the offer.</p>\r\n";
        }
        page += "</body></html>\r\n";
        Write(p.mainPreviewFolder + "index.html", page);
        std::mt19937 rng(1);
        for (int i = 0; i < 4; ++i) {
            std::string picture(1u << 20, '\0');
            for (char& c : picture) c = static_cast<char>(rng() & 0xFF);
            Write(p.mainPreviewFolder + "image" + std::to_string(i) + ".jpg", picture);
        }

        doc_.FromAddress = "sender@example.com";
        doc_.FromName = "Sender";
        doc_.Subject = "Offer for [[Name]]";
        doc_.RecipientField = "[[Mail Address]]";
        doc_.Body.assign(200, "A line of the body that mentions [[Name]] now and then.");
        for (int i = 0; i < TPVDatabase::FieldCount; ++i)
            doc_.AddressBook.FieldNames[i] = "field" + std::to_string(i);
        doc_.HtmlTemplateName = "Offer";
        for (int r = 0; r < TPVDatabase::MaxRecords; ++r) {
            TPVRecord& rec = doc_.AddressBook.Records[r];
            rec.Values = {"user" + std::to_string(r) + "@example.com", "Name " + std::to_string(r)};
            for (int v = 2; v < TPVDatabase::FieldCount; ++v)
                rec.Values.push_back("value " + std::to_string(v));
            rec.Selected = r % 2;
        }
        doc_.AddressBook.Count = TPVDatabase::MaxRecords;
        path_ = root_ + "bench.pvd";
    }

    ~BenchDocument() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    TPVDataFile& doc() { return doc_; }
    const std::string& path() const { return path_; }
    std::uintmax_t size() const { return std::filesystem::file_size(path_); }

private:
    static void Write(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary) << data;
    }

    std::string root_;
    std::string path_;
    TPVDataFile doc_;
};

void BM_SaveDocument(benchmark::State& state) {
    BenchDocument bench;
    for (auto _ : state) {
        if (!bench.doc().Save(bench.path(), 3)) state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bench.size()));
}
BENCHMARK(BM_SaveDocument)->Unit(benchmark::kMillisecond);

void BM_LoadDocument(benchmark::State& state) {
    BenchDocument bench;
    if (!bench.doc().Save(bench.path(), 3)) state.SkipWithError("save failed");
    for (auto _ : state) {
        TPVDataFile d;
        if (!d.Load(bench.path()) || d.AddressBook.Count != TPVDatabase::MaxRecords) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(d.AddressBook.Count);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bench.size()));
}
BENCHMARK(BM_LoadDocument)->Unit(benchmark::kMillisecond);

}  // namespace
