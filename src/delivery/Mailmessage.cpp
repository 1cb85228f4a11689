#include "delivery/Mailmessage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Bytes of file content per base64 line (76 characters).
constexpr std::size_t kBase64LineBytes = 57;
// The longest header line, its CR LF not counted (RFC 5322 2.1.1).
constexpr std::size_t kMaxHeaderLine = 998;
// The writer hands its bytes to the sink in pieces of about this size.
constexpr std::size_t kFlushSize = 64 * 1024;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// "+hhmm" or "-hhmm" for an offset in minutes.
std::string ZoneText(int offset) {
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", sign, offset / 60 % 100, offset % 60);
    return buf;
}

// Headers the writer makes itself; an extra header of one of these names is
// not written a second time (and "Bcc" never).
bool IsWriterHeader(std::string_view name) {
    for (std::string_view fixed : {"From", "Subject", "To", "Cc", "Bcc", "Content-Type", "MIME-Version",
                                   "Content-Transfer-Encoding", "Date", "X-Priority", "X-Library"}) {
        if (EqualsIgnoringCase(name, fixed)) return true;
    }
    return false;
}

// Output buffer with the line rules of the body.
class Output {
public:
    Output(TByteSink& sink, bool dotStuffing) : sink_(sink), dotStuffing_(dotStuffing) {
        buf_.reserve(kFlushSize + 4096);
    }

    // A header line or a structural line: written as it is.
    void Raw(std::string_view line) {
        if (failed_) return;  // the sink is gone: nothing more to collect
        buf_.append(line);
        buf_ += "\r\n";
        Flush(false);
    }

    // A body line: a leading period is doubled for the SMTP DATA.
    void Line(std::string_view line) {
        if (dotStuffing_ && !line.empty() && line[0] == '.') buf_ += '.';
        Raw(line);
    }

    bool Flush(bool always) {
        if (failed_) return false;
        if (!buf_.empty() && (always || buf_.size() >= kFlushSize)) {
            if (!sink_.Write(buf_)) failed_ = true;
            buf_.clear();
        }
        return !failed_;
    }

    bool Failed() const { return failed_; }

private:
    TByteSink& sink_;
    bool dotStuffing_;
    bool failed_ = false;
    std::string buf_;
};

// Calls `fn` for every line of `line` as it will stand on the wire: a CR LF,
// CR or LF inside a stored line would otherwise reach the wire bare.
template <typename Fn>
void ForEachWireLine(std::string_view line, Fn fn) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            fn(line.substr(start, i - start));
            if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    fn(line.substr(start));
}

enum class TextForm { AsBuilt, QuotedPrintable, Jis };

void WriteText(Output& out, const std::vector<std::string>& lines, TextForm form) {
    for (const std::string& stored : lines) {
        ForEachWireLine(stored, [&](std::string_view line) {
            switch (form) {
                case TextForm::QuotedPrintable:
                    for (const std::string& q : QuotedPrintableLines(line)) out.Line(q);
                    break;
                case TextForm::Jis: {
                    // A 7-bit ISO-2022-JP line: half-width katakana widened, and no NUL.
                    std::string jis = TransportJis(line);
                    std::erase(jis, '\0');
                    out.Line(jis);
                    break;
                }
                case TextForm::AsBuilt:
                    out.Line(line);
                    break;
            }
        });
    }
}

bool IsJapanese(const TMailMessage& m) { return EqualsIgnoringCase(m.charset, "iso-2022-jp"); }

TextForm FormFor(const TMailMessage& m, std::string_view transferEncoding) {
    if (EqualsIgnoringCase(transferEncoding, "quoted-printable")) return TextForm::QuotedPrintable;
    return IsJapanese(m) ? TextForm::Jis : TextForm::AsBuilt;
}

// A file name inside a quoted header parameter.
std::string QuotedFileName(std::string_view path, const THeaderCharset& charset, std::size_t column) {
    std::string name = SingleLineText(FileNameOfPath(path));
    if (EqualsIgnoringCase(charset.charset, "ISO-2022-JP")) {
        name = EncodeHeaderText(name, "", charset.charset, charset.encoding, column);
    }
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void WriteFilePartHeaders(Output& out, const TMailPart& part, const THeaderCharset& charset) {
    const std::string indent(8, ' ');
    out.Raw("Content-Type: " + SingleLineText(part.contentType) + ";");
    out.Raw(indent + "name=" + QuotedFileName(part.filePath, charset, indent.size() + 6));
    out.Raw("Content-Transfer-Encoding: " + SingleLineText(part.transferEncoding));
    out.Raw("Content-Disposition: " +
            (part.disposition.empty() ? std::string("attachment") : SingleLineText(part.disposition)) + ";");
    out.Raw(indent + "filename=" + QuotedFileName(part.filePath, charset, indent.size() + 10));
    for (const auto& [name, value] : part.extraHeaders) {
        out.Raw(SingleLineText(name) + ": " + SingleLineText(value));
    }
}

// The base64 lines of an opened file; false when reading fails.
bool WriteFileContent(Output& out, std::ifstream& in) {
    std::string chunk(kBase64LineBytes * 1024, '\0');
    std::string line;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::size_t got = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < got; i += kBase64LineBytes) {
            line.clear();
            AppendBase64(std::string_view(chunk).substr(i, std::min(kBase64LineBytes, got - i)), line);
            out.Raw(line);
        }
        if (out.Failed()) return true;
    }
    return in.eof() && !in.bad();
}

