#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Net.h"

// The mail creator: merges one address-book record into the mail and fills
// the delivery module's message with it (or, in the preview variant, writes
// the merged mail as "temp.txt" and the merged page as "index.htm").

// Results of BuildMergedMail.
inline constexpr int kMailReady = 0;                // the message is ready (preview: files written)
inline constexpr int kMailDoubleByteRecipient = 1;  // the merged recipient holds double-byte characters
inline constexpr int kMailPageUnreadable = 2;       // the HTML page ("index.html") could not be read
inline constexpr int kMailPreviewUnwritable = 3;    // preview: "temp.txt" or "index.htm" could not be written

// Only the first ten fields are merged.
inline constexpr int kMergedFieldCount = 10;

// The four header texts of a mail document (CP932).
struct TMailHeaderTexts {
    std::string senderAddress;
    std::string senderName;
    std::string subject;
    std::string recipient;  // normally the placeholder of the address field
};

// The longest text a merge makes. Values that hold placeholders of later
// fields could otherwise multiply a text beyond any memory; a replacement
// that would pass this length is not made and its placeholder stays.
inline constexpr std::size_t kMaxMergedLength = 64u << 20;

// For fields 0 to 9 in order, replaces every "[[" + name + "]]" in `text` by
// the field's value (empty when `values` is null or shorter), each field in
// one left-to-right pass that never searches a value it just inserted.
// Matching is byte-exact and case-sensitive and starts only at the first
// byte of a CP932 character. The result is at most kMaxMergedLength long
// (or as long as `text`, when that is longer).
std::string MergeText(std::string_view text, const std::vector<std::string>& fieldNames,
                      const std::vector<std::string>* values);

// The recipient entries of a merged recipient text: blanks become commas,
// then a comma-separated list is read (double-quoted items with doubled
// quotes, or runs up to a comma or a byte not above 0x20). A comma followed
// by a blank, or two blanks, gives an empty entry, which is kept. A control
// byte ends an entry even inside quotes, so no entry ever holds one.
std::vector<std::string> SplitRecipients(std::string_view text);

// True when no byte of `text` is a CP932 lead byte (nor, therefore, a trail byte).
bool IsSingleByteText(std::string_view text);

// Lines of a text: CR LF, CR and LF each end a line; a last line without a
// line end counts; a text ending in a line end gives no empty line after it.
std::vector<std::string> SplitTextLines(std::string_view text);

// The lines with CR LF after every one.
std::string JoinTextLines(const std::vector<std::string>& lines);

// The send form of an HTML page: `<img src="`, `<IMG SRC="`, `background="`
// and `BACKGROUND="` get "cid:" in front of their value, except values that
// begin with "http:" or "https:".
std::string RewriteImageReferences(std::string_view html);

// Builds the mail for record `recordIndex` of `book` into `net` (send) or
// writes the preview files (`send` false, Paths().tempFolder + "temp.txt" and
// Paths().mainPreviewFolder + "index.htm"). `multiAddressHeader` places the
// recipient entries after the first: 0 To, 1 Cc, 2 Bcc. The character mode
// is the module's (TNetModule::SetMode). Returns one of the kMail... results.
int BuildMergedMail(TNetModule& net, int recordIndex, const TMailHeaderTexts& headers, bool send,
                    const std::string& templateName, const std::vector<std::string>& htmlFiles,
                    const std::vector<std::string>& attachments, const std::vector<std::string>& body,
                    const TPVDatabase& book, int multiAddressHeader = 0);
