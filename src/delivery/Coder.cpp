#include "delivery/Coder.h"

#include <array>
#include <cstdint>

#include "shell/Codec.h"

namespace {

// Full-width JIS X 0208 codes of the half-width katakana 0xA1-0xDF (JIS X 0201).
constexpr std::array<uint16_t, 63> kHalfWidthKana = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523,  // ｡｢｣､･ｦｧｨ
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C,  // ｩｪｫｬｭｮｯｰ
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F,  // ｱｲｳｴｵｶｷｸ
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F,  // ｹｺｻｼｽｾｿﾀ
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D,  // ﾁﾂﾃﾄﾅﾆﾇﾈ
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F,  // ﾉﾊﾋﾌﾍﾎﾏﾐ
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A,  // ﾑﾒﾓﾔﾕﾖﾗﾘ
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,          // ﾙﾚﾛﾜﾝﾞﾟ
};

constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;
constexpr uint16_t kGeta = 0x222E;  // 〓, the customary mark for a character without a code
constexpr uint16_t kVu = 0x2574;    // ヴ

bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// JIS X 0208 code of a lead and trail byte by the CP932 arithmetic.
uint16_t SjisPairToJis(unsigned char lead, unsigned char trail) {
    int b = lead < 0xE0 ? lead - 0x70 : lead - 0xB0;
    int row, col;
    if (trail > 0x9E) {
        row = 2 * b;
        col = trail - 0x7E;
    } else {
        row = 2 * b - 1;
        col = trail < 0x80 ? trail - 0x1F : trail - 0x20;
    }
    return static_cast<uint16_t>((row << 8) | col);
}

void PutCode(std::string& out, uint16_t code) {
    out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
}

// The voiced (`mark` ﾞ) or semi-voiced (ﾟ) letter of half-width `letter`, or 0.
uint16_t CombinedKana(unsigned char letter, unsigned char mark) {
    uint16_t base = kHalfWidthKana[letter - 0xA1];
    if (mark == kVoicedMark) {
        if (letter == 0xB3) return kVu;  // ｳﾞ
        if ((letter >= 0xB6 && letter <= 0xC4) || (letter >= 0xCA && letter <= 0xCE)) return base + 1;
    } else if (mark == kSemiVoicedMark) {
        if (letter >= 0xCA && letter <= 0xCE) return base + 2;  // ﾊﾟ..ﾎﾟ
    }
    return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

std::size_t Base64Length(std::size_t bytes) { return (bytes + 2) / 3 * 4; }

bool IsWhiteSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The longest line a mail may carry, its CR LF not counted (RFC 5322 2.1.1).
constexpr std::size_t kMaxLineChars = 998;

// Writes encoded spans for EncodeHeaderText and keeps track of the line length.
class HeaderEncoder {
public:
    HeaderEncoder(std::string_view specials, std::string_view charset, char encoding, std::size_t column)
        : specials_(specials),
          q_(encoding == 'Q' || encoding == 'q'),
          jis_(EqualsNoCase(charset, "ISO-2022-JP")),
          open_("=?" + std::string(charset) + "?" + (q_ ? "Q" : "B") + "?"),
          line_(column) {}

    bool NeedsEncoding(unsigned char c) const {
        return c < 0x20 || c >= 0x7F || specials_.find(static_cast<char>(c)) != std::string_view::npos;
    }

    void Plain(std::string_view text) {
        out_.append(text);
        line_ += text.size();
    }

    // A plain word with its white space; folded onto a new line (the white
    // space begins it) when the line would grow too long.
    void PlainWord(std::string_view space, std::string_view word) {
        if (!space.empty() && line_ + space.size() + word.size() > kMaxLineChars) {
            out_ += "\r\n";
            line_ = 0;
        }
        Plain(space);
        Plain(word);
    }

    // Writes `span` as one or more encoded words.
    void Encoded(std::string_view span) {
        const char cont = q_ ? ' ' : '\t';
        struct Unit {
            std::size_t start, length;
            bool twoByteAfter;  // ISO-2022-JP mode behind this character
        };
        std::vector<Unit> units;
        bool mode = false;
        for (std::size_t pos = 0; pos < span.size();) {
            std::size_t n;
            if (jis_ && span[pos] == '\x1b' && pos + 2 < span.size()) {
                n = 3;
                mode = span[pos + 1] == '$';
            } else if (jis_) {
                n = (mode && pos + 1 < span.size()) ? 2 : 1;
            } else {
                n = SjisCharLen(span, pos);
            }
            units.push_back({pos, n, mode});
            pos += n;
        }
        bool twoByte = false;  // mode at the start of the next word
        for (std::size_t u = 0; u < units.size();) {
            std::string piece;
            // A word cut in two-byte mode goes on in two-byte mode, unless
            // the text switches by itself right there.
            if (twoByte && span[units[u].start] != '\x1b') piece.append(kJisTwoByte);
            // Encoded size of the piece so far (bytes for B, characters for Q).
            std::size_t size = q_ ? QLength(piece) : piece.size();
            auto sizeWith = [&](std::size_t k) {
                std::string_view bytes = span.substr(units[k].start, units[k].length);
                return size + (q_ ? QLength(bytes) : bytes.size());
            };
            auto fits = [&](std::size_t k) {
                std::size_t n = sizeWith(k);
                std::size_t close = (jis_ && units[k].twoByteAfter) ? kJisAscii.size() : 0;
                std::size_t chars = q_ ? n + close * 3 : Base64Length(n + close);
                return chars <= Room();
            };
            // A new line when not even one character fits behind what is there.
            if (!fits(u) && line_ > 1) Break(cont);
            std::size_t last = u;
            size = sizeWith(u);
            while (last + 1 < units.size() && fits(last + 1)) {
                ++last;
                size = sizeWith(last);
            }
            piece.append(
                span.substr(units[u].start, units[last].start + units[last].length - units[u].start));
            twoByte = jis_ && units[last].twoByteAfter;
            if (twoByte) piece.append(kJisAscii);
            std::string word = open_;
            if (q_) {
                AppendQ(piece, word);
            } else {
                AppendBase64(piece, word);
            }
            word += "?=";
            out_ += word;
            line_ += word.size();
            u = last + 1;
            if (u < units.size()) Break(cont);
        }
    }

    std::string Take() { return std::move(out_); }

private:
    std::size_t Room() const {
        std::size_t fixed = line_ + open_.size() + 2;
        return fixed >= kMaxLineChars ? 0 : kMaxLineChars - fixed;
    }

    void Break(char cont) {
        out_ += "\r\n";
        out_ += cont;
        line_ = 1;
    }

    bool NeedsQuoting(unsigned char c) const { return NeedsEncoding(c) || c == '=' || c == '?' || c == '_'; }
    std::size_t QLength(unsigned char c) const { return (c != ' ' && NeedsQuoting(c)) ? 3 : 1; }
    std::size_t QLength(std::string_view bytes) const {
        std::size_t n = 0;
        for (unsigned char c : bytes) n += QLength(c);
        return n;
    }

    void AppendQ(std::string_view bytes, std::string& word) const {
        for (unsigned char c : bytes) {
            if (c == ' ') {
                word += '_';
            } else if (NeedsQuoting(c)) {
                word += '=';
                word += kHex[c >> 4];
                word += kHex[c & 0x0F];
            } else {
                word += static_cast<char>(c);
            }
        }
    }

    std::string_view specials_;
    bool q_;
    bool jis_;
    std::string open_;
    std::size_t line_;
    std::string out_;
};

}  // namespace

