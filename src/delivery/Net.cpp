#include "delivery/Net.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <thread>

#include "shell/Codec.h"
#include "shell/StringTable.h"

namespace {

bool HasDoubleByteChar(std::string_view text) {
    for (unsigned char c : text) {
        if (IsSjisLeadByte(c)) return true;
    }
    return false;
}

}  // namespace

void TNetModule::SetAgent(const std::string& productName, const std::string& productVersion) {
    productName_ = productName;
    productVersion_ = productVersion;
}

void TNetModule::SetSmtpServer(const std::string& host, const std::string& user,
                               const std::string& password) {
    smtpHost_ = host;
    smtpUser_ = user;
    smtpPassword_ = password;
    heloName_ = productName_;
    mailerName_ = productName_ + " " + productVersion_;
}

// ---- the message ----

void TNetModule::ResetMessage() {
    message_ = TMailMessage{};
    message_.charset = IsJapaneseMode() ? "iso-2022-jp" : "us-ascii";
}

void TNetModule::SetSender(const std::string& address, const std::string& name) {
    message_.senderAddress = SingleLineText(address);
    message_.senderName = name.empty() ? std::string() : SingleLineText(name);
}

void TNetModule::SetSubject(const std::string& subject) { message_.subject = subject; }

bool TNetModule::AddRecipient(TRecipientKind list, const std::string& address) {
    if (!IsEnvelopeSafe(address)) return false;
    switch (list) {
        case TRecipientKind::To:
            message_.to.push_back(address);
            break;
        case TRecipientKind::Cc:
            message_.cc.push_back(address);
            break;
        case TRecipientKind::Bcc:
            message_.bcc.push_back(address);
            break;
    }
    return true;
}

void TNetModule::SetContentType(const std::string& contentType) { message_.contentType = contentType; }

void TNetModule::SetTransferEncoding(const std::string& transferEncoding) {
    message_.transferEncoding = transferEncoding;
}

void TNetModule::SetPlainBody(std::vector<std::string> lines) {
    if (IsJapaneseMode()) SjisToJisLines(lines);
    message_.body = std::move(lines);
    message_.contentType = "text/plain";
    message_.transferEncoding = IsJapaneseMode() ? "7bit" : "quoted-printable";
}

void TNetModule::AddTextPart(std::vector<std::string> lines) {
    TMailPart part;
    if (IsJapaneseMode()) SjisToJisLines(lines);
    part.lines = std::move(lines);
    part.contentType =
        IsJapaneseMode() ? "text/plain;charset=\"iso-2022-jp\"" : "text/plain;charset=\"us-ascii\"";
    part.transferEncoding = IsJapaneseMode() ? "7bit" : "quoted-printable";
    message_.parts.push_back(std::move(part));
}

void TNetModule::AddHtmlPart(std::vector<std::string> lines, const std::vector<std::string>& inlinePaths) {
    TMailPart part;
    if (IsJapaneseMode()) SjisToJisLines(lines);
    part.lines = std::move(lines);
    part.contentType =
        IsJapaneseMode() ? "text/html;charset=\"iso-2022-jp\"" : "text/html;charset=\"us-ascii\"";
    part.transferEncoding = IsJapaneseMode() ? "7bit" : "quoted-printable";
    message_.parts.push_back(std::move(part));
    for (const std::string& path : inlinePaths) {
        TMailPart file = FilePart(path, "inline");
        std::string name = FileNameOfPath(path);
        if (IsJapaneseMode() && HasDoubleByteChar(name)) name = EncodeJisWord(name);
        file.extraHeaders.emplace_back("Content-ID", "<" + name + ">");
        message_.parts.push_back(std::move(file));
    }
}

void TNetModule::AddAttachments(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) message_.parts.push_back(FilePart(path, ""));
}

TMailPart TNetModule::FilePart(const std::string& path, const std::string& disposition) const {
    TMailPart part;
    part.isFile = true;
    part.filePath = path;
    part.contentType = ContentTypeForFile(FileNameOfPath(path));
    part.transferEncoding = "base64";
    part.disposition = disposition;
    return part;
}

std::string TNetModule::SetMessageDate(const TClockTime& t) {
    message_.date = t;
    return FormatPreviewDate(t);
}

std::string TNetModule::MakeMessageId(const TClockTime& t) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%04d.", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    std::string id = "<" + std::string(stamp) + Md5Hex(smtpUser_) + "@" + HostWithoutPort(smtpHost_) + ">";
    AddExtraHeader("Message-ID", id);
    return id;
}

