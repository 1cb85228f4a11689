#pragma once

#include <optional>
#include <string>

// The command line of pelvane-send. Texts are as given (file-system and
// terminal bytes); the caller converts what goes into mails.

enum class TErrorPolicy { Continue, Ask, Terminate };

struct TSendOptions {
    std::optional<std::string> smtp;  // HOST[:PORT]
    std::optional<std::string> pop;
    std::optional<std::string> user;
    std::optional<std::string> passwordEnv;  // name of the variable that holds the password
    std::optional<std::string> settingsFile;
    std::optional<int> encode;  // 0 Japanese, 1 English
    std::optional<TErrorPolicy> policy;
    std::optional<std::string> outbox;  // dry run into this folder
    std::optional<std::string> logFile;
    bool saveStates = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string document;
};

// Parses argv[1..]. False with `error` set (one line, no program name) on bad
// usage. After --help or --version nothing else is required.
bool ParseSendOptions(int argc, char** argv, TSendOptions& options, std::string& error);

// The --help text.
std::string SendUsageText();

// Whether a server text is "host", "host:port", "[v6]" or "[v6]:port" with a
// port of 1 to 65535, or a bare IPv6 address.
bool IsValidServerText(const std::string& server);
