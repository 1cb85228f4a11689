#pragma once

#include <string>

#include "shell/Commonfunc.h"

// A temporary folder removed with everything in it at the end of its scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing "/".
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

    // Writes `data` to `name` (relative), creating parent folders.
    std::string write(const std::string& name, const std::string& data) const;
    // Writes `data` to the absolute `path`.
    static std::string writeAt(const std::string& path, const std::string& data);
    static std::string read(const std::string& path);

    // Application paths rooted in this folder: an executable "bin/pelvane",
    // data under "data/", temporary files under "tmp/". Folders are created.
    AppPaths makeAppPaths() const;

private:
    std::string path_;
};
