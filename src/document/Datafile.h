#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "addressbook/Database.h"

struct TAppSettings;
struct TMailDocument;

// The mail document file (".pvd") and, in its oldest version, the text
// template file (".pvt"): big-endian, versions 1 ("mlDA"), 2 ("mlDB") and
// 3 ("mlDC"). Version 3 carries the compose texts, the body, the address
// book's 20 field names and its records with flag and send state, the
// attachment list, the timer settings and the HTML mail's files packed with
// zlib. Texts are CP932 bytes, never converted.
//
// One instance serves one load or one save; the caller copies what it needs
// in or out (the Take/Give helpers below do that for the two callers).
class TPVDataFile {
public:
    static constexpr int TemplateVersion = 1;  // what text templates are written in
    static constexpr int DocumentVersion = 3;  // what mail documents are written in

    bool MacHeader = false;  // the data of the last file read started at byte 128
    int Version = 0;         // version found by the last probe; 0 = not a document

    std::string FromAddress;
    std::string FromName;
    std::string Subject;
    std::string RecipientField;  // placeholder of the recipient's field, brackets included

    // Project server texts, carried from open to save and never used for sending.
    std::string ServerSmtp;
    std::string ServerPop;
    std::string ServerUserId;
    std::string ServerPassword;  // in clear here; scrambled in a version-3 file

    TPVDatabase AddressBook;  // 20 field names (empty after construction) and the records
    std::vector<std::string> Body;
    std::vector<std::string> Attachments;  // full paths
    std::string HtmlTemplateName;          // empty: the mail has no HTML part

    // The application's timer settings as a version-3 file stores them.
    bool TimerOn = false;
    bool TimerSetDate = false;
    int TimerHeaderTime = 0;  // 0 or 1
    std::time_t TimerStart = 0;

    int LoadedVersion = 0;  // version of the last file read successfully
    std::string LastError;  // why the last Load or Save failed (CP932)

    TPVDataFile();

    // Reads a document or template of any version. Returns false, and leaves
    // every member but `Version` and `LastError` as it was, when the file
    // cannot be read, is not a document, or its header, texts or settings
    // block are not whole; the preview folders are then not touched either.
    // The caller then shows "Load" / "Could not load data.".
    //
    // Otherwise, for versions 2 and 3: both preview folders are emptied and
    // the packed files are written into the main preview folder. Version 1
    // has no files, so the folders stay as they are (selecting a text
    // template keeps the current mail's HTML files). The attachment list,
    // the files and the records load as far as they are whole; a damaged
    // later section never makes the load fail. A stored file name that is
    // empty, ".", "..", or holds "/" or a single-byte "\" is skipped.
    bool Load(const std::string& path);

    // Writes the members in version 1 (texts, field names 1 to 10 and the
    // server texts with the password in clear) or version 3 (everything; the
    // files of the main preview folder are packed when `HtmlTemplateName` is
    // not empty). The file is written to a temporary file beside it, flushed
    // to disk and renamed over the old one, so the old document stays whole
    // until the new one is. Returns false, having told the user through the
    // general error display, when nothing was saved: the file cannot be
    // created or written, a preview file cannot be read, or a text does not
    // fit its field (a header text or a version-1 body over 32,767 bytes, an
    // attachment path or a packed file's name over 255 bytes). Field names
    // and server texts are cut to 255 bytes, as the format has always done.
    bool Save(const std::string& path, int version);

    // Fills this instance for `Save(path, DocumentVersion)`: compose texts,
    // body, attachments, HTML template name, project server texts, a copy of
    // `book` and the timer settings of `settings`.
    void TakeDocument(const TMailDocument& doc, const TPVDatabase& book, const TAppSettings& settings);

    // Fills this instance for `Save(path, TemplateVersion)`: the field names
    // of `book` and the five compose texts; server texts stay empty.
    void TakeTemplate(const TMailDocument& doc, const TPVDatabase& book);

    // Hands a loaded document to the main window: `book` becomes a copy of
    // `AddressBook`, `doc` takes the texts, body, attachments, server texts
    // and HTML template name, its HTML file list becomes the files now in the
    // main preview folder, and a version-3 file's timer replaces the one in
    // `settings`. After a version-1 file, which has no HTML part, both
    // preview folders are emptied first. Path and flags of `doc` stay.
    void GiveDocument(TMailDocument& doc, TPVDatabase& book, TAppSettings& settings) const;

    // Hands a loaded text template over: all 20 field names into `book`
    // (records untouched) and the five compose texts into `doc`.
    void GiveTemplate(TMailDocument& doc, TPVDatabase& book) const;
};