void TNetModule::AddExtraHeader(const std::string& name, const std::string& value) {
    for (auto& [n, v] : message_.extraHeaders) {
        if (EqualsIgnoringCase(n, name)) {
            v = value;
            return;
        }
    }
    message_.extraHeaders.emplace_back(name, value);
}

int TNetModule::CheckMessageFiles(std::string* problem) const { return CheckMailFiles(message_, problem); }

int TNetModule::WriteMessage(TByteSink& sink, bool dotStuffing, std::string* problem) const {
    return WriteMailMessage(message_, headerCharset_, sink, dotStuffing, problem);
}

std::string HostWithoutPort(const std::string& server) {
    if (!server.empty() && server[0] == '[') {
        std::size_t close = server.find(']');
        return close == std::string::npos ? server : server.substr(0, close + 1);
    }
    std::size_t colon = server.find(':');
    if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos) return server;
    return server.substr(0, colon);
}

std::string Md5Hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::string hex;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) != 1) return hex;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

// ---- the connection ----

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxReplyLine = 64 * 1024;     // one reply line, line end included
constexpr std::size_t kMaxReplyTotal = 1024 * 1024;  // one whole (multi-line) reply
constexpr std::size_t kSendBufferSize = 64 * 1024;   // the message is written in blocks of this size

// Why a network step failed.
enum class TFail {
    None,
    Socket,     // the operating system reported an error
    Closed,     // the server closed or reset the connection
    Timeout,    // a time-out expired
    Cancelled,  // Cancel() was called
    Protocol,   // the server's bytes are not a reply
    Reply,      // the server answered with an unexpected reply
    Unsafe,     // a command would have held a line break; nothing was sent
};

// One parsed server reply.
struct TReply {
    int code = 0;
    std::string text;  // the lines' texts after the code, joined by CR LF
    std::vector<std::string> lines;
};

std::string ErrnoText(int error) {
    char buffer[256];
    return std::string(strerror_r(error, buffer, sizeof buffer));
}

bool IsCloseErrno(int error) {
    return error == ECONNRESET || error == EPIPE || error == ECONNABORTED || error == ESHUTDOWN;
}

std::string Printable(std::string_view text, std::size_t limit = 80) {
    std::string out;
    for (char c : text.substr(0, std::min(limit, text.size()))) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    if (text.size() > limit) out += "...";
    return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// getaddrinfo on its own thread, so that a slow name server does not hold
// off Cancel() or the connect time-out. The state outlives an abandoned wait.
struct TResolveJob {
    std::string host;
    std::string port;
    std::mutex mutex;  // guards rc, error and result between the lookup thread and the waiter
    int rc = 0;
    int error = 0;
    addrinfo* result = nullptr;
    int pipe[2] = {-1, -1};
    ~TResolveJob() {
        if (result) freeaddrinfo(result);
        if (pipe[0] >= 0) ::close(pipe[0]);
        if (pipe[1] >= 0) ::close(pipe[1]);
    }
};

addrinfo StreamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

}  // namespace

// The sockets of the module and what Cancel() needs to reach them.
struct TNetConnectionState {
    TNetConnectionState() {
        if (::pipe2(cancelPipe, O_NONBLOCK | O_CLOEXEC) != 0) cancelPipe[0] = cancelPipe[1] = -1;
    }
    ~TNetConnectionState() {
        smtp.Close(*this);
        pop.Close(*this);
        if (cancelPipe[0] >= 0) ::close(cancelPipe[0]);
        if (cancelPipe[1] >= 0) ::close(cancelPipe[1]);
    }

    // One TCP connection with its read buffer.
    struct TLink {
        int fd = -1;
        std::string in;
        std::size_t inPos = 0;

        bool IsOpen() const { return fd >= 0; }
        void Close(TNetConnectionState& state) {
            std::lock_guard lock(state.fdMutex);
            if (fd >= 0) ::close(fd);
            fd = -1;
            in.clear();
            inPos = 0;
        }
    };

    int cancelPipe[2] = {-1, -1};
    // Guards the fd values against Cancel() shutting down a descriptor that
    // the worker closes (and the system reuses) at the same moment.
    std::mutex fdMutex;
    TLink smtp;
    TLink pop;
};

