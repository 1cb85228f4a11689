#include "delivery/Net.h"

#include <openssl/evp.h>

#include <cstdio>

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

TNetModule::TNetModule() : headerCharset_(HeaderCharset()) {
    SetAgent(LoadStr(901), LoadStr(902));
    ResetMessage();
}

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
