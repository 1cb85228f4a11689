#include "shell/Commonfunc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates every missing level of `folder`.
bool CreateFolderTree(const std::string& folder) {
    std::string f = WithSlash(folder);
    for (size_t pos = 1; (pos = f.find('/', pos)) != std::string::npos; ++pos) {
        std::string part = f.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return FolderExists(f);
}

struct DirEntry {
    std::string name;
    bool isFolder;
};

// Entries of `folder` other than "." and "..", sorted by name so that every
// listing is the same from run to run.
std::vector<DirEntry> ReadFolder(const std::string& folder) {
    std::vector<DirEntry> entries;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return entries;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        bool isFolder = ::lstat((WithSlash(folder) + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        entries.push_back({name, isFolder});
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << in.rdbuf();
    return static_cast<bool>(out);
}

std::mutex gPathsMutex;
AppPaths gPaths;

}  // namespace

PathEnvironment CurrentPathEnvironment() {
    PathEnvironment env;
    char buf[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n > 0) env.exePath.assign(buf, static_cast<size_t>(n));
    env.xdgDataHome = Env("XDG_DATA_HOME");
    env.home = Env("HOME");
    env.xdgRuntimeDir = Env("XDG_RUNTIME_DIR");
    env.tmpDir = Env("TMPDIR");
    env.uid = static_cast<unsigned>(::getuid());
    return env;
}

AppPaths ComputeAppPaths(const PathEnvironment& env) {
    AppPaths p;
    p.installFolder = FolderOf(env.exePath);
    p.installFile = ChangeFileExt(env.exePath, ".ini");
    p.htmlTemplateRoot = p.installFolder + "HTML TEMPLATE/";
    p.manual = p.installFolder + "Pelvane Instructions.rtf";

    // The per-user base folder is made when missing, as the desktop's own
    // data folder would be; without one the installation folder serves.
    std::string base;
    if (!env.xdgDataHome.empty() && env.xdgDataHome[0] == '/') base = env.xdgDataHome;
    else if (!env.home.empty() && env.home[0] == '/') base = WithSlash(env.home) + ".local/share";
    std::string data;
    if (!base.empty() && CreateFolderTree(base)) {
        data = WithSlash(base) + "PelvanePersonal/";
        CreateFolder(data);
        if (!FolderExists(data)) data.clear();
    }
    p.dataFolder = data.empty() ? p.installFolder : data;
    p.addrBookFolder = p.dataFolder + "AddrBook/";
    CreateFolder(p.addrBookFolder);
    p.templateFolder = p.dataFolder + "Template/";
    p.logFile = p.dataFolder + "log.txt";
    p.settingsFile = p.dataFolder + ChangeFileExt(FileNameOf(env.exePath), ".ini");

    if (!env.xdgRuntimeDir.empty() && env.xdgRuntimeDir[0] == '/') {
        p.tempFolder = WithSlash(env.xdgRuntimeDir) + "pelvane/";
    } else {
        std::string tmp = (!env.tmpDir.empty() && env.tmpDir[0] == '/') ? env.tmpDir : std::string("/tmp");
        p.tempFolder = WithSlash(tmp) + "pelvane-" + std::to_string(env.uid) + "/";
    }
    p.mainPreviewFolder = p.tempFolder + "PelvaneMainPreview/";
    p.wizardPreviewFolder = p.tempFolder + "PelvaneWizardPreview/";
    return p;
}

std::string MakePrivateTempFolder(const std::string& folder, unsigned uid, std::string& problem) {
    problem.clear();
    std::string f = WithSlash(folder);
    std::string bare = f.substr(0, f.size() - 1);
    if (::mkdir(bare.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "The temporary folder " + f + " cannot be created.";
    } else {
        struct stat st {};
        if (::lstat(bare.c_str(), &st) != 0) {
            problem = "The temporary folder " + f + " cannot be read.";
        } else if (S_ISLNK(st.st_mode)) {
            problem = "The temporary folder " + f + " is a symbolic link.";
        } else if (!S_ISDIR(st.st_mode)) {
            problem = "The temporary folder " + f + " is not a folder.";
        } else if (st.st_uid != uid) {
            problem = "The temporary folder " + f + " belongs to another user.";
        } else if ((st.st_mode & 077) != 0) {
            problem = "The temporary folder " + f + " is open to other users.";
        }
    }
    if (problem.empty()) return f;

    // Fall back to a fresh folder that nobody else can have prepared.
    std::string parent = FolderOf(bare);
    for (const std::string& dir : {parent, std::string("/tmp/")}) {
        std::string templ = dir + "pelvane-" + std::to_string(uid) + "-XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data())) return WithSlash(buf.data());
    }
    return std::string();
}

std::string SecureTempFolder(AppPaths& paths, unsigned uid) {
    std::string problem;
    paths.tempFolder = MakePrivateTempFolder(paths.tempFolder, uid, problem);
    if (paths.tempFolder.empty()) {
        paths.mainPreviewFolder.clear();
        paths.wizardPreviewFolder.clear();
    } else {
        paths.mainPreviewFolder = paths.tempFolder + "PelvaneMainPreview/";
        paths.wizardPreviewFolder = paths.tempFolder + "PelvaneWizardPreview/";
    }
    return problem;
}

const AppPaths& Paths() {
    std::lock_guard lock(gPathsMutex);
    return gPaths;
}

void SetAppPaths(const AppPaths& paths) {
    std::lock_guard lock(gPathsMutex);
    gPaths = paths;
}

bool CreateFolder(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    if (f.empty()) return false;
    ::mkdir(f.c_str(), 0700);
    return FolderExists(f);
}

bool FolderExists(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

void PrepareFolders() {
    const AppPaths& p = Paths();
    if (!p.tempFolder.empty()) {
        CreateFolder(p.mainPreviewFolder);
        CreateFolder(p.wizardPreviewFolder);
    }
    CreateFolder(p.templateFolder);
}

void ClearFolder(const std::string& folder) {
    if (folder.empty()) return;
    for (const DirEntry& e : ReadFolder(folder)) {
        if (!e.isFolder) ::unlink((WithSlash(folder) + e.name).c_str());
    }
}

void ClearMainPreview() { ClearFolder(Paths().mainPreviewFolder); }
void ClearWizardPreview() { ClearFolder(Paths().wizardPreviewFolder); }

void CopyFolderFiles(const std::string& from, const std::string& to) {
    for (const DirEntry& e : ReadFolder(from)) {
        if (!e.isFolder) CopyFile(WithSlash(from) + e.name, WithSlash(to) + e.name);
    }
}

void CopyMainPreviewToWizard() { CopyFolderFiles(Paths().mainPreviewFolder, Paths().wizardPreviewFolder); }

void ListFolderFiles(const std::string& folder, std::vector<std::string>& list) {
    list.clear();
    for (const DirEntry& e : ReadFolder(folder)) {
        if (!e.isFolder) list.push_back(e.name);
    }
}

void ListFolderFilePaths(const std::string& folder, std::vector<std::string>& list) {
    list.clear();
    for (const DirEntry& e : ReadFolder(folder)) {
        if (!e.isFolder) list.push_back(WithSlash(folder) + e.name);
    }
}

std::string FindTemplateFolderIn(const std::string& root, const std::string& name) {
    for (const DirEntry& e : ReadFolder(root)) {
        if (!e.isFolder) continue;
        std::string path = WithSlash(root) + e.name + "/";
        if (e.name == name) return path;
        std::string found = FindTemplateFolderIn(path, name);
        if (found != "/") return found;
    }
    return "/";
}

std::string FindTemplateFolder(const std::string& name) { return FindTemplateFolderIn(Paths().htmlTemplateRoot, name); }
