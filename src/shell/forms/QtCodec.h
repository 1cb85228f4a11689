#pragma once

#include <QString>
#include <string>

// The one place where CP932 bytes of the core meet QString of the widgets.

QString FromCp932(const std::string& cp932);

// Converts to CP932; characters that CP932 cannot hold are dropped and
// `lossy` (when given) is set.
std::string ToCp932(const QString& text, bool* lossy = nullptr);

// A file-system path (the bytes the core keeps) as a QString, and back.
QString FromNativePath(const std::string& path);
std::string ToNativePath(const QString& path);

// The string-table text `id` as a QString.
QString Str(int id);

// QString position of the CP932 byte position `bytePos` in `text`, and back.
int BytePosToCharPos(const QString& text, int bytePos);
int CharPosToBytePos(const QString& text, int charPos);
