#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The address book store: up to 1,000 records of 20 CP932 text
// values, the 20 field names, and per record a send state, a selected flag
// and an origin id; plus the comma/tab text form of the address-book files.
//
// No window belongs to the store: the progress dialog and the message boxes
// go through the UI services (shell/UiServices.h).

struct TPVRecord {
    std::vector<std::string> Values;  // index i belongs to FieldNames[i]; normally 20
    int32_t SendState = 0;            // SendWaiting / SendCompleted / SendError
    uint8_t Selected = 0;             // nonzero: selected for sending
    int32_t OriginId = -1;            // identity within a working copy; -1 unset
};

class TPVDatabase {
public:
    static constexpr int MaxRecords = 1000;
    static constexpr int SlotCount = MaxRecords + 1;  // Records.size(), always
    static constexpr int FieldCount = 20;
    static constexpr int FileFieldCount = 10;

    static constexpr int32_t SendWaiting = 0;    // shown "W"
    static constexpr int32_t SendCompleted = 1;  // shown "C"
    static constexpr int32_t SendError = 2;      // shown "E"

    static constexpr int FormatComma = 1;  // separator ","; every value but 2 reads as 1
    static constexpr int FormatTab = 2;    // separator TAB

    std::vector<std::string> FieldNames;  // 20 entries in normal use (empty after construction)
    std::vector<TPVRecord> Records;       // SlotCount slots; 0 .. Count-1 in use
    int Count = 0;                        // 0 .. 1,000 (1,001 right after LoadFromFile)

    // All 1,001 slots empty (OriginId -1), Count 0, FieldNames empty.
    TPVDatabase();
    TPVDatabase(const TPVDatabase&) = default;
    TPVDatabase& operator=(const TPVDatabase&) = default;
    TPVDatabase(TPVDatabase&&) noexcept = default;
    TPVDatabase& operator=(TPVDatabase&&) noexcept = default;
    virtual ~TPVDatabase() = default;

    // Frees every record's values, OriginId -1, Selected/SendState 0, Count 0.
    // FieldNames stay.
    void Clear();

    // FieldNames = the 20 names from the installation file (Paths().installFile),
    // section "INDEX", keys "1".."20", defaults LoadStr(5000..5019).
    void LoadDefaultFieldNames();

    // Slot `index` holds exactly 20 empty values; state, flag and id untouched.
    void ResetRecord(int index);

    // Appends empty texts to FieldNames and to every record in use until each
    // has at least `n` entries.
    void PadFields(int n);

    // Removes record `index` (0 <= index < Count), moving the later records
    // down; the vacated slot is emptied. Does nothing when Count is 0 or the
    // index is out of range.
    void DeleteRecord(int index);

    // Deletes the last record (searching from the end) whose OriginId is `id`.
    void DeleteRecordById(int32_t id);

    // OriginId of record i = i for every record in use.
    void RenumberIds();

    // This store becomes an exact, independent copy of `other` (Count, the
    // records in use with values, state, flag and id, FieldNames); slots at
    // and beyond Count are left empty.
    void CopyFrom(const TPVDatabase& other);

    // Replaces the records by the lines of the text file `path`;
    // FieldNames unchanged. Shows the progress
    // dialog ("Load data" / "Reading data", then "Creating Address Book").
    // Returns false (store unchanged, message "Open Address Book" / "Could
    // not open file." shown) when the file cannot be read; true otherwise.
    // More than 1,001 records: message "Import Data File" / "...more than
    // 1,000 records..." and the first 1,001 records are kept (the
    // address-book file reader removes record 0 as the header).
    // An empty line is skipped without taking a slot (see Database.cpp).
    virtual bool LoadFromFile(const std::string& path, int format);

    // Splits one line into `record.Values` ):
    // at most FileFieldCount values, the tenth takes the rest of the line;
    // enclosing quotes stripped and doubled quotes collapsed in every value,
    // the tenth included (so SaveToFile's output reads back unchanged).
    // `record.Values` is grown to 10 entries when shorter; values that the
    // line does not reach keep their content.
    virtual void ParseLine(TPVRecord& record, const std::string& line, int format);

    // Writes the text form: optional header line of FieldNames[0..9], then
    // Values[0..9] of every record, each value quoted, CR LF after every line.
    // The file is replaced atomically (a failed write leaves the old file
    // whole); on failure the general error display shows "Cannot create file
    // <path>" and the result is false. A value holding CR, LF or NUL cannot
    // be represented in a line: the save is refused (error display, false,
    // nothing written).
    bool SaveToFile(const std::string& path, int format, bool withHeader) const;

    // The text SaveToFile writes; false (and `problem` set) when a value
    // holds CR, LF or NUL.
    bool BuildText(int format, bool withHeader, std::string& text, std::string& problem) const;

    // --- text-form helpers, shared with TPVImportDatabase and the tests ---

    // '\t' for FormatTab, ',' for every other format.
    static char Separator(int format);

    // '"' + value with every double quote doubled + '"'.
    static std::string QuoteValue(std::string_view value);

    // Splits file contents into lines: CR LF, lone LF and lone CR end a line,
    // a last line without line end counts, a NUL byte ends the text.
    static std::vector<std::string> SplitLines(std::string_view text);

    // Reads the file at `path` as lines; false when it cannot be read.
    static bool ReadLines(const std::string& path, std::vector<std::string>& lines);

    // The whole file, cut at its first NUL byte; false when it cannot be read
    // (missing, a folder, no permission, too large for memory).
    static bool ReadFileText(const std::string& path, std::string& text);

    // The line of `text` that starts at `pos` (same rules as SplitLines);
    // advances `pos` past its line end. False when no line is left.
    static bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line);
    static std::size_t CountLines(std::string_view text);

    // Whether the loaders set the progress position before line `index` of
    // `lineCount`: every line up to 4,999 lines, about 5,000 steps beyond.
    static bool ProgressStepAt(std::size_t index, std::size_t lineCount);

    // Byte offset of the separator that ends the field at the start of `rest`,
    // or std::string_view::npos (the field is all of `rest`). A field that
    // begins with a double quote is scanned in quoted mode from its second
    // byte: a doubled quote inside stays quoted (so what QuoteValue wrote
    // comes back whole), a single quote switches to plain mode for good; in
    // plain mode the separator ends the field. Quotes and separators are
    // recognised at character starts only.
    static std::size_t FindSeparator(std::string_view rest, char separator);

    // Removes a leading and a trailing double quote when both are present
    // ("\"" alone becomes empty).
    static std::string StripEnclosingQuotes(std::string_view text);

    // Every pair of consecutive double quotes becomes one.
    static std::string CollapseDoubledQuotes(std::string_view text);

    // Length of the CP932 character at `pos` (2 for a lead byte followed by
    // a trail byte 0x40-0x7E/0x80-0xFC, else 1).
    static std::size_t CharLen(std::string_view text, std::size_t pos);
};
