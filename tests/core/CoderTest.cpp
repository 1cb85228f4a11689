#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "delivery/Coder.h"
#include "delivery/Locale.h"
#include "shell/Codec.h"

namespace {

// glibc's own decoders, as independent readers of what we write. Returns
// false when the bytes are not valid in `from`.
bool ToUtf8(const char* from, std::string_view jis, std::string& utf8) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(jis);
    std::string out(in.size() * 4 + 16, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = rc != static_cast<size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    utf8 = out;
    return ok;
}

bool JisToUtf8(std::string_view jis, std::string& utf8) { return ToUtf8("ISO-2022-JP", jis, utf8); }

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

std::string DecodeBase64(std::string_view text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int bits = 0, value = 0;
    for (char c : text) {
        if (c == '=') break;
        value = value * 64 + static_cast<int>(alphabet.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The text of the encoded words of one header value (no plain words),
// decoded from base64 and concatenated.
std::string DecodeWords(std::string_view value, std::vector<std::string>* words = nullptr) {
    std::string bytes;
    for (std::size_t pos = 0; (pos = value.find("=?", pos)) != std::string_view::npos;) {
        std::size_t q1 = value.find('?', pos + 2);
        std::size_t q2 = value.find('?', q1 + 1);
        std::size_t end = value.find("?=", q2 + 1);
        std::string payload = DecodeBase64(value.substr(q2 + 1, end - q2 - 1));
        if (words) words->push_back(payload);
        bytes += payload;
        pos = end + 2;
    }
    return bytes;
}

}  // namespace

TEST(Coder, SjisToJisMatchesTheJisX0208Table) {
    // Every Shift_JIS pair of JIS X 0208 must come back from glibc's
    // ISO-2022-JP reader as the character glibc's Shift_JIS reader sees
    // (both use the JIS mapping, where CP932 differs in a few signs).
    int compared = 0;
    for (int lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            std::string s{static_cast<char>(lead), static_cast<char>(trail)};
            std::string expected;
            if (!ToUtf8("SHIFT_JIS", s, expected)) continue;
            std::string jis = SjisToJis(s);
            ASSERT_EQ(jis.substr(0, 3), "\x1b$B");
            ASSERT_EQ(jis.substr(5), "\x1b(B");
            std::string back;
            EXPECT_TRUE(JisToUtf8(jis, back)) << std::hex << lead << " " << trail;
            EXPECT_EQ(back, expected) << std::hex << lead << " " << trail;
            ++compared;
        }
    }
    EXPECT_GT(compared, 6800);  // the JIS X 0208 repertoire was really walked
}

TEST(Coder, SjisToJisModes) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"ASCII unchanged", "Hello, world. [[x]]", "Hello, world. [[x]]"},
        {"only kanji", Sjis("漢字"), "\x1b$B4A;z\x1b(B"},
        {"ends in kanji", "a" + Sjis("字"), "a\x1b$B;z\x1b(B"},
        {"switches back", Sjis("字") + "a" + Sjis("字"), "\x1b$B;z\x1b(Ba\x1b$B;z\x1b(B"},
        {"half-width kana stay 8-bit", "\xb6\xde", "\xb6\xde"},
        {"kana after kanji", Sjis("字") + "\xb1", "\x1b$B;z\x1b(B\xb1"},
        // A pair without a code becomes the geta mark and the text goes on.
        {"vendor lead byte",
         "a\xf0\x40"
         "b",
         "a\x1b$B\x22\x2e\x1b(Bb"},
        {"invalid trail byte",
         "\x88\x0d\x0a"
         "b",
         "\x1b$B\x22\x2e\x1b(B\r\nb"},
        {"lead byte at the end", "ab\x88", "ab\x1b$B\x22\x2e\x1b(B"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(SjisToJis(c.in), c.out) << c.name;
}

TEST(Coder, SjisToJisConvertsLongAlternatingTexts) {
    // Kanji and ASCII in turn triple the length; nothing may come back unconverted.
    std::string text, expected;
    for (int i = 0; i < 2000; ++i) {
        text += Sjis("字") + "a";
        expected += "字a";
    }
    std::string jis = SjisToJis(text);
    for (unsigned char c : jis) ASSERT_LT(c, 0x80);
    std::string back;
    ASSERT_TRUE(JisToUtf8(jis, back));
    EXPECT_EQ(back, expected);
}

TEST(Coder, SjisToJisLinesConvertsEachLine) {
    std::vector<std::string> lines = {Sjis("一"), "two", ""};
    SjisToJisLines(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"\x1b$B0l\x1b(B", "two", ""}));
}

