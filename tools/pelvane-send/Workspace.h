#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>

#include "addressbook/Database.h"
#include "document/Datafile.h"
#include "shell/AppSettings.h"
#include "shell/Commonfunc.h"
#include "shell/MailDocument.h"

// A temporary folder of this run alone (made with mkdtemp inside the user's
// private temporary folder), into which the document's HTML files are
// unpacked. The application's own preview folders are never touched: the
// desktop application may have a mail open in them at this very moment.
class TPrivateWorkspace {
public:
    TPrivateWorkspace() = default;
    ~TPrivateWorkspace();
    TPrivateWorkspace(const TPrivateWorkspace&) = delete;
    TPrivateWorkspace& operator=(const TPrivateWorkspace&) = delete;

    // Makes the folder and installs `paths` with their temporary and preview
    // folders moved into it. False with `error` set when no folder can be had.
    bool Create(AppPaths paths, unsigned uid, std::string& error);

    // Removes the folder and all it holds; safe to call twice and from
    // another thread.
    void Remove();

private:
    std::mutex mutex_;
    std::string folder_;  // with a trailing "/"; empty when none was made
};

// Where the per-user settings of the desktop application lie. pelvane-send
// reads the application's file, not one named after itself.
AppPaths ComputeSendPaths();

// A document opened as the main window opens it.
struct TOpenedDocument {
    TPVDataFile file;        // as read; kept for writing the send states back
    TMailDocument document;  // sender fields already replaced by the settings' values
    TPVDatabase book;        // from the document, or from its ".dat" for versions 1 and 2
    bool bookFromDat = false;
    struct stat fileState {};  // what the file on disk looked like when it was read
};

// Reads `path` with the document reader (the HTML files go into the current
// main preview folder), takes the address book from the ".dat" file beside
// it for documents older than version 3, and puts the settings' sender
// address and name in place of the document's, as the main window shows
// them. When the settings hold no sender address, the document's own one is
// kept (a mail without a sender address would be refused or lost).
// False with `error` set (UTF-8) when the document cannot be read.
bool OpenSendDocument(const std::string& path, TAppSettings& settings, TOpenedDocument& out,
                      std::string& error);

// Writes the address book of `doc`, with the send states the job left in
// it, back into the document at `path`: version 3, through the document
// writer, which replaces the file only once the new one is whole. Refuses
// when the file changed on disk since it was read (someone saved it from
// the desktop application meanwhile), so no edit of theirs is lost.
bool SaveSendStates(const std::string& path, TOpenedDocument& doc, std::string& error);
