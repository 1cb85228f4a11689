#pragma once

#include <cstdint>
#include <string>

#include "addressbook/Database.h"

// The reader of foreign comma/tab files for import: one
// record per line in slot i = line i, as many values as the line has fields,
// doubled quotes kept as they are.
class TPVImportDatabase : public TPVDatabase {
public:
    uint8_t Overflow = 0;  // set when the file has non-empty lines beyond slot 1,000

    // Values kept per line; the rest of a longer line is dropped. The import
    // flow uses the first 200 columns only; the cap keeps a
    // pathological line (millions of separators) from exhausting memory.
    static constexpr int MaxLineValues = 1000;

    TPVImportDatabase() = default;

    // Clears Overflow and the store, then reads line i into slot i (no
    // 20-value prefill, no OriginId). Count = index of the last non-empty
    // line + 1; an empty line between non-empty ones leaves a record with no
    // values; empty lines at the end add nothing. Reading stops at line
    // 1,001; Overflow is set when a non-empty line lies there or later; no
    // message. Progress dialog as in TPVDatabase. False (store unchanged,
    // "Could not open file." shown) when the file cannot be read.
    bool LoadFromFile(const std::string& path, int format) override;

    // Appends one value per field of `line`: enclosing quotes stripped,
    // doubled quotes kept; a line that ends
    // with a separator gets a last empty value; an empty line gives one empty
    // value (LoadFromFile does not call it for empty lines). At most
    // MaxLineValues values are appended.
    void ParseLine(TPVRecord& record, const std::string& line, int format) override;
};