TEST(Coder, TransportJisWidensEveryHalfWidthKatakana) {
    std::string all;
    for (int c = 0xA1; c <= 0xDF; ++c) all += static_cast<char>(c);
    std::string back;
    ASSERT_TRUE(JisToUtf8(TransportJis(all), back));
    // ﾝ has no voiced form and ﾞ none either, so the two marks stand alone.
    EXPECT_EQ(back,
              "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホ"
              "マミムメモヤユヨラリルレロワン゛゜");
}

TEST(Coder, TransportJisVoicedMarksAndDrops) {
    struct Case {
        std::string in;
        const char* utf8;
    } cases[] = {
        {"\xb6\xde", "ガ"},
        {"\xca\xdf", "パ"},
        {"\xb1\xde", "ア゛"},
        {"\xb3\xde", "ヴ"},
        {"\xc4\xde", "ド"},
        {"\xce\xdf", "ポ"},
        {"\xbf\xde", "ゾ"},
        {"\xc0\xdf", "タ゜"},
        {"\xde", "゛"},
        {"\xb6\xde\xde", "ガ゛"},
        {"a\xb6\xde"
         "b",
         "aガb"},
        {Sjis("漢") + "\xb6", "漢カ"},
        // Dropped: 0x80, 0xA0, 0xFD-0xFF, vendor pairs, a lead byte without its trail.
        {"a\x80\xa0\xfd\xfe\xff"
         "b",
         "ab"},
        {"a\xf0\x40\xfc\xfc"
         "b",
         "ab"},
        {"a\x88", "a"},
        {"a\x88\x0a"
         "b",
         "a\nb"},
    };
    for (const Case& c : cases) {
        std::string jis = TransportJis(c.in);
        for (unsigned char b : jis) ASSERT_LT(b, 0x80) << c.utf8;
        std::string back;
        ASSERT_TRUE(JisToUtf8(jis, back)) << c.utf8;
        EXPECT_EQ(back, c.utf8);
    }
    // ｶﾞ becomes ガ here but stays two 8-bit bytes in the mail text converter.
    EXPECT_EQ(SjisToJis("\xb6\xde"), "\xb6\xde");
    // An ISO-2022-JP text passes unchanged.
    std::string jis = SjisToJis(Sjis("日本語 text"));
    EXPECT_EQ(TransportJis(jis), jis);
}

TEST(Coder, EncodeJisWordIsOneWordOfAnyLength) {
    EXPECT_EQ(EncodeJisWord(Sjis("画像.gif")), "=?ISO-2022-JP?B?GyRCMmhBfBsoQi5naWY=?=");
    std::string longName;
    for (int i = 0; i < 600; ++i) longName += Sjis("画");
    std::string word = EncodeJisWord(longName);
    EXPECT_EQ(word.find("\r\n"), std::string::npos);
    EXPECT_GT(word.size(), 1000u);
}

TEST(Coder, HeaderWordsEncodeOnlyWhatNeedsIt) {
    const THeaderCharset jp = HeaderCharsetFor(TPlatformLanguage::Japanese);
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"ASCII stays", "Hello  world\t!", "Hello  world\t!"},
        {"English, kanji name, English", "Dear " + Sjis("山田") + " san",
         "Dear =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= san"},
        {"neighbouring kanji words form one span", Sjis("山田 太郎"),
         "=?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?="},
        {"control byte is encoded",
         std::string("a\x01"
                     "b c"),
         "=?ISO-2022-JP?B?YQFi?= c"},
        {"half-width kana are widened first", "\xb6\xde", "=?ISO-2022-JP?B?GyRCJSwbKEI=?="},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EncodeHeaderText(c.in, "", jp.charset, jp.encoding), c.out) << c.name;

    // Q: a blank in a span is "_", "=", "?" and "_" are quoted, TAB as =09.
    EXPECT_EQ(EncodeHeaderText("caf\xe9 na\xefve=?_\tx\xe9 ok", "", "ISO-8859-1", 'Q'),
              "=?ISO-8859-1?Q?caf=E9_na=EFve=3D=3F=5F=09x=E9?= ok");
    EXPECT_EQ(EncodeHeaderText("a=b", "", "ISO-8859-1", 'Q'), "a=b");
    // Other charsets take the bytes as they are.
    EXPECT_EQ(EncodeHeaderText("x \x88\x9f", "", "EUC-KR", 'B'), "x =?EUC-KR?B?iJ8=?=");
}