struct OpenedFiles {
    std::vector<std::unique_ptr<std::ifstream>> streams;  // one per part, null for text parts
};

int OpenFiles(const TMailMessage& m, OpenedFiles& files, std::string* problem) {
    for (const TMailPart& part : m.parts) {
        if (!part.isFile) {
            files.streams.emplace_back();
            continue;
        }
        // Only a regular file: a folder cannot be read and a pipe could block the send.
        std::error_code ec;
        auto in = std::filesystem::is_regular_file(part.filePath, ec)
                      ? std::make_unique<std::ifstream>(part.filePath, std::ios::binary)
                      : nullptr;
        if (!in || !*in) {
            if (problem) *problem = part.filePath;
            return kMessageFileUnreadable;
        }
        files.streams.push_back(std::move(in));
    }
    return kMessageWritten;
}

void WriteHeaders(Output& out, const TMailMessage& m, const THeaderCharset& charset, TMailKind kind) {
    auto header = [&](std::string_view name, const std::string& value) {
        if (!value.empty()) out.Raw(std::string(name) + ": " + value);
    };
    header("From",
           FormatDisplayAddress(SingleLineText(m.senderName), SingleLineText(m.senderAddress), charset, 6));
    header("Subject", EncodeHeaderText(SingleLineText(m.subject), "", charset.charset, charset.encoding, 9));
    // Entries joined by ", "; a line that would grow beyond what a mail line
    // may hold goes on in a folded line.
    auto joined = [&](const std::vector<std::string>& list) {
        std::string value;
        std::size_t line = 4;  // "To: ", "Cc: "
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string entry = SingleLineText(list[i]);
            if (i && line + 2 + entry.size() > kMaxHeaderLine) {
                value += ",\r\n ";
                line = 1;
            } else if (i) {
                value += ", ";
                line += 2;
            }
            value += entry;
            line += entry.size();
        }
        return value;
    };
    header("To", joined(m.to));
    header("Cc", joined(m.cc));
    std::string type;
    switch (kind) {
        case TMailKind::Plain:
            type = SingleLineText(m.contentType);
            break;
        case TMailKind::PlainWithAttachments:
            type = "multipart/mixed; boundary=\"" + std::string(kMixedBoundary) + "\"";
            break;
        case TMailKind::HtmlAlternative:
            type = "multipart/alternative; boundary=\"" + std::string(kMixedBoundary) + "\"";
            break;
        case TMailKind::HtmlRelated:
            type = "multipart/related; type=\"multipart/alternative\"; boundary=\"" +
                   std::string(kRelatedBoundary) + "\"";
            break;
    }
    header("Content-Type", type + ";\r\n\tcharset=\"" + SingleLineText(m.charset) + "\"");
    header("MIME-Version", "1.0");
    header("Content-Transfer-Encoding",
           kind == TMailKind::Plain ? SingleLineText(m.transferEncoding) : std::string("7bit"));
    if (m.date) header("Date", FormatMailDate(*m.date));
    header("X-Priority", "3");
    header("X-Library", std::string(kMessageWriterName));
    // Message-ID, then X-Mailer, then any other extra header in its order.
    for (std::string_view first : {"Message-ID", "X-Mailer"}) {
        for (const auto& [name, value] : m.extraHeaders) {
            if (EqualsIgnoringCase(name, first)) header(first, SingleLineText(value));
        }
    }
    for (const auto& [name, value] : m.extraHeaders) {
        if (EqualsIgnoringCase(name, "Message-ID") || EqualsIgnoringCase(name, "X-Mailer") ||
            IsWriterHeader(name))
            continue;
        header(SingleLineText(name), SingleLineText(value));
    }
}

}  // namespace

TMailKind MailKindOf(const TMailMessage& message) {
    bool text = false, file = false;
    for (const TMailPart& p : message.parts) (p.isFile ? file : text) = true;
    if (text) return file ? TMailKind::HtmlRelated : TMailKind::HtmlAlternative;
    return file ? TMailKind::PlainWithAttachments : TMailKind::Plain;
}

int CheckMailFiles(const TMailMessage& message, std::string* problem) {
    OpenedFiles files;
    return OpenFiles(message, files, problem);
}

