#include "delivery/Mailcreate.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "delivery/Clock.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"

namespace {

constexpr std::string_view kIndexHtml = "index.html";
constexpr std::string_view kPreviewPage = "index.htm";
constexpr std::string_view kPreviewText = "temp.txt";

bool StartsAt(std::string_view text, std::size_t pos, std::string_view what) {
    return text.compare(pos, what.size(), what) == 0;
}

// A reference to a page on the web, not a local file.
bool IsWebReference(std::string_view text) {
    return text.find("http:") != std::string_view::npos || text.find("https:") != std::string_view::npos;
}

// Replaces every `from` by `to`, matching at character starts only, one
// left-to-right pass. A replacement that would make the text longer than
// `limit` is not made.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to,
                       std::size_t limit = std::string::npos) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t growth = 0;  // how much longer than `text` the result is
    for (std::size_t i = 0; i < text.size();) {
        if (StartsAt(text, i, from) &&
            (to.size() <= from.size() || text.size() + growth + to.size() - from.size() <= limit)) {
            growth += to.size() - std::min(to.size(), from.size());
            out.append(to);
            i += from.size();
        } else {
            std::size_t n = SjisCharLen(text, i);
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

// `marker` gets "cid:" behind it unless its value begins with a web address.
std::string InsertCid(std::string_view text, std::string_view marker) {
    std::string out;
    out.reserve(text.size() + 64);
    for (std::size_t i = 0; i < text.size();) {
        if (StartsAt(text, i, marker)) {
            out.append(marker);
            i += marker.size();
            if (!StartsAt(text, i, "http:") && !StartsAt(text, i, "https:")) out += "cid:";
        } else {
            std::size_t n = SjisCharLen(text, i);
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

bool ReadWholeFile(const std::string& path, std::string& data) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;  // a folder or a pipe is no page
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return false;
    data = std::move(s).str();
    return true;
}

bool WriteWholeFile(const std::string& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return static_cast<bool>(out);
}

TRecipientKind KindOfEntry(std::size_t index, int multiAddressHeader) {
    if (index == 0) return TRecipientKind::To;
    if (multiAddressHeader == 1) return TRecipientKind::Cc;
    if (multiAddressHeader == 2) return TRecipientKind::Bcc;
    return TRecipientKind::To;
}

const char* PreviewPrefix(TRecipientKind kind) {
    switch (kind) {
        case TRecipientKind::Cc:
            return "Cc: ";
        case TRecipientKind::Bcc:
            return "Bcc: ";
        case TRecipientKind::To:
            break;
    }
    return "To: ";
}

bool HasDoubleByteChar(std::string_view text) { return !IsSingleByteText(text); }

}  // namespace

std::string MergeText(std::string_view text, const std::vector<std::string>& fieldNames,
                      const std::vector<std::string>* values) {
    std::string current(text);
    int fields = std::min<int>(kMergedFieldCount, static_cast<int>(fieldNames.size()));
    for (int i = 0; i < fields; ++i) {
        const std::string placeholder = "[[" + fieldNames[i] + "]]";
        if (current.find(placeholder) == std::string::npos) continue;
        static const std::string kEmpty;
        const std::string& value =
            (values && static_cast<std::size_t>(i) < values->size()) ? (*values)[i] : kEmpty;
        current = ReplaceAll(current, placeholder, value, kMaxMergedLength);
    }
    return current;
}

std::vector<std::string> SplitRecipients(std::string_view input) {
    std::string text(input);
    for (char& c : text) {
        if (c == ' ') c = ',';
    }
    auto isControlOrBlank = [](unsigned char c) { return c <= 0x20; };
    auto isControl = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    std::vector<std::string> entries;
    std::size_t p = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (p < n && isControlOrBlank(static_cast<unsigned char>(text[p]))) ++p;
    };
    skipBlanks();
    while (p < n) {
        std::string entry;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                unsigned char c = static_cast<unsigned char>(text[p]);
                if (isControl(c)) break;  // never part of an address
                if (c == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        entry += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                entry += static_cast<char>(c);
                ++p;
            }
        } else {
            std::size_t start = p;
            while (p < n && text[p] != ',' && !isControlOrBlank(static_cast<unsigned char>(text[p]))) ++p;
            entry.assign(text, start, p - start);
        }
        entries.push_back(std::move(entry));
        skipBlanks();
        if (p < n && text[p] == ',') {
            ++p;
            skipBlanks();
        }
    }
    return entries;
}

bool IsSingleByteText(std::string_view text) {
    for (unsigned char c : text) {
        if (IsSjisLeadByte(c)) return false;
    }
    return true;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const std::string& l : lines) size += l.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& l : lines) {
        text += l;
        text += "\r\n";
    }
    return text;
}

std::string RewriteImageReferences(std::string_view html) {
    std::string text(html);
    for (std::string_view marker : {"<img src=\"", "<IMG SRC=\"", "background=\"", "BACKGROUND=\""}) {
        if (text.find(marker) != std::string::npos) text = InsertCid(text, marker);
    }
    return text;
}