TEST(Coder, LongHeaderWordsAreCutBetweenCharactersWithinTheLineLimit) {
    const THeaderCharset jp = HeaderCharsetFor(TPlatformLanguage::Japanese);
    std::string phrase, expected;
    for (int i = 0; i < 1000; ++i) {
        phrase += Sjis("長");
        expected += "長";
    }
    // 1,000 kanji without a blank: one encoded word as long as a line allows.
    const std::string shortOne = EncodeHeaderText(phrase.substr(0, 200), "", jp.charset, jp.encoding, 9);
    EXPECT_EQ(shortOne.find("\r\n"), std::string::npos);
    const std::string value = EncodeHeaderText(phrase, "", jp.charset, jp.encoding, 9);
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        std::size_t end = value.find("\r\n", start);
        lines.push_back(value.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // "Subject: " and the first word, then TAB and a word: each line as full as it may be.
        std::size_t length = lines[i].size() + (i == 0 ? 9 : 0);
        EXPECT_LE(length, 998u);
        if (i + 1 < lines.size()) {
            EXPECT_GT(length, 990u);
        }
        if (i > 0) {
            EXPECT_EQ(lines[i][0], '\t');
        }
    }
    // Every word is a whole ISO-2022-JP text; together they give the phrase.
    std::vector<std::string> words;
    DecodeWords(value, &words);
    std::string joined;
    for (const std::string& w : words) {
        std::string part;
        ASSERT_TRUE(JisToUtf8(w, part));
        EXPECT_EQ(w.substr(w.size() - 3), "\x1b(B");
        joined += part;
    }
    EXPECT_EQ(joined, expected);

    // The same for Q and one-byte characters.
    std::string latin(1500, '\xe9');
    std::string q = EncodeHeaderText(latin, "", "ISO-8859-1", 'Q');
    std::size_t lineStart = 0, longest = 0;
    for (std::size_t p = 0; p <= q.size(); ++p) {
        if (p == q.size() || q[p] == '\r') {
            longest = std::max(longest, p - lineStart);
            lineStart = p + 2;
        }
    }
    EXPECT_LE(longest, 998u);
    EXPECT_NE(q.find("?=\r\n =?ISO-8859-1?Q?"), std::string::npos);
}