int WriteMailMessage(const TMailMessage& m, const THeaderCharset& charset, TByteSink& sink, bool dotStuffing,
                     std::string* problem) {
    OpenedFiles files;
    if (int rc = OpenFiles(m, files, problem); rc != kMessageWritten) return rc;

    Output out(sink, dotStuffing);
    const TMailKind kind = MailKindOf(m);
    WriteHeaders(out, m, charset, kind);
    out.Raw("");

    const std::string m1 = "--" + std::string(kMixedBoundary);
    const std::string r1 = "--" + std::string(kRelatedBoundary);
    const std::string a1 = "--" + std::string(kAlternativeBoundary);
    bool fileFailed = false;
    auto filePart = [&](std::size_t i, const std::string& boundary) {
        out.Raw("");
        out.Raw(boundary);
        WriteFilePartHeaders(out, m.parts[i], charset);
        out.Raw("");
        if (!WriteFileContent(out, *files.streams[i])) {
            fileFailed = true;
            if (problem) *problem = m.parts[i].filePath;
        }
        out.Raw("");
    };
    auto textPartHeaders = [&](const TMailPart& p) {
        out.Raw("Content-Type: " + SingleLineText(p.contentType));
        out.Raw("Content-Transfer-Encoding: " + SingleLineText(p.transferEncoding));
        out.Raw("");
    };

    switch (kind) {
        case TMailKind::Plain:
            WriteText(out, m.body, FormFor(m, m.transferEncoding));
            break;
        case TMailKind::PlainWithAttachments: {
            out.Raw("This is a multi-part message in MIME format");
            out.Raw("");
            out.Raw(m1);
            bool japanese = IsJapanese(m);
            out.Raw(japanese ? "Content-Type: text/plain;charset=\"iso-2022-jp\""
                             : "Content-Type: text/plain;charset=\"us-ascii\"");
            out.Raw(japanese ? "Content-Transfer-Encoding: 7bit"
                             : "Content-Transfer-Encoding: quoted-printable");
            out.Raw("");
            WriteText(out, m.body, japanese ? TextForm::Jis : TextForm::QuotedPrintable);
            for (std::size_t i = 0; i < m.parts.size() && !fileFailed; ++i) filePart(i, m1);
            out.Raw(m1 + "--");
            break;
        }
        case TMailKind::HtmlAlternative:
            out.Raw("This is a multi-part message in MIME format");
            out.Raw("");
            for (const TMailPart& p : m.parts) {
                out.Raw(m1);
                textPartHeaders(p);
                WriteText(out, p.lines, FormFor(m, p.transferEncoding));
                out.Raw("");
            }
            out.Raw(m1 + "--");
            break;
        case TMailKind::HtmlRelated:
            out.Raw("This is a multi-part message in MIME format");
            out.Raw("");
            out.Raw(r1);
            out.Raw("Content-Type: multipart/alternative; ");
            out.Raw("        boundary=\"" + std::string(kAlternativeBoundary) + "\"");
            out.Raw("");
            for (const TMailPart& p : m.parts) {
                if (p.isFile) continue;
                out.Raw(a1);
                textPartHeaders(p);
                WriteText(out, p.lines, FormFor(m, p.transferEncoding));
                out.Raw("");
                out.Raw("");
            }
            out.Raw(a1 + "--");
            for (std::size_t i = 0; i < m.parts.size() && !fileFailed; ++i) {
                if (m.parts[i].isFile) filePart(i, r1);
            }
            out.Raw(r1 + "--");
            break;
    }
    if (fileFailed) return kMessageFileUnreadable;
    if (!out.Flush(true)) {
        if (problem && problem->empty()) *problem = "the message could not be written";
        return kMessageSinkFailed;
    }
    return kMessageWritten;
}

std::string FormatMailDate(const TClockTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d ", kWeekdays[t.weekday % 7], t.day,
                  kMonths[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second);
    return buf + ZoneText(t.utcOffsetMinutes);
}

std::string FormatPreviewDate(const TClockTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d ", kWeekdays[t.weekday % 7], t.day,
                  kMonths[(t.month + 11) % 12], t.year);
    return buf + FormatLongTime(t) + " " + ZoneText(t.standardOffsetMinutes);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::string FileNameOfPath(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ContentTypeForFile(std::string_view fileName) {
    std::size_t dot = fileName.rfind('.');
    std::string ext;
    if (dot != std::string_view::npos) {
        for (char c : fileName.substr(dot)) ext += Lower(c);
    }
    if (ext == ".gif") return "image/gif";
    if (ext == ".jpeg" || ext == ".jpg") return "image/jpeg";
    if (ext == ".png") return "image/png";
    if (ext == ".txt") return "text/plain";
    return "application/octet-stream";
}

std::string SingleLineText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    }
    return out;
}

bool IsEnvelopeSafe(std::string_view address) {
    for (unsigned char c : address) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

TFileSink::TFileSink(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}

TFileSink::~TFileSink() { Close(); }

bool TFileSink::Write(std::string_view bytes) {
    if (!file_ || failed_) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
    return !failed_;
}

bool TFileSink::Close() {
    if (!file_) return false;
    bool ok = std::fflush(file_) == 0 && !failed_;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    failed_ = !ok;
    return ok;
}
