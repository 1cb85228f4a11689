#include "shell/DocumentType.h"

#include <sys/stat.h>

#include "shell/IniFile.h"

namespace {

bool MakeTree(const std::string& folder) {
    for (size_t pos = 1; (pos = folder.find('/', pos)) != std::string::npos; ++pos) {
        ::mkdir(folder.substr(0, pos).c_str(), 0755);
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Quotes a path for the Exec key of a desktop entry.
std::string DesktopQuote(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool RegisterDocumentType(const std::string& exePath, const std::string& xdgDataHome, const std::string& home) {
    std::string base;
    if (!xdgDataHome.empty() && xdgDataHome[0] == '/') base = xdgDataHome;
    else if (!home.empty() && home[0] == '/') base = home + "/.local/share";
    if (base.empty() || exePath.empty()) return false;
    if (base.back() != '/') base += '/';

    const std::string mime =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-pelvane-data\">\n"
        "    <comment>Pelvane Personal mail document</comment>\n"
        "    <glob pattern=\"*.pvd\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    const std::string desktop =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Pelvane Personal\n"
        "Comment=Personalised bulk mail\n"
        "Exec=" + DesktopQuote(exePath) + " %f\n"
        "MimeType=application/x-pelvane-data;\n"
        "Terminal=false\n"
        "Categories=Office;Email;\n";

    bool ok = MakeTree(base + "mime/packages/") &&
              WriteFileAtomically(base + "mime/packages/pelvane-personal.xml", mime);
    ok = MakeTree(base + "applications/") &&
         WriteFileAtomically(base + "applications/pelvane-personal.desktop", desktop) && ok;
    return ok;
}