TEST(Coder, LongPlainHeadersFoldAtWhiteSpace) {
    const THeaderCharset jp = HeaderCharsetFor(TPlatformLanguage::Japanese);
    std::string words;
    for (int i = 0; i < 300; ++i) words += " word" + std::to_string(i);
    const std::string folded = EncodeHeaderText(words, "", jp.charset, jp.encoding, 9);
    // Folding only inserts CR LF before a blank: unfolded, the text is unchanged.
    std::string unfolded = folded;
    for (std::size_t p; (p = unfolded.find("\r\n")) != std::string::npos;) unfolded.erase(p, 2);
    EXPECT_EQ(unfolded, words);
    std::size_t start = 0, column = 9;
    for (std::size_t end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2, column = 0) {
        EXPECT_LE(column + end - start, 998u);
        EXPECT_EQ(folded[end + 2], ' ');
    }
    // A word no line can hold is encoded, so that it can be cut.
    const std::string word(2000, 'x');
    const std::string encoded = EncodeHeaderText("Re: " + word, "", jp.charset, jp.encoding, 9);
    EXPECT_EQ(encoded.rfind("Re: =?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(DecodeWords(encoded), word);
    // So is a quoted name too long for its line.
    const std::string name = FormatDisplayAddress(std::string(1200, 'n'), "a@example.jp", jp, 6);
    EXPECT_EQ(name.rfind("=?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(DecodeWords(name), std::string(1200, 'n'));
}

TEST(Coder, DisplayNameRule) {
    const THeaderCharset jp = HeaderCharsetFor(TPlatformLanguage::Japanese);
    struct Case {
        const char* name;
        std::string displayName;
        std::string out;
    } cases[] = {
        {"empty name: bare address", "", "a@example.jp"},
        {"two ASCII words: quoted", "Taro Yamada", "\"Taro Yamada\" <a@example.jp>"},
        {"ASCII with a period: quoted, not encoded", "T. Yamada", "\"T. Yamada\" <a@example.jp>"},
        {"backslash and quote escaped", "a\\b \"c\"", "\"a\\\\b \\\"c\\\"\" <a@example.jp>"},
        {"kanji word and ASCII word with a period: one span", Sjis("山田") + " T.Y",
         "=?ISO-2022-JP?B?GyRCOzNFRBsoQiBULlk=?= <a@example.jp>"},
        {"kanji then plain ASCII word", Sjis("山田") + " Taro",
         "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= Taro <a@example.jp>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDisplayAddress(c.displayName, "a@example.jp", jp), c.out) << c.name;
}

TEST(Coder, HeaderCharsetFollowsTheLanguage) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* charset;
        char encoding;
        bool transport;
    } cases[] = {
        {"", "", "ja_JP.UTF-8", "ISO-2022-JP", 'B', true},
        {"", "", "", "ISO-2022-JP", 'B', true},
        {"C", "", "en_US.UTF-8", "ISO-2022-JP", 'B', true},
        {"", "", "C.UTF-8", "ISO-2022-JP", 'B', true},
        {"", "", "POSIX", "ISO-2022-JP", 'B', true},
        {"", "zh_CN.GB2312", "ja_JP", "GB2312", 'B', false},
        {"zh_SG", "", "", "GB2312", 'B', false},
        {"zh_TW.UTF-8", "", "", "Big5", 'B', false},
        {"", "", "ko_KR.EUC-KR", "EUC-KR", 'B', false},
        {"", "", "de_DE.UTF-8", "ISO-8859-1", 'Q', false},
        {"en_GB", "ja_JP", "ja_JP", "ISO-8859-1", 'Q', false},
    };
    for (const Case& c : cases) {
        THeaderCharset h = HeaderCharsetFor(LanguageFromLocaleNames(c.lcAll, c.lcMessages, c.lang));
        EXPECT_EQ(h.charset, c.charset) << c.lcAll << "|" << c.lcMessages << "|" << c.lang;
        EXPECT_EQ(h.encoding, c.encoding);
        EXPECT_EQ(h.transport, c.transport);
    }
}

TEST(Coder, Base64) {
    // RFC 4648 section 10.
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) EXPECT_EQ(EncodeBase64(v[0]), v[1]);
    EXPECT_EQ(EncodeBase64(std::string("\xff\x00\xfe", 3)), "/wD+");
}

TEST(Coder, QuotedPrintable) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string in;
        Lines out;
    } cases[] = {
        {"plain", "Hello, world!", {"Hello, world!"}},
        {"equals sign", "a=b", {"a=3Db"}},
        {"inner blank and TAB stay", "a b\tc", {"a b\tc"}},
        {"trailing blank", "end ", {"end=20"}},
        {"trailing TAB", "end\t", {"end=09"}},
        {"8-bit and control bytes", "\x82\xa0\x01", {"=82=A0=01"}},
        {"empty", "", {""}},
        {"exactly 991 characters: no soft break", std::string(991, 'x'), {std::string(991, 'x')}},
    };
    for (const Case& c : cases) EXPECT_EQ(QuotedPrintableLines(c.in), c.out) << c.name;

    // 1,200 ASCII characters: one soft break after 991 of them.
    std::string line;
    for (int i = 0; i < 1200; ++i) line += static_cast<char>('a' + i % 26);
    Lines q = QuotedPrintableLines(line);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0], line.substr(0, 991) + "=");
    EXPECT_EQ(q[1], line.substr(991));
    // A break next to an encoded byte keeps the =XX whole.
    Lines e = QuotedPrintableLines(std::string(990, 'x') + "\xe9" + "y");
    EXPECT_EQ(e[0], std::string(990, 'x') + "=E9=");
    EXPECT_EQ(e[1], "y");
}
