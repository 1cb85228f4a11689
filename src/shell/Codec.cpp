#include "shell/Codec.h"

#include <iconv.h>

#include <cerrno>

namespace {

// Runs iconv over the whole input. On an input sequence the target cannot
// take (EILSEQ/EINVAL), `onBad` decides what goes out and how many input
// bytes are skipped.
template <typename OnBad>
std::string Convert(const char* to, const char* from, std::string_view in, OnBad onBad) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, dst - buf);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            size_t skip = onBad(out, std::string_view(src, srcLeft));
            src += skip;
            srcLeft -= skip;
        }
    }
    iconv_close(cd);
    return out;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t Utf8SeqLen(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
    return Convert("UTF-8", "CP932", cp932, [](std::string& out, std::string_view rest) -> size_t {
        out += "\xEF\xBF\xBD";
        return SjisCharLen(rest, 0);
    });
}

std::string Utf8ToCp932(std::string_view utf8, bool* lossy) {
    bool dropped = false;
    std::string out = Convert("CP932", "UTF-8", utf8, [&](std::string&, std::string_view rest) -> size_t {
        dropped = true;
        size_t n = Utf8SeqLen(static_cast<unsigned char>(rest[0]));
        return n <= rest.size() ? n : rest.size();
    });
    if (lossy) *lossy = dropped;
    return out;
}
