#include "shell/StringTable.h"
#include "shell/Codec.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Entry { int id; const char* text; };

// The string table. Keep it sorted by number: lookups are a binary search.
// Texts are UTF-8 here; LoadStr hands out the CP932 form.
static const Entry kEntries[] = {
    // Application name, mutex name, version, main window title
    {900, "Pelvane Personal"},
    {901, "PelvanePersonal"},
    {902, "1.0"},
    {903, "Pelvane Personal"},

    // Save question
    {1005, "This document has not been saved. Do you wish to save it?"},
    {1006, "Confirm Save"},

    // Opening a document
    {1100, "Load"},
    {1102, "Could not load data."},

    // HTML wizard picture selection, HTML part removal
    {1150, "Graphic Selection"},
    {1151, "Delete graphic selection?"},
    {1152, "Delete HTML Mail"},
    {1153, "Do you wish to delete the HTML mail?"},

    // Clear Address Book
    {1200, "Clear Address Book"},
    {1201, "Are you sure you want to clear all items from your Address Book?"},

    // Edit Field Names dialog
    {1300, "Edit Field Name"},
    {1301, "Field name length is limited to 26 letters."},

    // Document open/save dialogs
    {2001, "Pelvane File(*.pvd)|*.pvd|All Files(*.*)|*.*"},

    // Attachments
    {2090, "Delete Attachment"},
    {2091, "Delete attachment file?"},
    {2092, "Delete all attachment files?"},

    // Save As
    {2100, "Save"},
    {2101, "A file with this name already exists. Do wish to overwrite it?"},

    // HTML wizard "Next" button
    {3001, "Done"},
    {3002, "Next>>"},

    // Status bar parts, joined with nothing between them
    {3100, "%d items in Address Book."},
    {3101, "There are %d attachments."},
    {3102, "There are %d HTML files."},

    // Send command and preview
    {4000, "Send"},
    {4013, "Preview"},
    {4014, "In order to view the previews of your mail, you first need to select which addresses in your Address Book you want to send to."},
    {4015, "You haven't selected any addresses in your Address Book to send the mail to."},

    // Send log lines
    {4101, "Connected to SMTP server."},
    {4102, "Unable to connect to SMTP server."},
    {4103, "Connection to SMTP server has been broken."},
    {4104, "Mail successfully sent."},
    {4105, "Merging mail data."},
    {4106, "Mail cannot be sent as the mail address contains double-byte characters."},
    {4108, "POP Server verification completed."},
    {4109, "POP Server verification unsuccessful."},
    {4110, "Subject"},
    {4111, "A problem occurred during transmission."},
    {4112, "Retransmission was unsuccessful."},
    {4113, "Mail transmission terminated."},
    {4114, "Mail has been sent."},
    {4115, "Reconnected to SMTP server."},
    {4116, "Mail transmission resumed by  user."},
    {4117, "Mail transmission cancelled by user."},

    // Send log lines by SMTP result code
    {4200, "Invalid command sent to SMTP server."},
    {4201, "SMTP server verification unsuccessful."},
    {4202, "Timeout has occurred while trying to access SMTP server."},
    {4203, "Transmission terminated by user."},
    {4204, "Access refused by SMTP server."},
    {4205, "Attachment files were not sent as they could not be found. "},
    {4206, "SMPT server did not accept mail."},
    {4207, "Disconnected from SMTP server."},
    {4208, "Cannot connect to SMTP server."},

    // Transmission error boxes shown by the send worker
    {4210, "Transmission Error"},
    {4211, "Was unable to send mail number %d. \n[%d]%s\n\n Would you like to try and send this mail again? \n(Clicking [No] will skip this mail. Clicking [Cancel] will stop any further mails from being sent.)"},
    {4213, "Was unable to send mail number %d. \n%s\n\nThis mail was skipped.\n(Clicking [Cancel] will stop any further mails from being sent.)"},

    // Log file failure
    {4290, "Log error"},
    {4291, "Can't write to log file."},

    // Send progress window: status line and counter line
    {4300, "Connecting to SMTP server"},
    {4302, "Verifying POP server."},
    {4303, "Compiling mail."},
    {4304, " "},
    {4305, "Transmitting mail. "},
    {4306, "Disconnecting from server."},
    {4307, "Standing by"},
    // The wait before a resend is shown with this text before "/Resume:"; it
    // has no wording of its own elsewhere, and a bare "/Resume:" says nothing.
    {4308, "Waiting to resend"},
    {4309, " "},

    // Send outcome
    {4400, "Mail transmission complete."},
    {4401, "Was unable to send one or more mails. Please check log file for details."},
    {4402, "Mail transmission has been cancelled. Please check log file for details."},

    // HTML template chooser tree root
    {4500, "HTML Template List"},

    // Row label prefix of the Edit Field Names grid ("field1" to "field10")
    {4999, "field"},

    // Default field names 1 to 20 (4999 + field number)
    {5000, "Mail Address"},
    {5001, "Name"},
    {5002, "field3"},
    {5003, "field4"},
    {5004, "field5"},
    {5005, "field6"},
    {5006, "field7"},
    {5007, "field8"},
    {5008, "field9"},
    {5009, "field10"},
    {5010, "field11"},
    {5011, "field12"},
    {5012, "field13"},
    {5013, "field14"},
    {5014, "field15"},
    {5015, "field16"},
    {5016, "field17"},
    {5017, "field18"},
    {5018, "field19"},
    {5019, "field20"},

    // Settings defaults: Encode, Font, FontSize
    {5100, "1"},
    {5101, "Courier"},
    {5102, "12"},

    // Result box button, text settings font list
    {5302, "View Log"},
    {5303, "None"},

    // User Preferences
    {6000, "Preferences"},
    {6001, "Bold and Italic font styles cannot be used. These settings have been cancelled."},

    // Font sample of the User Preferences dialog
    {7000, "Font Sample\r\nabcdefghijklmn\r\nABCDEFGHIJKLMN"}, // text described, not quoted

    // First-run server wizard
    {8000, "Please enter your mail server details."},

    // Address book save question, address book file extension
    {8100, "Address Book"},
    {8101, "Do you want to save the changes to your Address Book? "},
    {8114, ".csv"},

    // HTML wizard: picture that cannot be clipped (two lines)
    {8150, "Graphic Edit"},
    {8151, "Pelvane Personal can only edit JPG and BMP graphic formats. Other formats will be pasted into your HTML template as is.\r\n If the size of the graphic does not match the size of the template graphic it will be automatically resized to fit."},

    // Main window toolbar hints (same numbers as the button bitmaps)
    {9950, "New"},
    {9951, "Open"},
    {9952, "Save"},
    {9953, "Select HTML Template"},
    {9955, "Edit Address Book"},
    {9957, "Save Address Book"},
    {9964, "Server Settings"},
    {9965, "Preferences"},
    {9966, "Send"},
    {9967, "Preview"},

    // Address book editor toolbar hints (same numbers as the button bitmaps)
    {9970, "Close"},
    {9972, "Move Left"},
    {9973, "Move Right"},
    {9974, "Add Record"},
    {9975, "Delete Record"},
    {9977, "Select All"},
    {9978, "Select None"},
    {9979, "Select Unsent Records"},
    {9981, "Sort In Ascending Order"},
    {9982, "Sort In Descending Order"},
    {9983, "Find Duplicate Data"},
    {9985, "Find And Delete Duplicate Data"},
    {9986, "Check Mail Addresses"},
    {9987, "Filtering On"},
    {9988, "Filtering Off"},
};

