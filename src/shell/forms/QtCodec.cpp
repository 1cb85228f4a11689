#include "shell/forms/QtCodec.h"

#include "shell/Codec.h"
#include "shell/StringTable.h"

QString FromCp932(const std::string& cp932) { return QString::fromStdString(Cp932ToUtf8(cp932)); }

std::string ToCp932(const QString& text, bool* lossy) { return Utf8ToCp932(text.toStdString(), lossy); }

QString Str(int id) { return QString::fromUtf8(LoadStrUtf8(id)); }

int BytePosToCharPos(const QString& text, int bytePos) {
    int bytes = 0;
    int i = 0;
    while (i < text.size() && bytes < bytePos) {
        int n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        bytes += static_cast<int>(ToCp932(text.mid(i, n)).size());
        i += n;
    }
    return i;
}

int CharPosToBytePos(const QString& text, int charPos) {
    return static_cast<int>(ToCp932(text.left(charPos)).size());
}
