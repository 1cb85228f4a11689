#include "shell/forms/QtCodec.h"

#include <QFile>
#include <QHash>
#include <algorithm>

#include "shell/Codec.h"
#include "shell/StringTable.h"

QString FromCp932(const std::string& cp932) { return QString::fromStdString(Cp932ToUtf8(cp932)); }

std::string ToCp932(const QString& text, bool* lossy) { return Utf8ToCp932(text.toStdString(), lossy); }

QString FromNativePath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string ToNativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString Str(int id) { return QString::fromUtf8(LoadStrUtf8(id)); }

namespace {

// CP932 byte width of one character (a surrogate pair counts as one): 1 or
// 2, or 0 for a character that CP932 cannot hold. Widths are looked up once
// per distinct character.
int Cp932Width(const QString& text, int i, int* units) {
    char16_t c = text[i].unicode();
    *units = 1;
    if (c < 0x80) return 1;
    if (QChar::isHighSurrogate(c) && i + 1 < text.size()) {
        *units = 2;
        return 0;
    }
    if (c >= 0xFF61 && c <= 0xFF9F) return 1;  // half-width katakana
    static QHash<char16_t, int> cache;
    auto it = cache.find(c);
    if (it != cache.end()) return *it;
    int width = static_cast<int>(ToCp932(QString(QChar(c))).size());
    cache.insert(c, width);
    return width;
}

}  // namespace

int BytePosToCharPos(const QString& text, int bytePos) {
    int bytes = 0;
    int i = 0;
    while (i < text.size() && bytes < bytePos) {
        int units = 1;
        bytes += Cp932Width(text, i, &units);
        i += units;
    }
    return i;
}

int CharPosToBytePos(const QString& text, int charPos) {
    int bytes = 0;
    int end = std::min<int>(charPos, text.size());
    for (int i = 0; i < end;) {
        int units = 1;
        bytes += Cp932Width(text, i, &units);
        i += units;
    }
    return bytes;
}
