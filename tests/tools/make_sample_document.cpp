// Writes a small mail document for the command-line sender's checks, and
// reads one back.
//
//   make_sample_document make <out.pvd> <folder> [options]
//       Builds a mail with Japanese and English records (some selected, some
//       with earlier send states) and an attachment, and saves it as a
//       version-3 document. <folder> receives the attachment file and the
//       HTML files while they are packed. Options:
//         --html                an HTML part: index.html and logo.gif
//         --english             ASCII subject and body (for English mode)
//         --bad-recipient       one more selected record whose address holds
//                               double-byte characters
//         --missing-attachment  a second attachment that does not exist
//         --no-selection        no record selected
//         --extra N             N more selected English records
//
//   make_sample_document dump <doc.pvd>
//       Prints the document as JSON (UTF-8): version, texts, attachments,
//       HTML template name and every record with its selected flag and state.
//
// Texts given to the document are CP932, as the application holds them.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "document/Datafile.h"
#include "shell/Codec.h"
#include "support/JsonText.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"

namespace {

struct Options {
    bool html = false;
    bool english = false;
    bool badRecipient = false;
    bool missingAttachment = false;
    bool noSelection = false;
    int extra = 0;
};

bool WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out);
}

std::string JsonCp932(const std::string& cp932) { return JsonText(Cp932ToUtf8(cp932)); }

std::string JsonList(const std::vector<std::string>& cp932) {
    std::string out = "[";
    for (std::size_t i = 0; i < cp932.size(); ++i) out += (i ? ", " : "") + JsonCp932(cp932[i]);
    return out + "]";
}

// Paths whose preview folders lie below `folder`, so that neither a save nor
// a load touches the application's own preview folders.
void UsePrivatePaths(const std::string& folder) {
    AppPaths paths;
    paths.tempFolder = folder + "tmp/";
    paths.mainPreviewFolder = paths.tempFolder + "main/";
    paths.wizardPreviewFolder = paths.tempFolder + "wizard/";
    std::filesystem::create_directories(paths.mainPreviewFolder);
    std::filesystem::create_directories(paths.wizardPreviewFolder);
    SetAppPaths(paths);
}

void AddRecord(TPVDatabase& book, const std::string& address, const std::string& nameUtf8,
               const std::string& companyUtf8, bool selected, int state) {
    TPVRecord& r = book.Records[book.Count];
    r.Values.assign(TPVDatabase::FieldCount, std::string());
    r.Values[0] = address;
    r.Values[1] = Utf8ToCp932(nameUtf8);
    r.Values[2] = Utf8ToCp932(companyUtf8);
    r.Selected = selected ? 1 : 0;
    r.SendState = state;
    r.OriginId = book.Count;
    ++book.Count;
}