namespace {

// The I/O of one link, with the module's cancel state and wait hook.
class TLinkIo {
public:
    TLinkIo(TNetConnectionState& state, TNetConnectionState::TLink& link, const std::atomic<bool>& cancelled,
            const std::function<void(TNetWait)>& hook)
        : state_(state), link_(link), cancelled_(cancelled), hook_(hook) {}

    // Waits until `fd` is ready for `events`, the deadline passes or Cancel() comes.
    TFail Wait(int fd, short events, Clock::time_point deadline, TNetWait what, std::string& detail) {
        if (cancelled_.load()) return Cancelled(detail);
        if (hook_) hook_(what);
        for (;;) {
            if (cancelled_.load()) return Cancelled(detail);
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                detail = "timed out";
                return TFail::Timeout;
            }
            pollfd fds[2] = {{fd, events, 0}, {state_.cancelPipe[0], POLLIN, 0}};
            int wait = static_cast<int>(std::min<long long>(left.count() + 1, 1000LL * 60 * 60));
            int n = ::poll(fds, state_.cancelPipe[0] >= 0 ? 2 : 1, wait);
            if (n < 0) {
                if (errno == EINTR) continue;
                detail = ErrnoText(errno);
                return TFail::Socket;
            }
            if (cancelled_.load()) return Cancelled(detail);
            if (n > 0 && fds[0].revents != 0) return TFail::None;
            if (n > 0 && fds[1].revents != 0) {
                // A wake-up left over from a Cancel() that ResetCancel() ended.
                char drain[64];
                while (::read(state_.cancelPipe[0], drain, sizeof drain) > 0) {
                }
            }
        }
    }

    // Resolves and connects `host`:`port`, trying every address in turn
    // within the connect time-out.
    TFail Open(const std::string& host, int port, std::chrono::milliseconds timeout, std::string& detail) {
        link_.Close(state_);
        if (cancelled_.load()) return Cancelled(detail);
        const Clock::time_point deadline = Clock::now() + timeout;
        const std::string where = host + " port " + std::to_string(port);

        auto job = std::make_shared<TResolveJob>();
        job->host = host;
        job->port = std::to_string(port);
        addrinfo numeric = StreamHints(AI_NUMERICHOST | AI_NUMERICSERV);
        job->rc = ::getaddrinfo(host.c_str(), job->port.c_str(), &numeric, &job->result);
        job->error = errno;
        if (job->rc == EAI_NONAME) {
            job->result = nullptr;
            TFail fail = ResolveByName(job, deadline, detail);
            if (fail != TFail::None) return fail;
        }
        std::lock_guard resolved(job->mutex);
        if (job->rc != 0 || job->result == nullptr) {
            detail = "Cannot resolve the server name \"" + host + "\": " +
                     (job->rc == EAI_SYSTEM ? ErrnoText(job->error) : std::string(gai_strerror(job->rc)));
            return TFail::Socket;
        }

        std::string lastProblem = "no address";
        for (addrinfo* ai = job->result; ai != nullptr; ai = ai->ai_next) {
            int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
            if (fd < 0) {
                lastProblem = ErrnoText(errno);
                continue;
            }
            {
                std::lock_guard lock(state_.fdMutex);
                link_.fd = fd;
            }
            // Commands go out whole in one write and the message in large
            // blocks: nothing is gained by holding small segments back.
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
            if (rc != 0 && errno == EINPROGRESS) {
                std::string waitDetail;
                TFail fail = Wait(fd, POLLOUT, deadline, TNetWait::Connect, waitDetail);
                if (fail == TFail::Cancelled || fail == TFail::Timeout) {
                    link_.Close(state_);
                    detail = fail == TFail::Timeout ? "Timed out connecting to " + where : waitDetail;
                    return fail;
                }
                int error = 0;
                socklen_t length = sizeof error;
                if (fail != TFail::None) {
                    error = EIO;
                } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
                rc = error == 0 ? 0 : -1;
                errno = error;
            }
            if (rc == 0) {
                if (cancelled_.load()) {
                    link_.Close(state_);
                    return Cancelled(detail);
                }
                return TFail::None;
            }
            lastProblem = ErrnoText(errno);
            link_.Close(state_);
            if (cancelled_.load()) return Cancelled(detail);
        }
        detail = "Cannot connect to " + where + ": " + lastProblem;
        return TFail::Socket;
    }