int BuildMergedMail(TNetModule& net, int recordIndex, const TMailHeaderTexts& headers, bool send,
                    const std::string& templateName, const std::vector<std::string>& htmlFiles,
                    const std::vector<std::string>& attachments, const std::vector<std::string>& body,
                    const TPVDatabase& book, int multiAddressHeader) {
    const TClockTime now = ClockNow();
    net.ResetMessage();
    const bool japanese = net.IsJapaneseMode();
    const std::string previewText = Paths().tempFolder + std::string(kPreviewText);
    const std::string previewPage = Paths().mainPreviewFolder + std::string(kPreviewPage);
    if (!send) {
        // A preview that ends early must not show the previous record's mail.
        std::remove(previewText.c_str());
        std::remove(previewPage.c_str());
    }

    const std::vector<std::string>* values = nullptr;
    if (recordIndex >= 0 && static_cast<std::size_t>(recordIndex) < book.Records.size() &&
        !book.Records[recordIndex].Values.empty()) {
        values = &book.Records[recordIndex].Values;
    }
    auto merge = [&](std::string_view text) { return MergeText(text, book.FieldNames, values); };

    // Each header text is merged on its own: a value holding a line break
    // stays inside its own header text and cannot move the subject into the
    // recipient's place.
    const std::string senderAddress = merge(headers.senderAddress);
    const std::string senderName = merge(headers.senderName);
    const std::string subject = merge(headers.subject);
    const std::string recipient = merge(headers.recipient);
    if (send && !IsSingleByteText(recipient)) return kMailDoubleByteRecipient;

    net.SetSender(senderAddress, senderName);
    net.SetSubject(subject);
    const std::vector<std::string> entries = SplitRecipients(recipient);
    for (std::size_t i = 0; i < entries.size(); ++i)
        net.AddRecipient(KindOfEntry(i, multiAddressHeader), entries[i]);

    net.SetContentType(japanese ? "text/plain; charset=\"iso-2022-jp\"" : "text/plain; charset=\"us-ascii\"");
    net.SetTransferEncoding(japanese ? "7bit" : "quoted-printable");
    const std::string messageId = net.MakeMessageId(now);
    const std::string dateText = net.SetMessageDate(now);

    std::vector<std::string> mergedBody = SplitTextLines(merge(JoinTextLines(body)));

    bool htmlMode = false;
    std::string html;
    std::vector<std::string> inlineFiles;
    std::vector<std::string> attached;
    if (!templateName.empty()) {
        for (const std::string& entry : htmlFiles) {
            if (FileNameOfPath(entry) == kIndexHtml) {
                std::string page;
                if (!ReadWholeFile(Paths().mainPreviewFolder + std::string(kIndexHtml), page)) {
                    return kMailPageUnreadable;
                }
                html = merge(page);
                if (send) {
                    html = RewriteImageReferences(html);
                } else if (!WriteWholeFile(previewPage, JoinTextLines(SplitTextLines(html)))) {
                    return kMailPreviewUnwritable;
                }
                htmlMode = true;
            } else if (!entry.empty() && !IsWebReference(entry)) {
                inlineFiles.push_back(Paths().mainPreviewFolder + entry);
            }
        }
    }
    if (templateName.empty()) {
        for (const std::string& path : attachments) {
            if (FileNameOfPath(path) == kIndexHtml) htmlMode = true;
        }
    }
    for (const std::string& path : attachments) {
        if (templateName.empty() && FileNameOfPath(path) == kIndexHtml) {
            // The preview shows no page for such a file, so only sending needs it.
            std::string page;
            if (!ReadWholeFile(path, page)) {
                if (send) return kMailPageUnreadable;
                continue;
            }
            html = RewriteImageReferences(merge(page));
        } else if (!path.empty() && !IsWebReference(path)) {
            (htmlMode ? inlineFiles : attached).push_back(path);
        }
    }

    if (!send) {
        net.SetPlainBody(mergedBody);
        net.AddExtraHeader("MIME-Version", "1.0");
        const std::string mailer = LoadStr(900) + " Version" + LoadStr(902);
        net.AddExtraHeader("X-Mailer", mailer);
        std::vector<std::string> lines;
        lines.push_back("From: " + SingleLineText(senderName) + " <" + SingleLineText(senderAddress) + ">");
        lines.push_back("Subject: " + SingleLineText(subject));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            lines.push_back(PreviewPrefix(KindOfEntry(i, multiAddressHeader)) + entries[i]);
        }
        lines.push_back("MIME-Version: 1.0");
        lines.push_back("X-Mailer: " + mailer);
        lines.push_back(japanese ? "Content-Type: text/plain; charset=\"iso-2022-jp\""
                                 : "Content-Type: text/plain; charset=\"us-ascii\"");
        lines.push_back(japanese ? "Content-Transfer-Encoding: 7bit"
                                 : "Content-Transfer-Encoding: quoted-printable");
        lines.push_back("Message-ID: " + messageId);
        lines.push_back("Date: " + dateText);
        lines.insert(lines.end(), 3, std::string());
        lines.insert(lines.end(), mergedBody.begin(), mergedBody.end());
        return WriteWholeFile(previewText, JoinTextLines(lines)) ? kMailReady : kMailPreviewUnwritable;
    }

    if (htmlMode) {
        if (japanese) {
            // The Content-ID of a file with a double-byte name is an encoded
            // word; the page must refer to it by that same text.
            for (const std::string& path : inlineFiles) {
                std::string name = FileNameOfPath(path);
                if (!HasDoubleByteChar(name)) continue;
                html = ReplaceAll(html, "\"cid:" + name + "\"", "\"cid:" + EncodeJisWord(name) + "\"");
            }
        }
        net.AddTextPart(std::move(mergedBody));
        net.AddHtmlPart(SplitTextLines(html), inlineFiles);
    } else {
        net.SetPlainBody(std::move(mergedBody));
        if (!attached.empty()) net.AddAttachments(attached);
    }
    return kMailReady;
}
