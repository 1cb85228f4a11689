#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "ConsoleUi.h"
#include "Options.h"
#include "addressbook/Database.h"
#include "delivery/Mailcreate.h"
#include "delivery/Serverinfo.h"

// What one run of pelvane-send works from: copies of the mail and the
// address book, the server and the choices of the command line.
struct TSendInput {
    serverinfo server;
    TMailHeaderTexts headers;
    std::vector<std::string> body;
    std::vector<std::string> attachments;
    std::vector<std::string> htmlFiles;
    std::string templateName;
    TPVDatabase book;  // send states are updated here by a real send
    int encode = 1;    // 0 Japanese, 1 English
    TErrorPolicy policy = TErrorPolicy::Continue;
    int multiAddressHeader = 0;
    int secondsBetweenMails = 0;
    int minutesBeforeResend = 0;
    std::string logFile;
};

// How a run ended, counted over the selected records.
struct TSendTotals {
    int sent = 0;                   // accepted by the server, or written in a dry run
    int failed = 0;                 // ended in an error
    int notSent = 0;                // selected, but the job did not get to them
    bool cancelled = false;         // by the user, a signal or a terminating error
    bool connectionFailed = false;  // the SMTP server could not be reached at the start
};

int SelectedCount(const TPVDatabase& book);

// The exit status for `totals`: 0 all sent, 2 failures, 3 cancelled.
int ExitStatusFor(const TSendTotals& totals);

// "sent N, failed M, not sent K".
std::string SummaryLine(const TSendTotals& totals);

// Creates `folder` (and its parents) when missing and makes sure a file can
// be created in it. False with `error` (UTF-8) otherwise; nothing is left
// behind by the check.
bool PrepareOutbox(const std::string& folder, std::string& error);

// The dry run: every selected record's mail, exactly as the SMTP DATA would
// carry it but without the added periods, goes to folder/NNNN.eml (NNNN the
// 1-based record number). Nothing is sent and no send state changes.
TSendTotals WriteOutbox(const TSendInput& input, const std::string& folder, TConsole& console,
                        const std::atomic<bool>& cancel);

// The real send through the send job; the records' send states in
// `input.book` are updated. `cancel` is polled; `registerCancel` receives a
// function that cancels the running job from another thread (a signal).
TSendTotals SendMails(TSendInput& input, TConsole& console, const std::atomic<bool>& cancel,
                      const std::function<void(std::function<void()>)>& registerCancel);
