#include "Options.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

bool IsPort(std::string_view text) {
    if (text.empty() || text.size() > 5) return false;
    long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool HasBlankOrControl(std::string_view text) {
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace

bool IsValidServerText(const std::string& server) {
    if (server.empty() || HasBlankOrControl(server)) return false;
    if (server[0] == '[') {
        std::size_t close = server.find(']');
        if (close == std::string::npos || close == 1) return false;
        if (close + 1 == server.size()) return true;
        return server[close + 1] == ':' && IsPort(std::string_view(server).substr(close + 2));
    }
    std::size_t colon = server.find(':');
    if (colon == std::string::npos) return true;
    if (server.find(':', colon + 1) != std::string::npos) return true;  // a bare IPv6 address
    return colon > 0 && IsPort(std::string_view(server).substr(colon + 1));
}

std::string SendUsageText() {
    return "Usage: pelvane-send [options] DOCUMENT.pvd\n"
           "\n"
           "Sends one personalised mail to every selected record of a saved Pelvane\n"
           "document, or writes the mails to a folder instead (--outbox).\n"
           "\n"
           "Options:\n"
           "  --smtp HOST[:PORT]     outgoing server (default: the settings' SMTPServer)\n"
           "  --pop HOST[:PORT]      POP3 server for POP before SMTP (default: POPServer)\n"
           "  --user ID              account name (default: UserID)\n"
           "  --password-env NAME    read the password from environment variable NAME\n"
           "                         (default: the settings' Password)\n"
           "  --settings FILE        settings file to read instead of the per-user one\n"
           "  --japanese             send in Japanese mode (ISO-2022-JP)\n"
           "  --english              send in English mode (us-ascii)\n"
           "                         (default: the settings' Encode)\n"
           "  --policy continue|terminate\n"
           "                         what a failed mail does to the rest of the job\n"
           "                         (default: the settings' SendContinue; \"ask\" there asks\n"
           "                         on the terminal, or continues without one)\n"
           "  --outbox DIR           dry run: send nothing, write each selected record's\n"
           "                         mail to DIR/NNNN.eml (NNNN = record number)\n"
           "  --log FILE             send log (default: log.txt in the data folder)\n"
           "  --save-states          write the records' send states back into the document\n"
           "                         (not in a dry run)\n"
           "  -q, --quiet            no progress bar and no notes on standard error\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "The last line on standard output reads \"sent N, failed M, not sent K\".\n"
           "Exit status: 0 every selected record sent, 1 bad usage or unreadable document,\n"
           "2 some mails failed or the connection failed, 3 cancelled or terminated.\n";
}

bool ParseSendOptions(int argc, char** argv, TSendOptions& o, std::string& error) {
    bool optionsEnded = false;
    int documents = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            ++documents;
            o.document = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" and "--name value" both work for options with a value.
        std::string name = arg, inlineValue;
        bool hasInline = false;
        if (arg.compare(0, 2, "--") == 0) {
            std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
                hasInline = true;
            }
        }
        auto value = [&](std::string& out) {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto flag = [&]() {
            if (!hasInline) return true;
            error = "option " + name + " takes no value";
            return false;
        };
        std::string v;
        if (name == "--smtp" || name == "--pop") {
            if (!value(v)) return false;
            if (!IsValidServerText(v)) {
                error = "option " + name + ": \"" + v + "\" is not HOST or HOST:PORT (port 1 to 65535)";
                return false;
            }
            (name == "--smtp" ? o.smtp : o.pop) = v;
        } else if (name == "--user") {
            if (!value(v)) return false;
            o.user = v;
        } else if (name == "--password-env") {
            if (!value(v)) return false;
            if (v.empty()) {
                error = "option --password-env needs the name of an environment variable";
                return false;
            }
            o.passwordEnv = v;
        } else if (name == "--settings") {
            if (!value(v)) return false;
            o.settingsFile = v;
        } else if (name == "--japanese" || name == "--english") {
            if (!flag()) return false;
            int mode = name == "--japanese" ? 0 : 1;
            if (o.encode && *o.encode != mode) {
                error = "options --japanese and --english exclude each other";
                return false;
            }
            o.encode = mode;
        } else if (name == "--policy") {
            if (!value(v)) return false;
            if (v == "continue")
                o.policy = TErrorPolicy::Continue;
            else if (v == "terminate")
                o.policy = TErrorPolicy::Terminate;
            else {
                error = "option --policy: \"" + v + "\" is neither continue nor terminate";
                return false;
            }
        } else if (name == "--outbox") {
            if (!value(v)) return false;
            if (v.empty()) {
                error = "option --outbox needs a folder";
                return false;
            }
            o.outbox = v;
        } else if (name == "--log") {
            if (!value(v)) return false;
            if (v.empty()) {
                error = "option --log needs a file name";
                return false;
            }
            o.logFile = v;
        } else if (name == "--save-states") {
            if (!flag()) return false;
            o.saveStates = true;
        } else if (name == "-q" || name == "--quiet") {
            if (!flag()) return false;
            o.quiet = true;
        } else if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (o.help || o.version) return true;
    if (documents == 0) {
        error = "no document given";
        return false;
    }
    if (documents > 1) {
        error = "only one document can be sent at a time";
        return false;
    }
    return true;
}
