// Sends a few plain mails through TNetModule over one SMTP connection, for
// the interoperability checks against real servers.
//
//   smtp_send_sample --smtp HOST[:PORT] --user USER --password PASSWORD
//                    [--pop HOST[:PORT]] [--timeout SECONDS] [--log PATH]
//                    --from ADDRESS [--from-name NAME] --to ADDRESS
//                    --mail ja|en SUBJECT BODY [--mail ...]
//
// Texts are UTF-8 on the command line; BODY lines are separated by "\n"
// (backslash, n). With --pop the POP3 login comes first (POP before SMTP).
// Prints one line per step ("pop ok", "connected kind=2", "sent 1", "failed
// 2 code=550 text=...") and exits 0 when every mail was sent.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/Coder.h"
#include "delivery/Debug.h"
#include "delivery/Locale.h"
#include "delivery/Net.h"
#include "shell/Codec.h"
#include "shell/StringTable.h"

namespace {

struct Mail {
    int mode = 1;
    std::string subject;
    std::vector<std::string> body;
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            lines.emplace_back();
            ++i;
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: smtp_send_sample --smtp HOST[:PORT] --user USER --password PASSWORD [--pop HOST[:PORT]]\n"
        "       [--timeout SECONDS] [--log PATH] --from ADDRESS [--from-name NAME] --to ADDRESS\n"
        "       --mail ja|en SUBJECT BODY [--mail ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string smtp, pop, user, password, from, fromName, to, log;
    int timeout = 30;
    std::vector<Mail> mails;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--smtp")
            ok = value(smtp);
        else if (arg == "--pop")
            ok = value(pop);
        else if (arg == "--user")
            ok = value(user);
        else if (arg == "--password")
            ok = value(password);
        else if (arg == "--from")
            ok = value(from);
        else if (arg == "--from-name")
            ok = value(fromName);
        else if (arg == "--to")
            ok = value(to);
        else if (arg == "--log")
            ok = value(log);
        else if (arg == "--timeout") {
            std::string t;
            ok = value(t);
            timeout = std::atoi(t.c_str());
        } else if (arg == "--mail" && i + 3 < argc) {
            Mail m;
            m.mode = std::string(argv[i + 1]) == "ja" ? 0 : 1;
            m.subject = Utf8ToCp932(argv[i + 2]);
            for (const std::string& line : SplitLines(argv[i + 3])) m.body.push_back(Utf8ToCp932(line));
            mails.push_back(std::move(m));
            i += 3;
        } else {
            ok = false;
        }
        if (!ok) return Usage();
    }
    if (smtp.empty() || from.empty() || to.empty() || mails.empty() || timeout <= 0) return Usage();

    if (!log.empty()) {
        SetLogPath(log);
        StartLog();
    }
    auto logLine = [&](const std::string& text) {
        if (!log.empty()) WriteLog(text);
    };

    TNetModule net;
    const std::chrono::seconds limit(timeout);
    net.SetTimeouts(limit, limit, limit);
    net.SetAgent(LoadStr(901), LoadStr(902));
    net.SetSmtpServer(smtp, user, password);
    net.SetPopServer(pop, user, password);
    net.SetHeaderCharset(HeaderCharsetFor(TPlatformLanguage::Japanese));

    if (!pop.empty()) {
        if (!net.PopLogin()) {
            std::printf("pop failed text=%s\n", Cp932ToUtf8(net.LastErrorText()).c_str());
            logLine(LoadStr(4109));
            return 1;
        }
        net.PopDisconnect();
        std::printf("pop ok\n");
        logLine(LoadStr(4108));
    }
    if (!net.ConnectSmtp()) {
        std::printf("connect failed text=%s\n", Cp932ToUtf8(net.LastErrorText()).c_str());
        logLine(LoadStr(4102));
        return 1;
    }
    std::printf("connected kind=%d\n", net.AuthKind());
    logLine(LoadStr(4101) + " ( " + smtp + " / " + std::to_string(net.AuthKind()) + " )");

    int failures = 0;
    for (std::size_t n = 0; n < mails.size(); ++n) {
        const Mail& m = mails[n];
        const TClockTime t = ClockNow();
        net.SetMode(m.mode);
        net.ResetMessage();
        net.SetSender(from, Utf8ToCp932(fromName));
        net.SetSubject(m.subject);
        net.AddRecipient(TRecipientKind::To, to);
        net.MakeMessageId(t);
        net.SetMessageDate(t);
        net.SetPlainBody(m.body);
        int code = 0;
        if (net.SendMessage(&code)) {
            std::printf("sent %zu\n", n + 1);
            logLine(LoadStr(4114));
        } else {
            ++failures;
            std::printf("failed %zu code=%d text=%s detail=%s\n", n + 1, code,
                        Cp932ToUtf8(net.LastErrorText()).c_str(), net.FailureDetail().c_str());
            logLine(LoadStr(4111) + " ( " + std::to_string(code) + " )");
            if (!net.IsSmtpConnected()) break;
        }
    }
    net.DisconnectSmtp();
    std::printf("done failures=%d\n", failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
