#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "shell/Commonfunc.h"
#include "support/TempDir.h"

namespace {

PathEnvironment EnvIn(const TempDir& dir) {
    PathEnvironment env;
    env.exePath = dir.file("opt/pelvane");
    env.xdgDataHome = dir.file("data");
    env.home = dir.file("home");
    env.tmpDir = dir.file("tmp");
    env.uid = static_cast<unsigned>(::getuid());
    return env;
}

}  // namespace

TEST(Paths, ComputedFromTheExecutableAndTheEnvironment) {
    TempDir dir;
    AppPaths p = ComputeAppPaths(EnvIn(dir));
    EXPECT_EQ(p.installFolder, dir.file("opt/"));
    EXPECT_EQ(p.installFile, dir.file("opt/pelvane.ini"));
    EXPECT_EQ(p.htmlTemplateRoot, dir.file("opt/HTML TEMPLATE/"));
    EXPECT_EQ(p.manual, dir.file("opt/Pelvane Instructions.rtf"));
    EXPECT_EQ(p.dataFolder, dir.file("data/PelvanePersonal/"));
    EXPECT_EQ(p.addrBookFolder, dir.file("data/PelvanePersonal/AddrBook/"));
    EXPECT_EQ(p.templateFolder, dir.file("data/PelvanePersonal/Template/"));
    EXPECT_EQ(p.logFile, dir.file("data/PelvanePersonal/log.txt"));
    EXPECT_EQ(p.settingsFile, dir.file("data/PelvanePersonal/pelvane.ini"));
    EXPECT_EQ(p.tempFolder, dir.file("tmp/pelvane-" + std::to_string(::getuid()) + "/"));
    EXPECT_EQ(p.mainPreviewFolder, p.tempFolder + "PelvaneMainPreview/");
    EXPECT_EQ(p.wizardPreviewFolder, p.tempFolder + "PelvaneWizardPreview/");
    EXPECT_TRUE(FolderExists(p.dataFolder));
    EXPECT_TRUE(FolderExists(p.addrBookFolder));
    EXPECT_FALSE(FolderExists(p.templateFolder)) << "made by PrepareFolders, not here";
}

TEST(Paths, HomeAndRuntimeFolderAreUsedWhenSet) {
    TempDir dir;
    PathEnvironment env = EnvIn(dir);
    env.xdgDataHome.clear();
    env.xdgRuntimeDir = dir.file("run");
    AppPaths p = ComputeAppPaths(env);
    EXPECT_EQ(p.dataFolder, dir.file("home/.local/share/PelvanePersonal/"));
    EXPECT_EQ(p.tempFolder, dir.file("run/pelvane/"));
}

TEST(Paths, DataFolderFallsBackToTheInstallationFolder) {
    TempDir dir;
    PathEnvironment env = EnvIn(dir);
    // No home known at all.
    env.xdgDataHome.clear();
    env.home.clear();
    AppPaths p = ComputeAppPaths(env);
    EXPECT_EQ(p.dataFolder, p.installFolder);
    EXPECT_EQ(p.settingsFile, p.installFile) << "the two settings files coincide";

    // A base folder that cannot be made: a file stands where it would go.
    dir.write("blocked", "x");
    env.xdgDataHome = dir.file("blocked/data");
    p = ComputeAppPaths(env);
    EXPECT_EQ(p.dataFolder, p.installFolder);
    EXPECT_EQ(p.logFile, p.installFolder + "log.txt");
}

TEST(TempFolder, MadePrivate) {
    TempDir dir;
    AppPaths p = ComputeAppPaths(EnvIn(dir));
    ::mkdir(dir.file("tmp").c_str(), 0777);
    EXPECT_EQ(SecureTempFolder(p, ::getuid()), "");
    EXPECT_EQ(p.tempFolder, dir.file("tmp/pelvane-" + std::to_string(::getuid()) + "/"));
    struct stat st {};
    ASSERT_EQ(::lstat(p.tempFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A second start finds the folder it made and accepts it.
    EXPECT_EQ(SecureTempFolder(p, ::getuid()), "");
}

TEST(TempFolder, UnsafeFoldersAreRefused) {
    struct Case {
        const char* name;
        std::string problem;
    };
    const Case cases[] = {
        {"link", "symbolic link"},
        {"file", "not a folder"},
        {"open", "open to other users"},
        {"other user", "another user"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ::mkdir(dir.file("tmp").c_str(), 0777);
        std::string folder = dir.file("tmp/pelvane-x");
        std::string name = c.name;
        if (name == "link") {
            ::mkdir(dir.file("elsewhere").c_str(), 0700);
            ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), folder.c_str()), 0);
        } else if (name == "file") {
            dir.write("tmp/pelvane-x", "x");
        } else if (name == "open") {
            ::mkdir(folder.c_str(), 0700);
            ::chmod(folder.c_str(), 0777);
        } else {
            ::mkdir(folder.c_str(), 0700);
        }
        // "Another user": the folder is ours, so ask as if we were someone else.
        unsigned uid = name == "other user" ? static_cast<unsigned>(::getuid()) + 1 : static_cast<unsigned>(::getuid());
        AppPaths p;
        p.tempFolder = folder + "/";
        std::string problem = SecureTempFolder(p, uid);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        EXPECT_NE(p.tempFolder, folder + "/") << c.name;
        ASSERT_FALSE(p.tempFolder.empty()) << c.name;
        struct stat st {};
        ASSERT_EQ(::lstat(p.tempFolder.c_str(), &st), 0) << c.name;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.name;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
        EXPECT_EQ(p.mainPreviewFolder, p.tempFolder + "PelvaneMainPreview/");
        ::rmdir(p.tempFolder.c_str());
    }
}

