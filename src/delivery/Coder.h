#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "delivery/Locale.h"

// The Japanese text encodings of outgoing mail: Shift_JIS (CP932) to
// ISO-2022-JP (RFC 1468), the transport form that also widens half-width
// katakana, RFC 2047 encoded header words, and the base64 and
// quoted-printable content encoders. Inputs are CP932 bytes.

// ESC $ B and ESC ( B.
inline constexpr std::string_view kJisTwoByte = "\x1b$B";
inline constexpr std::string_view kJisAscii = "\x1b(B";

// The mail text converter: every Shift_JIS double-byte character becomes its
// JIS X 0208 code inside ESC $ B ... ESC ( B; every other byte (ASCII and
// half-width katakana alike) is copied. A double-byte character without a
// JIS X 0208 code (lead byte 0xF0 or above, an invalid trail byte, a lead
// byte that ends the text) becomes the geta mark (JIS 0x222E) and the text
// goes on behind it; a byte that was no valid trail byte is converted on its
// own. The result ends in ASCII mode.
std::string SjisToJis(std::string_view text);

// Replaces every line by its SjisToJis form.
void SjisToJisLines(std::vector<std::string>& lines);

// "=?ISO-2022-JP?B?" + base64 of SjisToJis(text) + "?=": one encoded word of
// any length, never split.
std::string EncodeJisWord(std::string_view text);

// The transport converter: a 7-bit ISO-2022-JP text. Half-width katakana
// become their full-width letters (a following voiced or semi-voiced mark is
// folded into the letter where the letter has that form), double-byte
// characters with lead bytes 0x81-0x9F and 0xE0-0xEF become their JIS codes,
// and what has no code (user-defined and vendor characters 0xF0-0xFC, the
// bytes 0x80, 0xA0, 0xFD-0xFF, a lead byte without its trail byte) is dropped.
// Bytes below 0x80, escape sequences included, are copied, so an
// ISO-2022-JP text made by SjisToJis passes unchanged apart from its
// half-width katakana.
std::string TransportJis(std::string_view text);

// The address specials a display name must not carry unencoded.
inline constexpr std::string_view kAddressSpecials = "()<>@,;:\\\".[]";

// The RFC 2047 header form of `text`. With the charset "ISO-2022-JP" (any
// letter case) the text first passes TransportJis. A word (a run without
// TAB, LF, CR or blank, with the white space before it) that holds a byte
// below 0x20, 0x7F or above, or one of `specials`, is encoded; consecutive
// such words form one encoded span with the white space between them.
// `encoding` is 'B' or 'Q'. An encoded word is cut only to keep each line
// within the 1,000 characters (CR LF included) a mail line may have;
// `column` is the number of characters already on the line (the header name
// and ": "). A cut writes "?=", CR LF, TAB (B) or a blank (Q) and a new
// opening, never inside a character, and an ISO-2022-JP word always ends in
// ASCII mode.
std::string EncodeHeaderText(std::string_view text, std::string_view specials, std::string_view charset,
                             char encoding, std::size_t column = 0);

// The header character set: what HeaderCharset gives for a language.
struct THeaderCharset {
    std::string charset;     // "ISO-2022-JP", "GB2312", "Big5", "EUC-KR", "ISO-8859-1"
    char encoding = 'B';     // 'B' or 'Q'
    bool transport = false;  // header texts and single bodies pass TransportJis
};

THeaderCharset HeaderCharsetFor(TPlatformLanguage language);

// The header character set of this system (PlatformLanguage()).
THeaderCharset HeaderCharset();

// The display name rule: the bare address for an empty name; a name of bytes
// 0x20-0x7E only as a quoted string (backslash and double quote escaped), a
// blank and "<address>"; any other name as EncodeHeaderText with the address
// specials, a blank and "<address>". `column` as for EncodeHeaderText.
std::string FormatDisplayAddress(std::string_view name, std::string_view address,
                                 const THeaderCharset& charset, std::size_t column = 0);

// Standard base64 (RFC 2045 alphabet, "=" padding), no line breaks.
std::string EncodeBase64(std::string_view data);
// Appends the base64 form of `data` to `out`.
void AppendBase64(std::string_view data, std::string& out);

// The longest run a quoted-printable line holds before a soft line break.
inline constexpr std::size_t kQuotedPrintableLineLimit = 990;

// One text line (without its line end) in quoted-printable form, as the
// output lines without their CR LF: a line that grows beyond 990 characters
// while more of the text follows gets "=" (a soft line break) and the text
// goes on in a new line. TAB and blank are written as they are except at the
// end of the line, where they become =09 and =20; "=", and every byte that
// is not 0x21-0x7E, become "=" and two upper-case hex digits.
std::vector<std::string> QuotedPrintableLines(std::string_view line);