constexpr std::size_t kEntryCount = std::size(kEntries);

// Index of `id` in kEntries, or kEntryCount when the table has no such number.
std::size_t FindEntry(int id) {
    const Entry* begin = kEntries;
    const Entry* end = kEntries + kEntryCount;
    const Entry* it = std::lower_bound(begin, end, id,
        [](const Entry& e, int value) { return e.id < value; });
    if (it == end || it->id != id) {
        return kEntryCount;
    }
    return static_cast<std::size_t>(it - begin);
}

// CP932 forms of all texts, converted once on first use, same order as kEntries.
const std::vector<std::string>& Cp932Texts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> v;
        v.reserve(kEntryCount);
        for (const Entry& e : kEntries) {
            v.push_back(Utf8ToCp932(e.text));
        }
        return v;
    }();
    return texts;
}

} // namespace

const std::string& LoadStr(int id) {
    static const std::string kEmpty;
    const std::size_t index = FindEntry(id);
    if (index == kEntryCount) {
        return kEmpty;
    }
    return Cp932Texts()[index];
}

bool HasStr(int id) {
    return FindEntry(id) != kEntryCount;
}

const char* LoadStrUtf8(int id) {
    const std::size_t index = FindEntry(id);
    return index == kEntryCount ? "" : kEntries[index].text;
}