int Make(const std::string& out, std::string folder, const Options& o) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::filesystem::create_directories(folder);
    UsePrivatePaths(folder);

    TPVDataFile file;
    file.AddressBook.FieldNames.clear();
    for (int i = 0; i < TPVDatabase::FieldCount; ++i)
        file.AddressBook.FieldNames.push_back(LoadStr(5000 + i));
    file.AddressBook.FieldNames[2] = "Company";

    TPVDatabase& book = file.AddressBook;
    const bool sel = !o.noSelection;
    AddRecord(book, "hanako@example.jp", "鈴木花子", "株式会社ペルベーン", sel, 0);
    AddRecord(book, "taro@example.jp", "山田太郎", "山田商店", false, 1);
    AddRecord(book, "alice@example.com", "Alice", "Example Ltd", sel, 2);
    AddRecord(book, "bob@example.com", "Bob", "Bob & Co", false, 0);
    AddRecord(book, "carol@example.com", "Carol", "Carol Inc", sel, 1);
    if (o.badRecipient) AddRecord(book, Utf8ToCp932("全角＠example.jp"), "全角", "", sel, 0);
    for (int i = 0; i < o.extra && book.Count < TPVDatabase::MaxRecords; ++i) {
        AddRecord(book, "user" + std::to_string(i + 1) + "@example.com", "User " + std::to_string(i + 1), "",
                  sel, 0);
    }

    // What the document says; the sender fields are replaced by the settings
    // when a document is opened.
    file.FromAddress = "document-sender@example.jp";
    file.FromName = Utf8ToCp932("文書の差出人");
    file.RecipientField = "[[Mail Address]]";
    if (o.english) {
        file.Subject = "Notice for [[Name]] of [[Company]]";
        file.Body = {"Dear [[Name]],", "", "Please find the price list attached.", ".", "Regards"};
    } else {
        file.Subject = Utf8ToCp932("[[Name]]様へのご案内");
        file.Body = {Utf8ToCp932("[[Name]]様"), Utf8ToCp932("いつもお世話になっております。"),
                     Utf8ToCp932("[[Company]]のご担当者様へ価格表をお送りします。"), ".",
                     Utf8ToCp932("ペルベーン営業部")};
    }
    file.ServerSmtp = "project-smtp.example.jp";
    file.ServerPassword = "project-secret";

    const std::string attachment = folder + "price-list.txt";
    if (!WriteFile(attachment, "item,price\r\napple,100\r\n")) return 1;
    file.Attachments.push_back(attachment);
    if (o.missingAttachment) file.Attachments.push_back(folder + "missing-file.txt");

    if (o.html) {
        file.HtmlTemplateName = "Sample";
        const std::string page = o.english
                                     ? "<html><body><p>Dear [[Name]]</p><img src=\"logo.gif\"></body></html>"
                                     : "<html><body><p>[[Name]]様</p><img src=\"logo.gif\"></body></html>";
        if (!WriteFile(Paths().mainPreviewFolder + "index.html", Utf8ToCp932(page))) return 1;
        if (!WriteFile(Paths().mainPreviewFolder + "logo.gif",
                       std::string("GIF89a\x01\x00\x01\x00\x00\x00", 12)))
            return 1;
    }
    if (!file.Save(out, TPVDataFile::DocumentVersion)) {
        std::fprintf(stderr, "cannot save %s: %s\n", out.c_str(), file.LastError.c_str());
        return 1;
    }
    std::filesystem::remove_all(Paths().tempFolder);
    return 0;
}

int Dump(const std::string& path) {
    char pattern[] = "/tmp/make-sample-document-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::string folder = std::string(pattern) + "/";
    UsePrivatePaths(folder);
    TPVDataFile file;
    bool ok = file.Load(path);
    std::vector<std::string> htmlFiles;
    ListFolderFiles(Paths().mainPreviewFolder, htmlFiles);
    std::filesystem::remove_all(folder);
    if (!ok) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), file.LastError.c_str());
        return 1;
    }
    std::string out =
        "{\"version\": " + std::to_string(file.LoadedVersion) + ", \"from\": " + JsonCp932(file.FromAddress) +
        ", \"from_name\": " + JsonCp932(file.FromName) + ", \"subject\": " + JsonCp932(file.Subject) +
        ", \"recipient\": " + JsonCp932(file.RecipientField) + ", \"body\": " + JsonList(file.Body) +
        ", \"attachments\": " + JsonList(file.Attachments) +
        ", \"html_template\": " + JsonCp932(file.HtmlTemplateName) +
        ", \"html_files\": " + JsonList(htmlFiles) +
        ", \"field_names\": " + JsonList(file.AddressBook.FieldNames) + ", \"records\": [";
    for (int i = 0; i < file.AddressBook.Count; ++i) {
        const TPVRecord& r = file.AddressBook.Records[i];
        out += std::string(i ? ", " : "") + "{\"values\": " + JsonList(r.Values) +
               ", \"selected\": " + (r.Selected ? "true" : "false") +
               ", \"state\": " + std::to_string(r.SendState) + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
    if (args.size() >= 3 && args[0] == "make") {
        Options o;
        for (std::size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "--html")
                o.html = true;
            else if (args[i] == "--english")
                o.english = true;
            else if (args[i] == "--bad-recipient")
                o.badRecipient = true;
            else if (args[i] == "--missing-attachment")
                o.missingAttachment = true;
            else if (args[i] == "--no-selection")
                o.noSelection = true;
            else if (args[i] == "--extra" && i + 1 < args.size())
                o.extra = std::atoi(args[++i].c_str());
            else {
                std::fprintf(stderr, "unknown option %s\n", args[i].c_str());
                return 2;
            }
        }
        return Make(args[1], args[2], o);
    }
    std::fprintf(
        stderr,
        "usage: make_sample_document make <out.pvd> <folder> [--html] [--english] [--bad-recipient]\n"
        "           [--missing-attachment] [--no-selection] [--extra N]\n"
        "       make_sample_document dump <doc.pvd>\n");
    return 2;
}