    // Writes all of `data`; each block that the system will not take at once
    // may wait up to `blockTimeout`.
    TFail WriteAll(std::string_view data, std::chrono::milliseconds blockTimeout, std::string& detail) {
        if (!link_.IsOpen()) {
            detail = "not connected";
            return TFail::Closed;
        }
        if (cancelled_.load()) return Cancelled(detail);
        while (!data.empty()) {
            ssize_t n = ::send(link_.fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n > 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                TFail fail = Wait(link_.fd, POLLOUT, Clock::now() + blockTimeout, TNetWait::Write, detail);
                if (fail == TFail::Timeout) detail = "timed out writing to the server";
                if (fail != TFail::None) return fail;
                continue;
            }
            return SocketFailure(n < 0 ? errno : EIO, detail);
        }
        return TFail::None;
    }

    // One line without its line end (CR LF or LF). Lines longer than
    // kMaxReplyLine are a protocol failure, never kept in memory whole.
    TFail ReadLine(std::string& line, Clock::time_point deadline, std::string& detail) {
        if (!link_.IsOpen()) {
            detail = "not connected";
            return TFail::Closed;
        }
        for (;;) {
            std::size_t end = link_.in.find('\n', link_.inPos);
            if (end != std::string::npos) {
                if (end - link_.inPos + 1 > kMaxReplyLine) return TooLong(detail);
                line.assign(link_.in, link_.inPos, end - link_.inPos);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                link_.inPos = end + 1;
                if (link_.inPos == link_.in.size()) {
                    link_.in.clear();
                    link_.inPos = 0;
                }
                return TFail::None;
            }
            if (link_.in.size() - link_.inPos >= kMaxReplyLine) return TooLong(detail);
            if (link_.inPos > 0) {
                link_.in.erase(0, link_.inPos);
                link_.inPos = 0;
            }
            if (cancelled_.load()) return Cancelled(detail);
            char buffer[16 * 1024];
            ssize_t n = ::recv(link_.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                link_.in.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                if (cancelled_.load()) return Cancelled(detail);
                detail = "the server closed the connection";
                return TFail::Closed;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                TFail fail = Wait(link_.fd, POLLIN, deadline, TNetWait::Reply, detail);
                if (fail != TFail::None) return fail;
                continue;
            }
            return SocketFailure(errno, detail);
        }
    }

    // A whole SMTP reply: "250-..." lines up to the one with a blank (or
    // nothing) after the code.
    TFail ReadSmtpReply(TReply& reply, Clock::time_point deadline, std::string& detail) {
        reply = TReply{};
        std::size_t total = 0;
        for (;;) {
            std::string line;
            TFail fail = ReadLine(line, deadline, detail);
            if (fail != TFail::None) return fail;
            total += line.size() + 2;
            if (total > kMaxReplyTotal) {
                detail = "the server's reply is longer than " + std::to_string(kMaxReplyTotal) + " bytes";
                return TFail::Protocol;
            }
            bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                          std::isdigit(static_cast<unsigned char>(line[1])) &&
                          std::isdigit(static_cast<unsigned char>(line[2]));
            bool separator = line.size() == 3 || line[3] == ' ' || line[3] == '-';
            int code = digits ? std::stoi(line.substr(0, 3)) : 0;
            if (!digits || !separator || !IsServerReplyCode(code)) {
                detail = "the server sent no valid reply: \"" + Printable(line) + "\"";
                return TFail::Protocol;
            }
            if (reply.lines.empty()) reply.code = code;
            std::string text = line.size() > 4 ? line.substr(4) : std::string();
            if (!reply.text.empty() || !reply.lines.empty()) reply.text += "\r\n";
            reply.text += text;
            reply.lines.push_back(std::move(text));
            if (line.size() == 3 || line[3] == ' ') return TFail::None;
        }
    }

private:
    TFail Cancelled(std::string& detail) {
        detail = "cancelled";
        return TFail::Cancelled;
    }
    TFail TooLong(std::string& detail) {
        detail = "the server sent a line longer than " + std::to_string(kMaxReplyLine) + " bytes";
        return TFail::Protocol;
    }
    TFail SocketFailure(int error, std::string& detail) {
        if (cancelled_.load()) return Cancelled(detail);
        detail = ErrnoText(error);
        return IsCloseErrno(error) ? TFail::Closed : TFail::Socket;
    }

