#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/pelvane-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back permissions that a test took away, so everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& data) const {
    return writeAt(path_ + name, data);
}

std::string TempDir::writeAt(const std::string& p, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << data;
    return p;
}

std::string TempDir::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

AppPaths TempDir::makeAppPaths() const {
    std::filesystem::create_directories(path_ + "bin");
    std::filesystem::create_directories(path_ + "home");
    std::filesystem::create_directories(path_ + "tmp");
    PathEnvironment env;
    env.exePath = path_ + "bin/pelvane";
    env.xdgDataHome = path_ + "data";
    env.home = path_ + "home";
    env.tmpDir = path_ + "tmp";
    env.uid = static_cast<unsigned>(::getuid());
    AppPaths p = ComputeAppPaths(env);
    SecureTempFolder(p, env.uid);
    return p;
}
