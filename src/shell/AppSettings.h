#pragma once

#include <ctime>
#include <string>

// The application-wide settings: the "SETUP" values of the settings file,
// the values every start fixes, and the timer settings a document carries.
// Texts are CP932 bytes; the password is held in clear.
struct TAppSettings {
    // Stored under "SETUP".
    std::string name;
    std::string from;
    std::string smtpServer;
    std::string popServer;
    std::string userId;
    std::string password;
    int authType = 1;      // 0 none, 1 POP before SMTP, 2 SMTP AUTH LOGIN
    int encode = 1;        // 0 Japanese (ISO-2022-JP), 1 English (us-ascii); other values kept as they are
    int sendContinue = 2;  // 1 or 2 continue, 3 ask, 4 terminate
    int toolbar = 0;       // 0 shows the main toolbar, any other value hides it
    int ui = 0;            // 1: address-book editor with its button panel
    std::string fontName = "Courier";
    int fontSize = 12;
    std::string fontStyle;  // never stored; always empty at start
    bool startShortcut = true;
    bool firstRun = true;
    std::string defaultAddrBook;

    // Not stored; every start sets these.
    bool proMode = true;
    bool logWindowHidden = true;
    int secondsBetweenMails = 0;
    int minutesBeforeResend = 0;
    int multiAddressHeader = 0;  // 0 To, 1 Cc, 2 Bcc

    // Timer settings, carried by mail documents.
    bool timerOn = false;
    bool timerSetDate = false;
    int timerHeaderTime = 0;  // 0 "Timer setting", 1 "Actual transmission time"
    std::time_t timerStart = 0;
};

// Reads the "SETUP" section of `path`; a missing or unreadable file gives
// every default. The per-run values take their start values.
TAppSettings LoadSettingsFile(const std::string& path);

// Writes "IniVersion" 3000 and then every "SETUP" value in its fixed order,
// "FirstRun" always as 0. Returns false when a value could not be written.
bool SaveSettingsFile(const std::string& path, const TAppSettings& s);