std::string SjisToJis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2 + 8);
    bool twoByte = false;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsSjisLeadByte(c)) {
            if (!twoByte) {
                out.append(kJisTwoByte);
                twoByte = true;
            }
            bool hasTrail = i + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[i + 1]));
            if (hasTrail && c < 0xF0) {
                PutCode(out, SjisPairToJis(c, static_cast<unsigned char>(text[i + 1])));
                i += 2;
            } else {
                PutCode(out, kGeta);
                i += hasTrail ? 2 : 1;
            }
            continue;
        }
        if (twoByte) {
            out.append(kJisAscii);
            twoByte = false;
        }
        out += static_cast<char>(c);
        ++i;
    }
    if (twoByte) out.append(kJisAscii);
    return out;
}

void SjisToJisLines(std::vector<std::string>& lines) {
    for (std::string& line : lines) line = SjisToJis(line);
}

std::string EncodeJisWord(std::string_view text) {
    std::string word = "=?ISO-2022-JP?B?";
    AppendBase64(SjisToJis(text), word);
    word += "?=";
    return word;
}

std::string TransportJis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2 + 8);
    bool twoByte = false;
    auto enterTwoByte = [&] {
        if (!twoByte) {
            out.append(kJisTwoByte);
            twoByte = true;
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (twoByte) {
                out.append(kJisAscii);
                twoByte = false;
            }
            out += static_cast<char>(c);
            ++i;
        } else if (IsHalfWidthKana(c)) {
            enterTwoByte();
            uint16_t combined = 0;
            if (i + 1 < text.size()) combined = CombinedKana(c, static_cast<unsigned char>(text[i + 1]));
            PutCode(out, combined ? combined : kHalfWidthKana[c - 0xA1]);
            i += combined ? 2 : 1;
        } else if (IsSjisLeadByte(c)) {
            bool hasTrail = i + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[i + 1]));
            if (!hasTrail) {
                ++i;  // a lead byte without its trail byte: nothing to convert
            } else {
                if (c < 0xF0) {
                    enterTwoByte();
                    PutCode(out, SjisPairToJis(c, static_cast<unsigned char>(text[i + 1])));
                }
                i += 2;
            }
        } else {
            ++i;  // 0x80, 0xA0, 0xFD-0xFF
        }
    }
    if (twoByte) out.append(kJisAscii);
    return out;
}

