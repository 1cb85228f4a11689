#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/Coder.h"
#include "delivery/Mailmessage.h"

// Which recipient list an address goes to.
enum class TRecipientKind { To, Cc, Bcc };

// ---- results of SendMessage ----
// 0 is success. A server reply code (100-599, IsServerReplyCode) means the
// server answered a command with an unexpected reply; LastErrorText() then
// holds the reply text. The other classes:
inline constexpr int kSendOk = 0;
inline constexpr int kSendSocketError = -996;   // the connection failed (also: the server broke the protocol)
inline constexpr int kSendServerClosed = -997;  // the server closed (or reset) the connection
inline constexpr int kSendFileUnreadable = -998;  // an attachment or inline file cannot be read
inline constexpr int kSendOtherFailure = -999;    // any other failure, the user's Cancel() among them
inline constexpr int kSendNotConnected = 999;     // not connected when the send started
// An expired time-out gives the same code as "not connected": the send job
// reports it with its time-out message, and the connection is closed.
inline constexpr int kSendTimedOut = kSendNotConnected;

inline constexpr bool IsServerReplyCode(int code) { return code >= 100 && code <= 599; }

// ---- authentication kinds ----
inline constexpr int kAuthNone = 0;
inline constexpr int kAuthPopBeforeSmtp = 1;  // the kind at creation
inline constexpr int kAuthSmtpLogin = 2;

inline constexpr int kSmtpDefaultPort = 25;
inline constexpr int kPopDefaultPort = 110;

// How long the connection waits for the network. Every wait also ends at
// once when Cancel() is called. Defaults: RFC 5321, section 4.5.3.2.
struct TNetTimeouts {
    std::chrono::milliseconds connect{std::chrono::seconds(60)};   // resolve + TCP connect
    std::chrono::milliseconds greeting{std::chrono::minutes(5)};   // 220 / POP3 "+OK" greeting
    std::chrono::milliseconds command{std::chrono::minutes(5)};    // EHLO, HELO, RSET, AUTH, MAIL, RCPT, POP3
    std::chrono::milliseconds dataStart{std::chrono::minutes(2)};  // reply to "DATA"
    std::chrono::milliseconds dataBlock{std::chrono::minutes(3)};  // each block of the message written
    std::chrono::milliseconds dataEnd{std::chrono::minutes(10)};   // reply to the final "."
    std::chrono::milliseconds quit{std::chrono::seconds(30)};      // reply to "QUIT" (then closed anyway)
};

// What the connection is about to wait for (see TNetModule::SetWaitHook).
enum class TNetWait { Resolve, Connect, Reply, Write };

// A server text split into host and port: "host", "host:port",
// "[v6addr]", "[v6addr]:port", or a bare IPv6 address ("::1", which keeps
// `defaultPort`). False with a reason in `problem` for an empty host or a
// port that is not a number from 1 to 65535.
bool ParseServerAddress(const std::string& server, int defaultPort, std::string& host, int& port,
                        std::string& problem);

struct TNetConnectionState;

// The delivery module: one per send job and one per preview window. It holds
// the message of the mail being sent (filled by BuildMergedMail) and, in its
// connection part, the SMTP and POP3 clients that send it.
class TNetModule {
public:
    TNetModule();
    ~TNetModule();
    TNetModule(const TNetModule&) = delete;
    TNetModule& operator=(const TNetModule&) = delete;

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
    // The POP3 server (same text forms, port 110 by default) for POP before SMTP.
    void SetPopServer(const std::string& host, const std::string& user, const std::string& password);
    const std::string& PopHost() const { return popHost_; }

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

    // ---- the connection (worker thread, except Cancel) ----

    // Connects to the SMTP server, reads the 220 greeting and greets with
    // EHLO (HELO when EHLO is refused). True when connected; the
    // authentication kind is then kAuthNone, or kAuthSmtpLogin when the
    // server listed LOGIN. False at once for an empty host; otherwise false
    // with the reason in LastErrorText(). Disconnects an open connection first.
    bool ConnectSmtp();
    // When connected: "QUIT" (reply awaited at most timeouts.quit) and close.
    // Never fails. Worker thread only: the user-interface thread calls Cancel().
    void DisconnectSmtp();
    // Sends the current message: RSET, AUTH LOGIN once per connection when
    // the kind is kAuthSmtpLogin, MAIL FROM, RCPT TO for To, Cc and Bcc,
    // DATA, the message with "X-Mailer", ".". True when the server took it;
    // otherwise false with the result code (kSend... or a reply code) in
    // `resultCode` and LastResultCode(), the reply text in LastErrorText().
    // A failure of any class other than a reply code closes the connection.
    // A message file that cannot be opened is found before anything is sent.
    bool SendMessage(int* resultCode = nullptr);
    // POP3 login (greeting, USER, PASS). True when every step got "+OK";
    // false at once for an empty host, else with the reason in LastErrorText().
    bool PopLogin();
    // When connected to POP3: "QUIT" and close.
    void PopDisconnect();

    // kAuthPopBeforeSmtp at creation; set by every successful ConnectSmtp.
    int AuthKind() const { return authKind_; }
    // AUTH LOGIN done on the current connection.
    bool IsAuthenticated() const { return authenticated_; }
    bool IsSmtpConnected() const;
    bool IsPopConnected() const;
    // The mechanisms the server listed in its EHLO reply on this connection.
    const std::vector<std::string>& ServerMechanisms() const { return mechanisms_; }
    // Text of the last failure; cleared at the start of every connect, login and send.
    const std::string& LastErrorText() const { return lastError_; }
    // Result code of the last SendMessage (kSendOk after success).
    int LastResultCode() const { return lastResult_; }
    // What the transport said about the last failure of any class ("Connection
    // reset by peer", "timed out waiting for the reply to DATA", ...), also
    // where LastErrorText() stays empty; for diagnostics, never parsed.
    const std::string& FailureDetail() const { return failureDetail_; }

    // Safe from any thread while the worker is blocked: every pending and
    // later network wait of this module returns at once (the sockets are
    // shut down; the worker closes them) and fails with kSendOtherFailure
    // (ConnectSmtp / PopLogin: false). Stays in force until ResetCancel(),
    // so a cancel that comes between two calls is not lost.
    void Cancel();
    // Ends a Cancel(); the send job calls it when a new job starts.
    void ResetCancel();
    bool IsCancelled() const { return cancelled_.load(); }

    void SetTimeouts(const TNetTimeouts& timeouts) { timeouts_ = timeouts; }
    // connect; greeting and commands; the three DATA waits.
    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds command,
                     std::chrono::milliseconds data);
    const TNetTimeouts& Timeouts() const { return timeouts_; }

    // Called on the worker thread each time the connection is about to block
    // on the network (nothing to read yet, a full send buffer, a connect in
    // progress). For tests that must act while the worker is blocked.
    void SetWaitHook(std::function<void(TNetWait)> hook) { waitHook_ = std::move(hook); }

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
    std::string popHost_;
    std::string popUser_;
    std::string popPassword_;

    int authKind_ = kAuthPopBeforeSmtp;
    bool authenticated_ = false;
    std::vector<std::string> mechanisms_;
    std::string lastError_;
    std::string failureDetail_;
    int lastResult_ = kSendOk;
    TNetTimeouts timeouts_;
    std::function<void(TNetWait)> waitHook_;
    std::atomic<bool> cancelled_{false};
    std::unique_ptr<TNetConnectionState> conn_;
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
