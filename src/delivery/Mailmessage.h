#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/Coder.h"

// The Internet message of one mail and the writer that serialises it, byte
// for byte in the layout the receiving side sees in the SMTP DATA. The
// delivery module (TNetModule) fills the message; anything that takes bytes
// (the SMTP connection, a file, memory) can receive it through a TByteSink.

using THeaderList = std::vector<std::pair<std::string, std::string>>;

// A text part (lines) or a file part (read when the message is written).
struct TMailPart {
    bool isFile = false;
    std::string contentType;
    std::string transferEncoding;
    std::vector<std::string> lines;  // text part
    std::string filePath;            // file part
    std::string disposition;         // "inline"; empty is written as "attachment"
    THeaderList extraHeaders;        // file part: written after its own headers
};

struct TMailMessage {
    std::string senderAddress;
    std::string senderName;
    std::string subject;  // CP932, encoded by the writer
    std::vector<std::string> to, cc, bcc;
    std::string charset = "us-ascii";  // "us-ascii" or "iso-2022-jp"
    std::string contentType;
    std::string transferEncoding;
    std::vector<std::string> body;
    std::optional<TClockTime> date;  // no "Date" header without one
    THeaderList extraHeaders;
    std::vector<TMailPart> parts;
};

enum class TMailKind { Plain, PlainWithAttachments, HtmlAlternative, HtmlRelated };

// Plain without parts; with file parts only, plain with attachments; with
// text parts, HTML (related when file parts come too).
TMailKind MailKindOf(const TMailMessage& message);

inline constexpr std::string_view kMixedBoundary = "=_NextPart_2rfkindysadvnqw3nerasdf";
inline constexpr std::string_view kRelatedBoundary = "=_NextPart_2relrfksadvnqindyw3nerasdf";
inline constexpr std::string_view kAlternativeBoundary = "=_NextPart_2altrfkindysadvnqw3nerasdf";

// The "X-Library" value: this message writer.
inline constexpr std::string_view kMessageWriterName = "Pelvane Message Writer 1.0";

// Where the writer puts its bytes. Write returns false when the bytes could
// not be taken; the writer then stops at once.
class TByteSink {
public:
    virtual ~TByteSink() = default;
    virtual bool Write(std::string_view bytes) = 0;
};

// Collects everything in memory.
class TStringSink : public TByteSink {
public:
    bool Write(std::string_view bytes) override {
        data.append(bytes);
        return true;
    }
    std::string data;
};

// Writes to a file it creates (replacing one that is there).
class TFileSink : public TByteSink {
public:
    explicit TFileSink(const std::string& path);
    ~TFileSink() override;
    TFileSink(const TFileSink&) = delete;
    TFileSink& operator=(const TFileSink&) = delete;
    bool IsOpen() const { return file_ != nullptr; }
    bool Write(std::string_view bytes) override;
    // Flushes and closes; false when something could not be written.
    bool Close();

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

// Results of WriteMailMessage.
inline constexpr int kMessageWritten = 0;
inline constexpr int kMessageFileUnreadable = -998;  // an attachment or inline file cannot be read
inline constexpr int kMessageSinkFailed = -999;      // the sink refused bytes (it knows why)

// Writes `message`: headers, empty line, body, every line ending in CR LF.
// `charset` is the header character set. With `dotStuffing` (the SMTP DATA
// form) every body line that begins with a period gets one more. Every file
// part is opened before the first byte goes out, so a missing file gives
// kMessageFileUnreadable with nothing written; a file that fails while it is
// read gives the same result after a partial write, which the caller must
// not complete. `problem` (when given) names the file or the failure.
int WriteMailMessage(const TMailMessage& message, const THeaderCharset& charset, TByteSink& sink,
                     bool dotStuffing = true, std::string* problem = nullptr);

// 0 when every file part can be opened now, else kMessageFileUnreadable with
// the path in `problem`.
int CheckMailFiles(const TMailMessage& message, std::string* problem = nullptr);

// The "Date" header value: "Wed, 9 Dec 2026 10:37:26 +0900" (day without a
// leading zero, the current UTC offset of `t`).
std::string FormatMailDate(const TClockTime& t);

// The preview form of the date: "Wed, 09 Dec 2026 10:37:26 +0900" (two-digit
// day, the long time format, the zone's standard-time offset).
std::string FormatPreviewDate(const TClockTime& t);

// Header names and charset names compare without regard to ASCII letter case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The last path component of `path` ("/" separates).
std::string FileNameOfPath(std::string_view path);

// The content type for a file, by the lower-cased extension of its name.
std::string ContentTypeForFile(std::string_view fileName);

// `text` with every CR, LF and NUL byte turned into a blank: a header value
// that can never begin a new header line.
std::string SingleLineText(std::string_view text);

// Whether `address` can go into "MAIL FROM:<...>" / "RCPT TO:<...>" as it
// is: no control byte (below 0x20, or 0x7F).
bool IsEnvelopeSafe(std::string_view address);
