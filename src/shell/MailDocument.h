#pragma once

#include <string>
#include <vector>

// The mail document the main window holds. Texts are CP932.
struct TMailDocument {
    std::string path;           // empty for an untitled document
    std::string senderAddress;
    std::string senderName;
    std::string subject;
    std::string recipient;      // placeholder of the address field, brackets included
    std::vector<std::string> body;
    std::vector<std::string> attachments;  // full paths, in the order added
    std::string htmlTemplateName;          // empty: no HTML part
    std::vector<std::string> htmlFiles;    // bare names; the files lie in the main preview folder
    // Server texts a document file carries from open to save; nothing shows them.
    std::string projectSmtpServer;
    std::string projectPopServer;
    std::string projectUserId;
    std::string projectPassword;

    bool modified = false;
    bool addressBookModified = false;
};
