#include "delivery/Locale.h"

#include <cstdlib>
#include <string>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string_view(v) : std::string_view();
}

}  // namespace

TPlatformLanguage LanguageFromLocaleNames(std::string_view lcAll, std::string_view lcMessages,
                                          std::string_view lang) {
    std::string_view name = !lcAll.empty() ? lcAll : !lcMessages.empty() ? lcMessages : lang;
    // "C.UTF-8" and "POSIX@x" are still the C locale.
    std::string_view base = name.substr(0, name.find_first_of(".@"));
    if (base.empty() || base == "C" || base == "POSIX") return TPlatformLanguage::Japanese;
    if (StartsWith(name, "ja")) return TPlatformLanguage::Japanese;
    if (StartsWith(name, "zh_CN") || StartsWith(name, "zh_SG")) return TPlatformLanguage::ChineseSimplified;
    if (StartsWith(name, "zh")) return TPlatformLanguage::ChineseOther;
    if (StartsWith(name, "ko")) return TPlatformLanguage::Korean;
    return TPlatformLanguage::Other;
}

TPlatformLanguage PlatformLanguage() {
    return LanguageFromLocaleNames(EnvValue("LC_ALL"), EnvValue("LC_MESSAGES"), EnvValue("LANG"));
}
