#include "addressbook/Database.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <new>
#include <sys/stat.h>

#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"

namespace {

// Texts of the store that have no string-table number; used literally.
const char* const kLoadCaption = "Load data";
const char* const kReadingLabel = "Reading data";
const char* const kCreatingLabel = "Creating Address Book";
const char* const kOpenCaption = "Open Address Book";
const char* const kOpenFailed = "Could not open file.";
const char* const kTooManyCaption = "Import Data File";
const char* const kTooManyText =
    "The data file you are reading in contains more than 1,000 records. "
    "Only the first 1,000 records will be imported.";

bool IsTrailByte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

int ProgressMax(std::size_t lineCount) {
    return lineCount > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(lineCount);
}

bool HoldsLineBreak(std::string_view v) {
    return v.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

TPVDatabase::TPVDatabase() : Records(SlotCount) {}

void TPVDatabase::Clear() {
    for (TPVRecord& r : Records) {
        std::vector<std::string>().swap(r.Values);
        r.OriginId = -1;
        r.Selected = 0;
        r.SendState = SendWaiting;
    }
    Count = 0;
}

void TPVDatabase::LoadDefaultFieldNames() {
    const std::string& ini = Paths().installFile;
    FieldNames.assign(FieldCount, std::string());
    for (int i = 1; i <= FieldCount; ++i)
        FieldNames[i - 1] = IniReadString(ini, "INDEX", std::to_string(i), LoadStr(4999 + i));
}

void TPVDatabase::ResetRecord(int index) {
    if (index < 0) return;
    if (static_cast<std::size_t>(index) >= Records.size()) Records.resize(index + 1);
    Records[index].Values.assign(FieldCount, std::string());
}

void TPVDatabase::PadFields(int n) {
    if (n <= 0) return;
    const std::size_t want = static_cast<std::size_t>(n);
    if (FieldNames.size() < want) FieldNames.resize(want);
    for (int i = 0; i < Count; ++i)
        if (Records[i].Values.size() < want) Records[i].Values.resize(want);
}

void TPVDatabase::DeleteRecord(int index) {
    if (Count <= 0 || index < 0 || index >= Count) return;
    for (int j = index; j < Count - 1; ++j) Records[j] = std::move(Records[j + 1]);
    Records[Count - 1] = TPVRecord{};
    --Count;
}

void TPVDatabase::DeleteRecordById(int32_t id) {
    for (int i = Count - 1; i >= 0; --i) {
        if (Records[i].OriginId == id) {
            DeleteRecord(i);
            return;
        }
    }
}

void TPVDatabase::RenumberIds() {
    for (int i = 0; i < Count; ++i) Records[i].OriginId = i;
}

void TPVDatabase::CopyFrom(const TPVDatabase& other) {
    if (this == &other) return;
    FieldNames = other.FieldNames;
    const std::size_t slots = std::max<std::size_t>(SlotCount, other.Records.size());
    if (Records.size() < slots) Records.resize(slots);
    const int count = std::clamp(other.Count, 0, static_cast<int>(other.Records.size()));
    for (int i = 0; i < count; ++i) Records[i] = other.Records[i];
    for (std::size_t i = count; i < Records.size(); ++i) Records[i] = TPVRecord{};
    Count = count;
}

// ---------------------------------------------------------------- text helpers

char TPVDatabase::Separator(int format) {
    return format == FormatTab ? '\t' : ',';
}

std::size_t TPVDatabase::CharLen(std::string_view text, std::size_t pos) {
    if (pos + 1 < text.size() && IsSjisLeadByte(static_cast<unsigned char>(text[pos])) &&
        IsTrailByte(static_cast<unsigned char>(text[pos + 1])))
        return 2;
    return 1;
}

std::string TPVDatabase::QuoteValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < value.size();) {
        std::size_t n = CharLen(value, i);
        if (n == 1 && value[i] == '"') out += '"';
        out.append(value.substr(i, n));
        i += n;
    }
    out += '"';
    return out;
}

