#pragma once

#include <string>

// The server record handed to each send and preview. Texts are CP932.
struct serverinfo {
    std::string smtpServer;
    std::string popServer;
    std::string userId;
    std::string password;  // in clear; scrambled only where it is stored
    int authType = 0;      // carried from the settings; the connection decides for itself
};

// The six texts the server dialogs edit.
struct TServerTexts {
    std::string senderAddress;
    std::string senderName;
    std::string smtpServer;
    std::string popServer;
    std::string userId;
    std::string password;
    bool operator==(const TServerTexts&) const = default;
};
