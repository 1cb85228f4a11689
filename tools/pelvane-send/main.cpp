// pelvane-send: sends the mails of a saved Pelvane document from the command
// line, or writes them into a folder (a dry run).
//
//   pelvane-send [options] DOCUMENT.pvd
//
// The document is opened as the desktop application opens it; the mails are
// made by the same mail creator and sent by the same send job. The last line
// on standard output is "sent N, failed M, not sent K".

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ConsoleUi.h"
#include "Options.h"
#include "SendRun.h"
#include "SignalWatcher.h"
#include "Workspace.h"
#include "shell/AppSettings.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"

namespace {

constexpr int kExitUsage = 1;

// The workspace of this run; the watcher removes it when a second signal
// ends the process at once.
TPrivateWorkspace gWorkspace;

void RemoveWorkspaceNow() { gWorkspace.Remove(); }

// The console services refer to the run's console; they go before it does.
struct TUiServicesGuard {
    ~TUiServicesGuard() { SetUiServices(nullptr); }
};

int UsageError(const std::string& text) {
    std::fprintf(stderr, "pelvane-send: %s\nTry 'pelvane-send --help' for more information.\n", text.c_str());
    return kExitUsage;
}

TErrorPolicy PolicyFromSetting(int sendContinue, bool stdinIsTerminal) {
    if (sendContinue == 4) return TErrorPolicy::Terminate;
    // A dialog needs someone to answer it; without a terminal the job goes on.
    if (sendContinue == 3) return stdinIsTerminal ? TErrorPolicy::Ask : TErrorPolicy::Continue;
    return TErrorPolicy::Continue;
}

// Whether `text` is well-formed UTF-8 (what a terminal and the environment
// normally hold).
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        if (c < 0x80)
            n = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if ((c & 0xF0) == 0xE0)
            n = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3;
        else
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += n + 1;
    }
    return true;
}

// A text from the command line or the environment as the core holds texts:
// UTF-8 is converted to CP932; anything else is taken as CP932 already.
std::string CoreText(const std::string& text) { return IsUtf8(text) ? Utf8ToCp932(text) : text; }

bool SameStates(const TPVDatabase& a, const TPVDatabase& b) {
    if (a.Count != b.Count) return false;
    for (int j = 0; j < a.Count; ++j) {
        if (a.Records[j].SendState != b.Records[j].SendState) return false;
    }
    return true;
}

int Run(int argc, char** argv, TSignalWatcher& signals) {
    TSendOptions o;
    std::string error;
    if (!ParseSendOptions(argc, argv, o, error)) return UsageError(error);
    if (o.help) {
        std::fputs(SendUsageText().c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("pelvane-send (%s) %s\n", LoadStrUtf8(901), LoadStrUtf8(902));
        return 0;
    }

    TConsole console(o.quiet, &signals.Cancelled());
    SetUiServices(std::make_shared<TConsoleUiServices>(console));
    TUiServicesGuard uiGuard;

    AppPaths paths = ComputeSendPaths();
    std::string settingsFile = paths.settingsFile;
    if (o.settingsFile) {
        settingsFile = *o.settingsFile;
        if (!FileExists(settingsFile))
            return UsageError("the settings file " + settingsFile + " does not exist");
    }
    TAppSettings settings = LoadSettingsFile(settingsFile);
    if (o.smtp) settings.smtpServer = CoreText(*o.smtp);
    if (o.pop) settings.popServer = CoreText(*o.pop);
    if (o.user) settings.userId = CoreText(*o.user);
    if (o.passwordEnv) {
        const char* value = std::getenv(o.passwordEnv->c_str());
        if (!value) return UsageError("the environment variable " + *o.passwordEnv + " is not set");
        settings.password = CoreText(value);
    }
    if (o.encode) settings.encode = *o.encode;
    const TErrorPolicy policy =
        o.policy ? *o.policy : PolicyFromSetting(settings.sendContinue, console.StdinIsTerminal());
    const bool dryRun = o.outbox.has_value();
    if (!dryRun && settings.smtpServer.empty()) {
        return UsageError("no SMTP server: give --smtp HOST[:PORT] or set SMTPServer in " + settingsFile);
    }

    if (!gWorkspace.Create(paths, static_cast<unsigned>(::getuid()), error)) {
        console.Error(error);
        return kExitUsage;
    }

    TOpenedDocument doc;
    if (!OpenSendDocument(o.document, settings, doc, error)) {
        console.Error(error);
        return kExitUsage;
    }
    if (SelectedCount(doc.book) == 0) {
        console.Message(LoadStr(4000), LoadStr(4015));
        return kExitUsage;
    }

    TSendInput input;
    input.server.smtpServer = settings.smtpServer;
    input.server.popServer = settings.popServer;
    input.server.userId = settings.userId;
    input.server.password = settings.password;
    input.server.authType = settings.authType;
    input.headers = {doc.document.senderAddress, doc.document.senderName, doc.document.subject,
                     doc.document.recipient};
    input.body = doc.document.body;
    input.attachments = doc.document.attachments;
    input.htmlFiles = doc.document.htmlFiles;
    input.templateName = doc.document.htmlTemplateName;
    input.book = doc.book;
    input.encode = settings.encode;
    input.policy = policy;
    input.multiAddressHeader = settings.multiAddressHeader;
    input.secondsBetweenMails = settings.secondsBetweenMails;
    input.minutesBeforeResend = settings.minutesBeforeResend;

    TSendTotals totals;
    int status = 0;
    if (dryRun) {
        if (!PrepareOutbox(*o.outbox, error)) {
            console.Error(error);
            return kExitUsage;
        }
        input.logFile = o.logFile.value_or("");
        totals = WriteOutbox(input, *o.outbox, console, signals.Cancelled());
        status = ExitStatusFor(totals);
        if (o.saveStates) {
            console.Note(
                "a dry run sends nothing; the send states in the document were left as "
                "they were");
        }
    } else {
        input.logFile = o.logFile.value_or(paths.logFile);
        const TPVDatabase before = input.book;
        totals = SendMails(input, console, signals.Cancelled(), [&signals](std::function<void()> action) {
            signals.SetCancelAction(std::move(action));
        });
        status = ExitStatusFor(totals);
        if (status == 0)
            console.Note(LoadStrUtf8(4400));
        else
            console.Note(std::string(LoadStrUtf8(status == 3 ? 4402 : 4401)) + " (" + input.logFile + ")");
        if (o.saveStates && !SameStates(before, input.book)) {
            doc.book = input.book;
            if (!SaveSendStates(o.document, doc, error)) {
                console.Error(error);
                // The mails went out, but the document does not know: not a success.
                if (status == 0) status = 2;
            }
        }
    }
    std::printf("%s\n", SummaryLine(totals).c_str());
    std::fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A server or a reader of our output that goes away must not kill the
    // process half-way through a write.
    ::signal(SIGPIPE, SIG_IGN);
    TSignalWatcher signals(RemoveWorkspaceNow);
    int status = Run(argc, argv, signals);
    gWorkspace.Remove();
    return status;
}
