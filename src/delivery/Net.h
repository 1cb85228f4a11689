#pragma once

#include <string>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/Coder.h"
#include "delivery/Mailmessage.h"

// Which recipient list an address goes to.
enum class TRecipientKind { To, Cc, Bcc };

// The delivery module: one per send job and one per preview window. It holds
// the message of the mail being sent (filled by BuildMergedMail) and, in its
// connection part, the SMTP and POP3 clients that send it.
class TNetModule {
public:
    TNetModule();

    // ---- module fields ----

    // Product name and version: the HELO name and the mailer name are made
    // from them when the SMTP server is set.
    void SetAgent(const std::string& productName, const std::string& productVersion);
    // Stores the SMTP server text ("host", "host:port" or "[v6]:port"), user
    // name and password; no connection is made here.
    void SetSmtpServer(const std::string& host, const std::string& user, const std::string& password);
    const std::string& SmtpHost() const { return smtpHost_; }
    const std::string& SmtpUser() const { return smtpUser_; }
    const std::string& SmtpPassword() const { return smtpPassword_; }
    const std::string& HeloName() const { return heloName_; }
    const std::string& MailerName() const { return mailerName_; }

    // The mail's character mode: 0 Japanese (ISO-2022-JP), any other value English.
    void SetMode(int mode) { mode_ = mode; }
    int Mode() const { return mode_; }
    bool IsJapaneseMode() const { return mode_ == 0; }

    // The header character set; the system's (HeaderCharset()) at creation.
    void SetHeaderCharset(const THeaderCharset& charset) { headerCharset_ = charset; }
    const THeaderCharset& MessageHeaderCharset() const { return headerCharset_; }

    // ---- the message ----

    // Empty message, no date; character set "iso-2022-jp" in Japanese mode,
    // "us-ascii" otherwise.
    void ResetMessage();
    // Address and, when not empty, display name. CR, LF and NUL in either
    // become blanks: neither can break the header or the MAIL FROM command.
    void SetSender(const std::string& address, const std::string& name);
    // Stored unconverted; the writer encodes it.
    void SetSubject(const std::string& subject);
    // Appends `address` (no display name) to `list`. An address holding a
    // control byte (IsEnvelopeSafe) is refused: false, nothing added.
    bool AddRecipient(TRecipientKind list, const std::string& address);
    void SetContentType(const std::string& contentType);
    void SetTransferEncoding(const std::string& transferEncoding);
    // The single body: Japanese mode converts it (SjisToJisLines); content
    // type "text/plain", transfer encoding "7bit" (Japanese) or
    // "quoted-printable" (English).
    void SetPlainBody(std::vector<std::string> lines);
    // A text/plain part, converted and labelled as for SetPlainBody.
    void AddTextPart(std::vector<std::string> lines);
    // A text/html part, then one inline base64 file part per path with a
    // "Content-ID" of "<file name>" (in Japanese mode a file name holding a
    // double-byte character as its EncodeJisWord form).
    void AddHtmlPart(std::vector<std::string> lines, const std::vector<std::string>& inlinePaths);
    // One base64 file part per path; the writer marks them "attachment".
    void AddAttachments(const std::vector<std::string>& paths);
    // Sets the message date and returns its preview text:
    // "Wed, 09 Dec 2026 10:37:26 +0900" with the time in the long time format
    // and the zone's standard-time offset.
    std::string SetMessageDate(const TClockTime& t);
    // "<yyyyMMddhhmmssmmmm.MD5(user name)@host>", added as "Message-ID".
    std::string MakeMessageId(const TClockTime& t);
    // Appends a header; a name already there (any letter case) gets the new
    // value in place.
    void AddExtraHeader(const std::string& name, const std::string& value);

    const TMailMessage& Message() const { return message_; }

    // 0 when every attachment and inline file can be opened now, else -998
    // (kMessageFileUnreadable) with the path in `problem`. Lets a caller
    // refuse a mail before it starts the DATA.
    int CheckMessageFiles(std::string* problem = nullptr) const;
    // Writes the message to `sink` (WriteMailMessage): 0, -998 for a file
    // that cannot be read (nothing written when it is missing from the
    // start), -999 when the sink failed.
    int WriteMessage(TByteSink& sink, bool dotStuffing = true, std::string* problem = nullptr) const;

private:
    TMailPart FilePart(const std::string& path, const std::string& disposition) const;

    std::string productName_;
    std::string productVersion_;
    std::string smtpHost_;
    std::string smtpUser_;
    std::string smtpPassword_;
    std::string heloName_;
    std::string mailerName_;
    int mode_ = 1;
    THeaderCharset headerCharset_;
    TMailMessage message_;
};

// The host of an SMTP server text without its port: "host:25" gives "host",
// "[::1]:25" gives "[::1]"; a text with more than one colon and no brackets
// is a bare IPv6 address and stays whole.
std::string HostWithoutPort(const std::string& server);

// 32 upper-case hexadecimal digits of the MD5 digest of `data` (RFC 1321).
std::string Md5Hex(std::string_view data);