TEST(Folders, PrepareClearCopyAndList) {
    TempDir dir;
    AppPaths p = dir.makeAppPaths();
    SetAppPaths(p);
    PrepareFolders();
    EXPECT_TRUE(FolderExists(p.mainPreviewFolder));
    EXPECT_TRUE(FolderExists(p.wizardPreviewFolder));
    EXPECT_TRUE(FolderExists(p.templateFolder));

    TempDir::writeAt(p.mainPreviewFolder + "index.html", "<html></html>");
    TempDir::writeAt(p.mainPreviewFolder + "b.jpg", "jpeg");
    ::mkdir((p.mainPreviewFolder + "sub").c_str(), 0700);
    TempDir::writeAt(p.wizardPreviewFolder + "b.jpg", "old");

    std::vector<std::string> names;
    ListFolderFiles(p.mainPreviewFolder, names);
    EXPECT_EQ(names, (std::vector<std::string>{"b.jpg", "index.html"})) << "folders are not listed";
    std::vector<std::string> paths;
    ListFolderFilePaths(p.mainPreviewFolder, paths);
    EXPECT_EQ(paths, (std::vector<std::string>{p.mainPreviewFolder + "b.jpg", p.mainPreviewFolder + "index.html"}));

    CopyMainPreviewToWizard();
    EXPECT_EQ(TempDir::read(p.wizardPreviewFolder + "b.jpg"), "jpeg") << "copies overwrite";
    EXPECT_EQ(TempDir::read(p.wizardPreviewFolder + "index.html"), "<html></html>");
    EXPECT_FALSE(FolderExists(p.wizardPreviewFolder + "sub"));

    ClearMainPreview();
    ListFolderFiles(p.mainPreviewFolder, names);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(FolderExists(p.mainPreviewFolder + "sub")) << "a subfolder is left alone";
    ClearWizardPreview();
    ListFolderFiles(p.wizardPreviewFolder, names);
    EXPECT_TRUE(names.empty());

    ListFolderFiles(dir.file("no such folder"), names);
    EXPECT_TRUE(names.empty());
}

TEST(Folders, FindTemplateFolderSearchesDepthFirst) {
    TempDir dir;
    AppPaths p = dir.makeAppPaths();
    p.htmlTemplateRoot = dir.file("HTML TEMPLATE/");
    SetAppPaths(p);
    for (const char* f : {"HTML TEMPLATE/A/Shop/Sale", "HTML TEMPLATE/A/Other", "HTML TEMPLATE/Sale",
                          "HTML TEMPLATE/B/Plain"}) {
        std::string path = dir.file(f);
        for (size_t pos = dir.path().size(); (pos = path.find('/', pos + 1)) != std::string::npos;)
            ::mkdir(path.substr(0, pos).c_str(), 0700);
        ::mkdir(path.c_str(), 0700);
    }
    dir.write("HTML TEMPLATE/B/Notes", "a file, not a folder");

    // "A" comes before "Sale", and the search goes down into A first.
    EXPECT_EQ(FindTemplateFolder("Sale"), dir.file("HTML TEMPLATE/A/Shop/Sale/"));
    EXPECT_EQ(FindTemplateFolder("Plain"), dir.file("HTML TEMPLATE/B/Plain/"));
    EXPECT_EQ(FindTemplateFolder("Shop"), dir.file("HTML TEMPLATE/A/Shop/"));
    // Misses: "/" alone.
    EXPECT_EQ(FindTemplateFolder("sale"), "/") << "the comparison is case-sensitive";
    EXPECT_EQ(FindTemplateFolder("Notes"), "/") << "files are not template folders";
    EXPECT_EQ(FindTemplateFolder("Nowhere"), "/");
    EXPECT_EQ(FindTemplateFolder(""), "/");
    p.htmlTemplateRoot = dir.file("missing/");
    SetAppPaths(p);
    EXPECT_EQ(FindTemplateFolder("Sale"), "/");
}

TEST(Folders, ChangeFileExt) {
    EXPECT_EQ(ChangeFileExt("/a/b/mail.txt", ".pvd"), "/a/b/mail.pvd");
    EXPECT_EQ(ChangeFileExt("/a/b/mail", ".pvd"), "/a/b/mail.pvd");
    EXPECT_EQ(ChangeFileExt("/a.b/mail", ".ini"), "/a.b/mail.ini");
    EXPECT_EQ(ChangeFileExt("/a/b/mail.tar.gz", ".pvd"), "/a/b/mail.tar.pvd");
}