std::string TPVDatabase::StripEnclosingQuotes(std::string_view text) {
    if (!text.empty() && text.front() == '"' && text.back() == '"') {
        if (text.size() == 1) return std::string();
        return std::string(text.substr(1, text.size() - 2));
    }
    return std::string(text);
}

std::string TPVDatabase::CollapseDoubledQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            out += '"';
            i += 2;
            continue;
        }
        std::size_t n = CharLen(text, i);
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::size_t TPVDatabase::FindSeparator(std::string_view rest, char separator) {
    std::size_t i = 0;
    bool quoted = false;
    if (!rest.empty() && rest[0] == '"') {
        quoted = true;
        i = 1;
    }
    while (i < rest.size()) {
        const char c = rest[i];
        if (quoted) {
            if (c == '"') {
                // A doubled quote is a quote inside the value (QuoteValue wrote
                // it); leaving quoted mode here would split a value like
                // `a "b", c` at its comma. A single quote ends the quoted
                // part for good.
                if (i + 1 < rest.size() && rest[i + 1] == '"') {
                    i += 2;
                    continue;
                }
                quoted = false;
                ++i;
                continue;
            }
        } else if (c == separator) {
            return i;
        }
        i += CharLen(rest, i);
    }
    return std::string_view::npos;
}

std::vector<std::string> TPVDatabase::SplitLines(std::string_view text) {
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    std::string_view line;
    while (NextLine(text, pos, line)) lines.emplace_back(line);
    return lines;
}

bool TPVDatabase::NextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
        line = text.substr(pos);
        pos = text.size();
        return true;
    }
    line = text.substr(pos, end - pos);
    pos = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2 : end + 1;
    return true;
}

std::size_t TPVDatabase::CountLines(std::string_view text) {
    std::size_t n = 0, pos = 0;
    std::string_view line;
    while (NextLine(text, pos, line)) ++n;
    return n;
}

bool TPVDatabase::ProgressStepAt(std::size_t index, std::size_t lineCount) {
    const std::size_t step = 1 + lineCount / 5000;
    return index % step == 0;
}

