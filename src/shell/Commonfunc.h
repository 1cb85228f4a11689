#pragma once

#include <string>
#include <vector>

// Application paths, folders and the folder operations every window uses.
// Folder values always end with "/".

struct AppPaths {
    std::string installFolder;        // folder of the running executable
    std::string dataFolder;           // per-user data folder
    std::string addrBookFolder;       // dataFolder + "AddrBook/"
    std::string templateFolder;       // dataFolder + "Template/"
    std::string tempFolder;           // private per-user temporary folder
    std::string mainPreviewFolder;    // tempFolder + "PelvaneMainPreview/"
    std::string wizardPreviewFolder;  // tempFolder + "PelvaneWizardPreview/"
    std::string logFile;              // dataFolder + "log.txt"
    std::string settingsFile;         // dataFolder + executable name + ".ini"
    std::string installFile;          // executable path with ".ini" for its extension
    std::string htmlTemplateRoot;     // installFolder + "HTML TEMPLATE/"
    std::string manual;               // installFolder + "Pelvane Instructions.rtf"
};

// What the paths are computed from; tests fill it by hand.
struct PathEnvironment {
    std::string exePath;        // full path of the running executable
    std::string xdgDataHome;    // $XDG_DATA_HOME
    std::string home;           // $HOME
    std::string xdgRuntimeDir;  // $XDG_RUNTIME_DIR
    std::string tmpDir;         // $TMPDIR
    unsigned uid = 0;
};

// The environment of this process.
PathEnvironment CurrentPathEnvironment();

// Computes every path and creates the data and address-book folders (one
// level each; a failure is ignored). When no per-user base folder can be
// found or made, or the data folder cannot be created in it, the
// installation folder becomes the data folder.
AppPaths ComputeAppPaths(const PathEnvironment& env);

// Makes the private temporary folder `folder` (mode 0700) or checks the one
// that is there. A folder that is a symbolic link, not a directory, owned by
// another user or open to other users is refused: the result is then a fresh
// private folder made with mkdtemp, and `problem` says what was refused.
// Returns an empty string when no private folder can be had at all.
std::string MakePrivateTempFolder(const std::string& folder, unsigned uid, std::string& problem);

// Makes the private temporary folder of `paths` (see above) and points the
// two preview folders into the folder actually used. Returns what was
// refused, empty when all is well.
std::string SecureTempFolder(AppPaths& paths, unsigned uid);

// The paths of this run. Set once at start (tests set their own).
const AppPaths& Paths();
void SetAppPaths(const AppPaths& paths);

// Creates `folder` (one level); false when it does not exist afterwards.
bool CreateFolder(const std::string& folder);
bool FolderExists(const std::string& folder);
bool FileExists(const std::string& path);

// `path` with its extension (the part after the last "." of the file name)
// replaced by `ext` (which starts with "."); appended when there is none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);

// Creates the two preview folders and the text-template folder where missing.
void PrepareFolders();

// Delete every entry of the main / wizard preview folder; entries that cannot
// be deleted (a subfolder) are left without a message.
void ClearMainPreview();
void ClearWizardPreview();
void ClearFolder(const std::string& folder);

// Copies every non-folder entry of `from` into `to`, overwriting; failures ignored.
void CopyFolderFiles(const std::string& from, const std::string& to);
void CopyMainPreviewToWizard();

// Names (or full paths) of the non-folder entries of `folder`, in directory order.
void ListFolderFiles(const std::string& folder, std::vector<std::string>& list);
void ListFolderFilePaths(const std::string& folder, std::vector<std::string>& list);

// Depth-first search of the HTML template root for a folder named `name`
// (exact byte comparison). Returns its path with a trailing "/", or "/"
// alone when there is none.
std::string FindTemplateFolder(const std::string& name);
std::string FindTemplateFolderIn(const std::string& root, const std::string& name);
