#include "addressbook/Importdatabase.h"

#include <algorithm>
#include <new>

#include "shell/UiServices.h"

bool TPVImportDatabase::LoadFromFile(const std::string& path, int format) {
    Overflow = 0;
    auto ui = Ui();
    ui->ProgressOpen("Load data", "Reading data");
    ui->ProgressSetRange(0, 100);
    ui->ProgressSetPosition(0);

    std::string text;
    if (!ReadFileText(path, text)) {
        ShowInfoMessage("Open Address Book", "Could not open file.");
        ui->ProgressClose();
        return false;
    }

    try {
        const std::size_t lineCount = CountLines(text);
        ui->ProgressSetLabel("Creating Address Book");
        ui->ProgressSetRange(0, lineCount > 0x7fffffffu ? 0x7fffffff : static_cast<int>(lineCount));

        std::vector<TPVRecord> slots(std::max<std::size_t>(SlotCount, Records.size()));
        int count = 0;
        uint8_t overflow = 0;
        std::size_t pos = 0, index = 0;
        std::string_view line;
        while (NextLine(text, pos, line)) {
            if (ProgressStepAt(index, lineCount)) ui->ProgressSetPosition(static_cast<int>(std::min<std::size_t>(index, 0x7fffffff)));
            if (index >= static_cast<std::size_t>(SlotCount)) {
                // Only a line that would have made a record is lost: empty
                // lines after slot 1,000 add nothing, as they do anywhere at
                // the end of a file, and set no Overflow.
                do {
                    if (!line.empty()) {
                        overflow = 1;
                        break;
                    }
                } while (NextLine(text, pos, line));
                break;
            }
            // Slot i holds line i; an empty line leaves a record with no
            // values (the import flow makes it 20 empty values).
            if (!line.empty()) {
                ParseLine(slots[index], std::string(line), format);
                count = static_cast<int>(index) + 1;
            }
            ++index;
        }
        Records = std::move(slots);
        Count = count;
        Overflow = overflow;
    } catch (const std::bad_alloc&) {
        ShowInfoMessage("Open Address Book", "Could not open file.");
        ui->ProgressClose();
        return false;
    }
    ui->ProgressClose();
    return true;
}

void TPVImportDatabase::ParseLine(TPVRecord& record, const std::string& line, int format) {
    const char sep = Separator(format);
    std::string_view text(line);
    std::size_t p = 0;
    for (;;) {
        if (record.Values.size() >= static_cast<std::size_t>(MaxLineValues)) return;
        std::string_view rest = text.substr(p);
        std::size_t k = FindSeparator(rest, sep);
        std::string_view field = k == std::string_view::npos ? rest : rest.substr(0, k);
        record.Values.push_back(StripEnclosingQuotes(field));
        if (k == std::string_view::npos) return;
        p += k + 1;
    }
}
