#include "Workspace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "shell/Codec.h"
#include "shell/StringTable.h"

namespace {

std::string FolderOfPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool SameFileState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

TPrivateWorkspace::~TPrivateWorkspace() { Remove(); }

bool TPrivateWorkspace::Create(AppPaths paths, unsigned uid, std::string& error) {
    // The user's private temporary folder (mode 0700, checked); a folder of
    // our own below it keeps this run apart from the application and from
    // other runs.
    SecureTempFolder(paths, uid);
    std::string parent = paths.tempFolder;
    if (parent.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        parent = (tmp && tmp[0] == '/') ? std::string(tmp) : std::string("/tmp");
        if (parent.back() != '/') parent += '/';
    }
    std::string pattern = parent + "pelvane-send-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a temporary folder in " + parent + ": " + std::strerror(errno);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        folder_ = pattern + "/";
    }
    paths.tempFolder = pattern + "/";
    paths.mainPreviewFolder = paths.tempFolder + "PelvaneMainPreview/";
    paths.wizardPreviewFolder = paths.tempFolder + "PelvaneWizardPreview/";
    if (!CreateFolder(paths.mainPreviewFolder) || !CreateFolder(paths.wizardPreviewFolder)) {
        error = "cannot make the folders of the temporary folder " + paths.tempFolder;
        Remove();
        return false;
    }
    SetAppPaths(paths);
    return true;
}

void TPrivateWorkspace::Remove() {
    std::lock_guard lock(mutex_);
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
}

AppPaths ComputeSendPaths() {
    PathEnvironment env = CurrentPathEnvironment();
    // The settings file and the installation file carry the application's
    // name; this tool lies beside it (or, in a build tree, near it).
    env.exePath = FolderOfPath(env.exePath) + "pelvane";
    return ComputeAppPaths(env);
}

bool OpenSendDocument(const std::string& path, TAppSettings& settings, TOpenedDocument& out,
                      std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot read the document " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "cannot read the document " + path + ": it is not a file";
        return false;
    }
    if (!out.file.Load(path)) {
        std::string why = out.file.LastError.empty() ? LoadStr(1102) : out.file.LastError;
        error = "cannot read the document " + path + ": " + Cp932ToUtf8(why);
        return false;
    }
    out.fileState = st;
    out.document.path = path;
    out.file.GiveDocument(out.document, out.book, settings);
    out.document.path = path;

    // Documents before version 3 kept their address book in a text file
    // beside them.
    const std::string dat = ChangeFileExt(path, ".dat");
    if (out.file.LoadedVersion < 3 && FileExists(dat)) {
        TPVDatabase fromDat;
        fromDat.FieldNames = out.book.FieldNames;
        if (fromDat.LoadFromFile(dat, TPVDatabase::FormatComma)) {
            // The text reader may hand back one record more than the store
            // holds (it expects a header line to be removed); the send job
            // and the document have room for 1,000.
            if (fromDat.Count > TPVDatabase::MaxRecords) fromDat.Count = TPVDatabase::MaxRecords;
            out.book = std::move(fromDat);
            out.bookFromDat = true;
        }
    }
    if (out.book.Count > TPVDatabase::MaxRecords) out.book.Count = TPVDatabase::MaxRecords;

    // The main window shows the settings' sender, not the document's.
    if (!settings.from.empty()) {
        out.document.senderAddress = settings.from;
        out.document.senderName = settings.name;
    }
    return true;
}

bool SaveSendStates(const std::string& path, TOpenedDocument& doc, std::string& error) {
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0 || !SameFileState(now, doc.fileState)) {
        error =
            "the document " + path +
            " was changed or replaced while the mails were sent; the send states were not written into it";
        return false;
    }
    doc.file.AddressBook.CopyFrom(doc.book);
    if (!doc.file.Save(path, TPVDataFile::DocumentVersion)) {
        error = "the send states could not be written into " + path + ": " + Cp932ToUtf8(doc.file.LastError);
        return false;
    }
    // A second write in the same run must compare with what is there now.
    ::stat(path.c_str(), &doc.fileState);
    return true;
}