    TFail ResolveByName(const std::shared_ptr<TResolveJob>& job, Clock::time_point deadline,
                        std::string& detail) {
        if (::pipe2(job->pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
            detail = ErrnoText(errno);
            return TFail::Socket;
        }
        try {
            std::thread([job] {
                addrinfo hints = StreamHints(AI_NUMERICSERV);
                addrinfo* result = nullptr;
                int rc = ::getaddrinfo(job->host.c_str(), job->port.c_str(), &hints, &result);
                {
                    std::lock_guard lock(job->mutex);
                    job->rc = rc;
                    job->error = errno;
                    job->result = result;
                }
                char done = 1;
                [[maybe_unused]] ssize_t n = ::write(job->pipe[1], &done, 1);
            }).detach();
        } catch (...) {
            detail = "cannot start the name lookup";
            return TFail::Socket;
        }
        TFail fail = Wait(job->pipe[0], POLLIN, deadline, TNetWait::Resolve, detail);
        if (fail == TFail::Timeout) detail = "Timed out looking up the server name \"" + job->host + "\"";
        return fail;
    }

    TNetConnectionState& state_;
    TNetConnectionState::TLink& link_;
    const std::atomic<bool>& cancelled_;
    const std::function<void(TNetWait)>& hook_;
};

// The message writer's sink on the SMTP connection: buffered, each block
// written within the data-block time-out. Remembers why it failed.
class TSocketSink : public TByteSink {
public:
    TSocketSink(TLinkIo& io, std::chrono::milliseconds blockTimeout) : io_(io), blockTimeout_(blockTimeout) {
        buffer_.reserve(kSendBufferSize);
    }
    bool Write(std::string_view bytes) override {
        if (fail_ != TFail::None) return false;
        while (!bytes.empty()) {
            std::size_t room = kSendBufferSize - buffer_.size();
            std::size_t take = std::min(room, bytes.size());
            buffer_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (buffer_.size() == kSendBufferSize && !Flush()) return false;
        }
        return true;
    }
    bool Flush() {
        if (fail_ != TFail::None) return false;
        fail_ = io_.WriteAll(buffer_, blockTimeout_, detail_);
        buffer_.clear();
        return fail_ == TFail::None;
    }
    TFail Failure() const { return fail_; }
    const std::string& Detail() const { return detail_; }

private:
    TLinkIo& io_;
    std::chrono::milliseconds blockTimeout_;
    std::string buffer_;
    TFail fail_ = TFail::None;
    std::string detail_;
};

bool IsSafeCommand(std::string_view command) {
    return command.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

TNetModule::TNetModule() : conn_(std::make_unique<TNetConnectionState>()), headerCharset_(HeaderCharset()) {
    SetAgent(LoadStr(901), LoadStr(902));
    ResetMessage();
}

TNetModule::~TNetModule() = default;

void TNetModule::SetPopServer(const std::string& host, const std::string& user, const std::string& password) {
    popHost_ = host;
    popUser_ = user;
    popPassword_ = password;
}

void TNetModule::SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds command,
                             std::chrono::milliseconds data) {
    timeouts_.connect = connect;
    timeouts_.greeting = command;
    timeouts_.command = command;
    timeouts_.quit = command;
    timeouts_.dataStart = data;
    timeouts_.dataBlock = data;
    timeouts_.dataEnd = data;
}

bool TNetModule::IsSmtpConnected() const { return conn_->smtp.IsOpen(); }
bool TNetModule::IsPopConnected() const { return conn_->pop.IsOpen(); }

void TNetModule::Cancel() {
    cancelled_.store(true);
    if (conn_->cancelPipe[1] >= 0) {
        char wake = 1;
        [[maybe_unused]] ssize_t n = ::write(conn_->cancelPipe[1], &wake, 1);
    }
    std::lock_guard lock(conn_->fdMutex);
    if (conn_->smtp.fd >= 0) ::shutdown(conn_->smtp.fd, SHUT_RDWR);
    if (conn_->pop.fd >= 0) ::shutdown(conn_->pop.fd, SHUT_RDWR);
}

void TNetModule::ResetCancel() {
    cancelled_.store(false);
    if (conn_->cancelPipe[0] < 0) return;
    char drain[64];
    while (::read(conn_->cancelPipe[0], drain, sizeof drain) > 0) {
    }
}

namespace {

// Sends `command` and reads the SMTP reply to it within `timeout`.
TFail SmtpCommand(TLinkIo& io, const std::string& command, std::chrono::milliseconds timeout, TReply& reply,
                  std::string& detail) {
    if (!IsSafeCommand(command)) {
        detail = "a command holding a line break was not sent";
        return TFail::Unsafe;
    }
    TFail fail = io.WriteAll(command + "\r\n", timeout, detail);
    if (fail != TFail::None) return fail;
    fail = io.ReadSmtpReply(reply, Clock::now() + timeout, detail);
    if (fail == TFail::Timeout) detail = "timed out waiting for the reply to " + command.substr(0, 4);
    return fail;
}

// Sends a command and checks the reply code; an unexpected code is TFail::Reply.
TFail SmtpExpect(TLinkIo& io, const std::string& command, std::chrono::milliseconds timeout,
                 std::initializer_list<int> accepted, TReply& reply, std::string& detail) {
    TFail fail = SmtpCommand(io, command, timeout, reply, detail);
    if (fail != TFail::None) return fail;
    for (int code : accepted) {
        if (reply.code == code) return TFail::None;
    }
    detail = std::to_string(reply.code) + " " + reply.text;
    return TFail::Reply;
}

// One POP3 status line; "+OK" or TFail::Reply with the line in `detail`.
TFail PopExpectOk(TLinkIo& io, Clock::time_point deadline, std::string& line, std::string& detail) {
    TFail fail = io.ReadLine(line, deadline, detail);
    if (fail != TFail::None) return fail;
    if (line.compare(0, 3, "+OK") == 0) return TFail::None;
    if (line.compare(0, 4, "-ERR") == 0) {
        detail = line;
        return TFail::Reply;
    }
    detail = "the server sent no valid POP3 reply: \"" + Printable(line) + "\"";
    return TFail::Protocol;
}

TFail PopCommand(TLinkIo& io, const std::string& command, std::chrono::milliseconds timeout,
                 std::string& line, std::string& detail) {
    if (!IsSafeCommand(command)) {
        detail = "a user name or password holding a line break was not sent";
        return TFail::Unsafe;
    }
    TFail fail = io.WriteAll(command + "\r\n", timeout, detail);
    if (fail != TFail::None) return fail;
    fail = PopExpectOk(io, Clock::now() + timeout, line, detail);
    if (fail == TFail::Timeout) detail = "timed out waiting for the reply to " + command.substr(0, 4);
    return fail;
}

}  // namespace

bool TNetModule::ConnectSmtp() {
    lastError_.clear();
    failureDetail_.clear();
    if (smtpHost_.empty()) return false;
    DisconnectSmtp();
    mechanisms_.clear();

    std::string host;
    int port = 0;
    std::string problem;
    if (!ParseServerAddress(smtpHost_, kSmtpDefaultPort, host, port, problem)) {
        lastError_ = failureDetail_ = problem;
        return false;
    }
    TLinkIo io(*conn_, conn_->smtp, cancelled_, waitHook_);
    auto fail = [&](TFail kind, const std::string& detail, const TReply* reply) {
        conn_->smtp.Close(*conn_);
        mechanisms_.clear();
        failureDetail_ = detail;
        if (kind == TFail::Reply && reply != nullptr) {
            lastError_ = reply->text;
        } else if (kind == TFail::Cancelled) {
            lastError_ = "The connection was cancelled.";
        } else {
            lastError_ = detail;
        }
        return false;
    };

    std::string detail;
    TFail f = io.Open(host, port, timeouts_.connect, detail);
    if (f != TFail::None) return fail(f, detail, nullptr);

    TReply reply;
    f = io.ReadSmtpReply(reply, Clock::now() + timeouts_.greeting, detail);
    if (f == TFail::Timeout) detail = "timed out waiting for the server's greeting";
    if (f != TFail::None) return fail(f, detail, nullptr);
    if (reply.code != 220) return fail(TFail::Reply, std::to_string(reply.code) + " " + reply.text, &reply);

    f = SmtpCommand(io, "EHLO " + heloName_, timeouts_.command, reply, detail);
    if (f != TFail::None) return fail(f, detail, nullptr);
    if (reply.code == 250) {
        for (const std::string& line : reply.lines) {
            if (!StartsWithIgnoringCase(line, "AUTH ") && !StartsWithIgnoringCase(line, "AUTH=")) continue;
            std::size_t pos = 5;
            while (pos < line.size()) {
                std::size_t end = line.find_first_of(" =", pos);
                if (end == std::string::npos) end = line.size();
                std::string name = line.substr(pos, end - pos);
                if (!name.empty() &&
                    std::find(mechanisms_.begin(), mechanisms_.end(), name) == mechanisms_.end())
                    mechanisms_.push_back(name);
                pos = end + 1;
            }
        }
    } else {
        f = SmtpExpect(io, "HELO " + heloName_, timeouts_.command, {250}, reply, detail);
        if (f != TFail::None) return fail(f, detail, &reply);
    }

    authenticated_ = false;
    authKind_ = kAuthNone;
    if (std::find(mechanisms_.begin(), mechanisms_.end(), "LOGIN") != mechanisms_.end())
        authKind_ = kAuthSmtpLogin;
    return true;
}

void TNetModule::DisconnectSmtp() {
    authenticated_ = false;
    if (!conn_->smtp.IsOpen()) return;
    if (!cancelled_.load()) {
        TLinkIo io(*conn_, conn_->smtp, cancelled_, waitHook_);
        TReply reply;
        std::string detail;
        SmtpCommand(io, "QUIT", timeouts_.quit, reply, detail);
    }
    conn_->smtp.Close(*conn_);
    mechanisms_.clear();
}

bool TNetModule::SendMessage(int* resultCode) {
    lastError_.clear();
    failureDetail_.clear();
    lastResult_ = kSendOk;
    auto result = [&](int code) {
        lastResult_ = code;
        if (resultCode) *resultCode = code;
        return code == kSendOk;
    };
    if (!conn_->smtp.IsOpen()) {
        failureDetail_ = "not connected";
        return result(kSendNotConnected);
    }

    TLinkIo io(*conn_, conn_->smtp, cancelled_, waitHook_);
    // Maps a failed step to its result code; every class but a server reply
    // leaves the connection in an unknown state, so it is closed.
    auto failed = [&](TFail kind, const std::string& detail, const TReply& reply) {
        failureDetail_ = detail;
        int code = kSendOtherFailure;
        switch (kind) {
            case TFail::Reply:
                lastError_ = reply.text;
                return result(reply.code);
            case TFail::Unsafe:
                return result(kSendOtherFailure);
            case TFail::Socket:
            case TFail::Protocol:
                code = kSendSocketError;
                break;
            case TFail::Closed:
                code = kSendServerClosed;
                break;
            case TFail::Timeout:
                code = kSendTimedOut;
                break;
            case TFail::Cancelled:
            case TFail::None:
                code = kSendOtherFailure;
                break;
        }
        conn_->smtp.Close(*conn_);
        authenticated_ = false;
        mechanisms_.clear();
        return result(code);
    };

    if (cancelled_.load()) return failed(TFail::Cancelled, "cancelled", TReply{});
    std::string problem;
    if (CheckMessageFiles(&problem) != kMessageWritten) {
        failureDetail_ = "cannot open " + problem;
        return result(kSendFileUnreadable);
    }

    TReply reply;
    std::string detail;
    TFail f = SmtpCommand(io, "RSET", timeouts_.command, reply, detail);
    if (f != TFail::None) return failed(f, detail, reply);

    if (authKind_ == kAuthSmtpLogin && !authenticated_ &&
        std::find(mechanisms_.begin(), mechanisms_.end(), "LOGIN") != mechanisms_.end()) {
        f = SmtpExpect(io, "AUTH LOGIN", timeouts_.command, {334}, reply, detail);
        if (f == TFail::None)
            f = SmtpExpect(io, EncodeBase64(smtpUser_), timeouts_.command, {334}, reply, detail);
        if (f == TFail::None)
            f = SmtpExpect(io, EncodeBase64(smtpPassword_), timeouts_.command, {235}, reply, detail);
        if (f != TFail::None) return failed(f, detail, reply);
        authenticated_ = true;
    }

    f = SmtpExpect(io, "MAIL FROM:<" + message_.senderAddress + ">", timeouts_.command, {250}, reply, detail);
    if (f != TFail::None) return failed(f, detail, reply);
    for (const auto* list : {&message_.to, &message_.cc, &message_.bcc}) {
        for (const std::string& address : *list) {
            f = SmtpExpect(io, "RCPT TO:<" + address + ">", timeouts_.command, {250, 251}, reply, detail);
            if (f != TFail::None) return failed(f, detail, reply);
        }
    }
    f = SmtpExpect(io, "DATA", timeouts_.dataStart, {354}, reply, detail);
    if (f != TFail::None) return failed(f, detail, reply);

    AddExtraHeader("X-Mailer", mailerName_);
    TSocketSink sink(io, timeouts_.dataBlock);
    int written = WriteMessage(sink, true, &problem);
    // The final period goes out with the last block of the message.
    if (written == kMessageWritten && (!sink.Write(".\r\n") || !sink.Flush())) written = kMessageSinkFailed;
    if (written == kMessageFileUnreadable) {
        // Part of the message may be out: the server must never get the final
        // period for it, so the connection goes.
        conn_->smtp.Close(*conn_);
        authenticated_ = false;
        mechanisms_.clear();
        failureDetail_ = "cannot read " + problem;
        return result(kSendFileUnreadable);
    }
    if (written != kMessageWritten) {
        return failed(sink.Failure() == TFail::None ? TFail::Socket : sink.Failure(), sink.Detail(), reply);
    }

    f = io.ReadSmtpReply(reply, Clock::now() + timeouts_.dataEnd, detail);
    if (f == TFail::Timeout) detail = "timed out waiting for the reply to the end of the message";
    if (f == TFail::None && reply.code != 250) {
        detail = std::to_string(reply.code) + " " + reply.text;
        f = TFail::Reply;
    }
    if (f != TFail::None) return failed(f, detail, reply);
    return result(kSendOk);
}

bool TNetModule::PopLogin() {
    lastError_.clear();
    failureDetail_.clear();
    if (popHost_.empty()) return false;
    PopDisconnect();

    std::string host;
    int port = 0;
    std::string problem;
    if (!ParseServerAddress(popHost_, kPopDefaultPort, host, port, problem)) {
        lastError_ = failureDetail_ = problem;
        return false;
    }
    TLinkIo io(*conn_, conn_->pop, cancelled_, waitHook_);
    auto fail = [&](TFail kind, const std::string& detail) {
        conn_->pop.Close(*conn_);
        failureDetail_ = detail;
        lastError_ = kind == TFail::Cancelled ? "The connection was cancelled." : detail;
        return false;
    };

    std::string detail;
    TFail f = io.Open(host, port, timeouts_.connect, detail);
    if (f != TFail::None) return fail(f, detail);
    std::string line;
    f = PopExpectOk(io, Clock::now() + timeouts_.greeting, line, detail);
    if (f == TFail::Timeout) detail = "timed out waiting for the server's greeting";
    if (f != TFail::None) return fail(f, detail);
    f = PopCommand(io, "USER " + popUser_, timeouts_.command, line, detail);
    if (f != TFail::None) return fail(f, detail);
    f = PopCommand(io, "PASS " + popPassword_, timeouts_.command, line, detail);
    if (f != TFail::None) return fail(f, detail);
    return true;
}

void TNetModule::PopDisconnect() {
    if (!conn_->pop.IsOpen()) return;
    if (!cancelled_.load()) {
        TLinkIo io(*conn_, conn_->pop, cancelled_, waitHook_);
        std::string line, detail;
        PopCommand(io, "QUIT", timeouts_.quit, line, detail);
    }
    conn_->pop.Close(*conn_);
}

bool ParseServerAddress(const std::string& server, int defaultPort, std::string& host, int& port,
                        std::string& problem) {
    std::string_view text = server;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    std::string_view portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            problem = "Invalid server address \"" + server + "\": missing \"]\"";
            return false;
        }
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                problem = "Invalid server address \"" + server + "\"";
                return false;
            }
            hasPort = true;
            portText = rest.substr(1);
        }
        text = text.substr(1, close - 1);
    } else {
        std::size_t colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
            hasPort = true;
            portText = text.substr(colon + 1);
            text = text.substr(0, colon);
        }
    }
    if (text.empty()) {
        problem = "No server name in \"" + server + "\"";
        return false;
    }
    port = defaultPort;
    if (hasPort) {
        long value = 0;
        bool ok = !portText.empty() && portText.size() <= 5;
        for (char c : portText) {
            if (c < '0' || c > '9') ok = false;
            value = value * 10 + (c - '0');
        }
        if (!ok || value < 1 || value > 65535) {
            problem = "Invalid port in server address \"" + server + "\"";
            return false;
        }
        port = static_cast<int>(value);
    }
    host = std::string(text);
    return true;
}
