#include "shell/AppSettings.h"

#include "document/Passwordcoder.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"

namespace {

const char kSetup[] = "SETUP";

int StrToIntDef(const std::string& text, int def) {
    int v = def;
    return ParseInteger(text, v) ? v : def;
}

}  // namespace

TAppSettings LoadSettingsFile(const std::string& path) {
    TAppSettings s;
    const auto str = [&](const char* key, const std::string& def) { return IniReadString(path, kSetup, key, def); };
    const auto num = [&](const char* key, int def) { return IniReadInteger(path, kSetup, key, def); };
    s.name = str("Name", "");
    s.from = str("From", "");
    s.smtpServer = str("SMTPServer", "");
    s.popServer = str("POPServer", "");
    s.userId = str("UserID", "");
    s.password = DecodePassword(str("Password", ""));
    s.authType = num("AuthType", 1);
    s.encode = num("Encode", StrToIntDef(LoadStr(5100), 1));
    s.sendContinue = num("SendContinue", 2);
    s.toolbar = num("Toolbar", 0);
    s.ui = num("UI", 0);
    s.fontName = str("Font", LoadStr(5101));
    s.fontSize = num("FontSize", StrToIntDef(LoadStr(5102), 12));
    s.fontStyle.clear();
    s.startShortcut = num("StartShortcut", 1) != 0;
    s.firstRun = IniReadBool(path, kSetup, "FirstRun", true);
    s.defaultAddrBook = str("DefaultAddrBook", "");
    return s;
}

bool SaveSettingsFile(const std::string& path, const TAppSettings& s) {
    bool ok = true;
    const auto str = [&](const char* key, const std::string& v) { ok &= IniWriteString(path, kSetup, key, v); };
    const auto num = [&](const char* key, int v) { ok &= IniWriteInteger(path, kSetup, key, v); };
    num("IniVersion", 3000);
    str("Name", s.name);
    str("From", s.from);
    str("SMTPServer", s.smtpServer);
    str("POPServer", s.popServer);
    str("UserID", s.userId);
    str("Password", EncodePassword(s.password));
    num("AuthType", s.authType);
    num("Encode", s.encode);
    num("SendContinue", s.sendContinue);
    num("Toolbar", s.toolbar);
    num("UI", s.ui);
    str("Font", s.fontName);
    num("FontSize", s.fontSize);
    num("StartShortcut", s.startShortcut ? 1 : 0);
    num("FirstRun", 0);
    str("DefaultAddrBook", s.defaultAddrBook);
    return ok;
}
