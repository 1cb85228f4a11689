// The dry run of pelvane-send: the mails go into a folder instead of to a
// server. The totals and the error handling follow the send job, so that a
// dry run shows what the real send would do with the same document.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "SendRun.h"
#include "delivery/Debug.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "shell/StringTable.h"

int SelectedCount(const TPVDatabase& book) {
    int n = 0;
    for (int j = 0; j < book.Count; ++j) {
        if (book.Records[j].Selected) ++n;
    }
    return n;
}

int ExitStatusFor(const TSendTotals& t) {
    if (t.cancelled) return 3;
    if (t.connectionFailed || t.failed > 0) return 2;
    if (t.notSent > 0) return 3;
    return 0;
}

std::string SummaryLine(const TSendTotals& t) {
    return "sent " + std::to_string(t.sent) + ", failed " + std::to_string(t.failed) + ", not sent " +
           std::to_string(t.notSent);
}

bool PrepareOutbox(const std::string& folder, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create the outbox folder " + folder + ": " + ec.message();
        return false;
    }
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "the outbox " + folder + " is not a folder";
        return false;
    }
    // Only a real file shows that the folder takes files: permissions alone
    // say nothing for root or on a read-only mount.
    std::string probe = folder + (folder.back() == '/' ? "" : "/") + ".pelvane-send-XXXXXX";
    int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        error = "cannot write into the outbox folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

namespace {

std::string RecordFileName(int recordIndex) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.eml", recordIndex + 1);
    return name;
}

// What a failure of one mail does to the rest of the run, by the policy.
// Returns true when the run goes on.
bool AfterFailedMail(const TSendInput& input, TConsole& console, int recordIndex,
                     const std::string& whyCp932) {
    switch (input.policy) {
        case TErrorPolicy::Continue:
            return true;
        case TErrorPolicy::Terminate:
            return false;
        case TErrorPolicy::Ask: {
            char text[2048];
            std::snprintf(text, sizeof text, LoadStr(4213).c_str(), recordIndex + 1, whyCp932.c_str());
            MessageResult r = console.Ask(LoadStr(4210), text, {MessageResult::Ok, MessageResult::Cancel},
                                          MessageResult::Ok);
            return r != MessageResult::Cancel;
        }
    }
    return true;
}

}  // namespace

TSendTotals WriteOutbox(const TSendInput& input, const std::string& folderIn, TConsole& console,
                        const std::atomic<bool>& cancel) {
    const std::string folder = folderIn.back() == '/' ? folderIn : folderIn + "/";
    TSendTotals totals;
    const int total = SelectedCount(input.book);
    TNetModule net;
    net.SetAgent(LoadStr(901), LoadStr(902));
    // The Message-ID takes the server's host; a dry run may have none set.
    const std::string host =
        input.server.smtpServer.empty() ? std::string("localhost") : input.server.smtpServer;
    net.SetSmtpServer(host, input.server.userId, input.server.password);
    net.SetMode(input.encode);

    // A dry run writes a log only when one was asked for: the default log
    // belongs to the last real send.
    const bool logging = !input.logFile.empty();
    auto log = [&](const std::string& text) {
        if (logging) WriteLog(input.logFile, text);
    };
    if (logging) StartLog(input.logFile);

    console.ProgressStart("Writing mails", total);
    int current = 0;
    bool stopped = false;
    for (int j = 0; j < input.book.Count && !stopped; ++j) {
        if (!input.book.Records[j].Selected) continue;
        if (cancel.load()) {
            totals.cancelled = true;
            break;
        }
        ++current;
        const std::string name = RecordFileName(j);
        console.ProgressLabel(name);
        log(std::to_string(current) + "(" + std::to_string(j + 1) + ") " + LoadStr(4110));
        int built = BuildMergedMail(net, j, input.headers, true, input.templateName, input.htmlFiles,
                                    input.attachments, input.body, input.book, input.multiAddressHeader);
        if (built == kMailDoubleByteRecipient) {
            ++totals.failed;
            log(LoadStr(4106));
            console.Error("record " + std::to_string(j + 1) + ": " + LoadStrUtf8(4106));
            if (!AfterFailedMail(input, console, j, LoadStr(4106))) stopped = true;
        } else if (built != kMailReady) {
            // The HTML page is gone: no mail of this document can be made.
            ++totals.failed;
            log("The HTML page index.html of the mail cannot be read.");
            console.Error("record " + std::to_string(j + 1) +
                          ": the HTML page index.html of the mail cannot be read");
            stopped = true;
        } else {
            net.AddExtraHeader("X-Mailer", net.MailerName());
            std::string problem;
            if (net.CheckMessageFiles(&problem) != 0) {
                // The send job stops at a missing attachment; so does the dry run.
                ++totals.failed;
                log(LoadStr(4205) + "(" + problem + ")");
                console.Error("record " + std::to_string(j + 1) + ": " + LoadStrUtf8(4205) + "(" +
                              Cp932ToUtf8(problem) + ")");
                stopped = true;
            } else {
                // Written beside the final name first, so that an .eml file is
                // always a whole mail.
                const std::string part = folder + "." + name + ".part";
                TFileSink sink(part);
                int rc = sink.IsOpen() ? net.WriteMessage(sink, false, &problem) : kMessageSinkFailed;
                bool closed = sink.Close();
                if (rc == kMessageWritten && closed &&
                    std::rename(part.c_str(), (folder + name).c_str()) == 0) {
                    ++totals.sent;
                    log("Mail written to " + folder + name);
                } else {
                    const int saved = errno;
                    ::unlink(part.c_str());
                    ++totals.failed;
                    log("Mail could not be written to " + folder + name);
                    if (rc == kMessageFileUnreadable) {
                        console.Error("record " + std::to_string(j + 1) + ": " + LoadStrUtf8(4205) + "(" +
                                      Cp932ToUtf8(problem) + ")");
                    } else {
                        console.Error("cannot write " + folder + name + ": " +
                                      (problem.empty() ? std::strerror(saved) : Cp932ToUtf8(problem)));
                    }
                    stopped = true;
                }
            }
        }
        console.ProgressPosition(current);
    }
    console.ProgressEnd();
    totals.notSent = total - current;
    if (stopped) totals.cancelled = true;
    if (totals.cancelled) log(LoadStr(4113));
    return totals;
}