bool TPVDatabase::ReadFileText(const std::string& path, std::string& text) {
    text.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return false;
    }
    bool ok = true;
    try {
        char buf[65536];
        for (;;) {
            std::size_t n = std::fread(buf, 1, sizeof buf, f);
            if (n > 0) {
                std::string_view chunk(buf, n);
                std::size_t nul = chunk.find('\0');
                if (nul != std::string_view::npos) {  // a NUL byte ends the text
                    text.append(chunk.substr(0, nul));
                    break;
                }
                text.append(chunk);
            }
            if (n < sizeof buf) {
                ok = !std::ferror(f);
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::fclose(f);
    if (!ok) std::string().swap(text);
    return ok;
}

bool TPVDatabase::ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::string text;
    if (!ReadFileText(path, text)) return false;
    lines = SplitLines(text);
    return true;
}

// ---------------------------------------------------------------- reading

bool TPVDatabase::LoadFromFile(const std::string& path, int format) {
    auto ui = Ui();
    ui->ProgressOpen(kLoadCaption, kReadingLabel);
    ui->ProgressSetRange(0, 100);
    ui->ProgressSetPosition(0);

    std::string text;
    if (!ReadFileText(path, text)) {
        ShowInfoMessage(kOpenCaption, kOpenFailed);
        ui->ProgressClose();
        return false;
    }

    bool tooMany = false;
    try {
        const std::size_t lineCount = CountLines(text);
        ui->ProgressSetLabel(kCreatingLabel);
        ui->ProgressSetRange(0, ProgressMax(lineCount));

        // The records are built aside and take the store's place at the end,
        // so a failure half-way (out of memory) leaves the store as it was.
        std::vector<TPVRecord> slots(std::max<std::size_t>(SlotCount, Records.size()));
        int count = 0;
        std::size_t pos = 0, index = 0;
        std::string_view line;
        while (NextLine(text, pos, line)) {
            if (ProgressStepAt(index, lineCount)) ui->ProgressSetPosition(ProgressMax(index));
            ++index;
            // An empty line is skipped without taking a slot. A slot with no
            // values would be one the editor and the merge
            // would show and send as an empty recipient; skipping it keeps
            // every record after it, in order, and makes no phantom record.
            // The 1,001-slot limit therefore counts records, not lines.
            if (line.empty()) continue;
            if (count >= SlotCount) {
                tooMany = true;
                break;
            }
            TPVRecord& rec = slots[count];
            rec.Values.assign(FieldCount, std::string());
            ParseLine(rec, std::string(line), format);
            rec.OriginId = count;
            rec.Selected = 0;
            rec.SendState = SendWaiting;
            ++count;
        }
        Records = std::move(slots);
        Count = count;
    } catch (const std::bad_alloc&) {
        ShowInfoMessage(kOpenCaption, kOpenFailed);
        ui->ProgressClose();
        return false;
    }
    if (tooMany) ShowInfoMessage(kTooManyCaption, kTooManyText);
    ui->ProgressClose();
    return true;
}

void TPVDatabase::ParseLine(TPVRecord& record, const std::string& line, int format) {
    const char sep = Separator(format);
    if (record.Values.size() < static_cast<std::size_t>(FileFieldCount)) record.Values.resize(FileFieldCount);
    std::string_view text(line);
    std::size_t p = 0;
    int n = 1;
    while (p < text.size()) {
        std::string_view rest = text.substr(p);
        if (n == FileFieldCount) {
            record.Values[n - 1] = CollapseDoubledQuotes(StripEnclosingQuotes(rest));
            return;
        }
        std::size_t k = FindSeparator(rest, sep);
        std::string_view field = k == std::string_view::npos ? rest : rest.substr(0, k);
        record.Values[n - 1] = CollapseDoubledQuotes(StripEnclosingQuotes(field));
        if (k == std::string_view::npos) return;
        p += k + 1;
        ++n;
    }
}

// ---------------------------------------------------------------- writing

bool TPVDatabase::BuildText(int format, bool withHeader, std::string& text, std::string& problem) const {
    const char sep = Separator(format);
    text.clear();
    problem.clear();
    auto appendLine = [&](const std::vector<std::string>& values, const std::string& what) {
        for (int f = 0; f < FileFieldCount; ++f) {
            std::string_view v = f < static_cast<int>(values.size()) ? std::string_view(values[f]) : std::string_view();
            if (HoldsLineBreak(v)) {
                problem = what + ", field " + std::to_string(f + 1) +
                          " contains a line break or NUL character, which an address book file cannot hold.";
                return false;
            }
            if (f > 0) text += sep;
            text += QuoteValue(v);
        }
        text += "\r\n";
        return true;
    };
    if (withHeader && !appendLine(FieldNames, "The field names")) return false;
    const int count = std::min<int>(Count, static_cast<int>(Records.size()));
    for (int i = 0; i < count; ++i)
        if (!appendLine(Records[i].Values, "Record " + std::to_string(i + 1))) return false;
    return true;
}

bool TPVDatabase::SaveToFile(const std::string& path, int format, bool withHeader) const {
    std::string text, problem;
    if (!BuildText(format, withHeader, text, problem)) {
        // Refused rather than written: the value would break the line
        // structure and every record after it would read back shifted.
        ShowErrorMessage("Cannot save file " + path + ": " + problem);
        return false;
    }
    // A temporary file in the same folder renamed over the old one: a failed
    // write leaves the previous address book whole.
    if (!WriteFileAtomically(path, text)) {
        ShowErrorMessage("Cannot create file " + path);
        return false;
    }
    return true;
}