std::string EncodeHeaderText(std::string_view text, std::string_view specials, std::string_view charset,
                             char encoding, std::size_t column) {
    std::string converted;
    if (EqualsNoCase(charset, "ISO-2022-JP")) {
        converted = TransportJis(text);
        text = converted;
    }
    HeaderEncoder enc(specials, charset, encoding, column);
    std::size_t spanStart = std::string_view::npos;  // where the open span begins
    std::size_t spanEnd = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t wsStart = i;
        while (i < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[i]))) ++i;
        std::size_t wordStart = i;
        bool encode = false;
        while (i < text.size() && !IsWhiteSpace(static_cast<unsigned char>(text[i]))) {
            if (enc.NeedsEncoding(static_cast<unsigned char>(text[i]))) encode = true;
            ++i;
        }
        // A plain word too long for any line is encoded, so that it can be cut.
        std::size_t wsLength = wordStart - wsStart;
        std::size_t wordLength = i - wordStart;
        if (wsLength == 0 ? column + wordLength > kMaxLineChars : wsLength + wordLength > kMaxLineChars) {
            encode = true;
        }
        if (!encode) {
            if (spanStart != std::string_view::npos) {
                enc.Encoded(text.substr(spanStart, spanEnd - spanStart));
                spanStart = std::string_view::npos;
            }
            enc.PlainWord(text.substr(wsStart, wsLength), text.substr(wordStart, wordLength));
        } else {
            if (spanStart == std::string_view::npos) {
                enc.Plain(text.substr(wsStart, wsLength));
                spanStart = wordStart;
            }
            spanEnd = i;
        }
    }
    if (spanStart != std::string_view::npos) enc.Encoded(text.substr(spanStart, spanEnd - spanStart));
    return enc.Take();
}

THeaderCharset HeaderCharsetFor(TPlatformLanguage language) {
    switch (language) {
        case TPlatformLanguage::Japanese:
            return {"ISO-2022-JP", 'B', true};
        case TPlatformLanguage::ChineseSimplified:
            return {"GB2312", 'B', false};
        case TPlatformLanguage::ChineseOther:
            return {"Big5", 'B', false};
        case TPlatformLanguage::Korean:
            return {"EUC-KR", 'B', false};
        case TPlatformLanguage::Other:
            break;
    }
    return {"ISO-8859-1", 'Q', false};
}

THeaderCharset HeaderCharset() { return HeaderCharsetFor(PlatformLanguage()); }

std::string FormatDisplayAddress(std::string_view name, std::string_view address,
                                 const THeaderCharset& charset, std::size_t column) {
    if (name.empty()) return std::string(address);
    bool printable = true;
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7E) printable = false;
    }
    // A quoted string cannot be cut; one too long for its line is encoded instead.
    if (column + name.size() + address.size() + 5 > kMaxLineChars) printable = false;
    std::string out;
    if (printable) {
        out += '"';
        for (char c : name) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        out += '"';
    } else {
        out = EncodeHeaderText(name, kAddressSpecials, charset.charset, charset.encoding, column);
    }
    out += " <";
    out.append(address);
    out += '>';
    return out;
}

void AppendBase64(std::string_view data, std::string& out) {
    out.reserve(out.size() + Base64Length(data.size()));
    std::size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    if (std::size_t rest = data.size() - i) {
        uint32_t v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
}

std::string EncodeBase64(std::string_view data) {
    std::string out;
    AppendBase64(data, out);
    return out;
}

std::vector<std::string> QuotedPrintableLines(std::string_view line) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        std::string& cur = lines.back();
        bool last = i + 1 == line.size();
        bool keep = (c >= 0x21 && c <= 0x7E && c != '=') || ((c == ' ' || c == '\t') && !last);
        if (keep) {
            cur += static_cast<char>(c);
        } else {
            cur += '=';
            cur += kHex[c >> 4];
            cur += kHex[c & 0x0F];
        }
        if (cur.size() > kQuotedPrintableLineLimit && !last) {
            cur += '=';
            lines.emplace_back();
        }
    }
    return lines;
}
