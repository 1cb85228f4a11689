// The real send of pelvane-send: the core's send job with an observer that
// answers on the terminal.

#include <condition_variable>
#include <mutex>

#include "SendRun.h"
#include "delivery/Debug.h"
#include "delivery/Mailsendthread.h"
#include "shell/Codec.h"
#include "shell/StringTable.h"

namespace {

int PolicyValue(TErrorPolicy policy) {
    switch (policy) {
        case TErrorPolicy::Continue:
            return kPolicyContinue;
        case TErrorPolicy::Ask:
            return kPolicyAsk;
        case TErrorPolicy::Terminate:
            return kPolicyTerminate;
    }
    return kPolicyContinue;
}

// Shows the job on the terminal: the status line becomes the progress bar's
// label, the questions of the error policy are asked on the terminal. Every
// call comes from the job's worker; the main thread only waits for the end.
class TConsoleSendObserver : public SendJobObserver {
public:
    explicit TConsoleSendObserver(TConsole& console) : console_(console) {}

    void SetOutcome(int) override {}
    void SetStatus(const std::string& text) override { console_.ProgressLabel(Cp932ToUtf8(text)); }
    void SetCounter(const std::string&) override {}
    void SetProgress(int minimum, int maximum, int position) override {
        console_.ProgressRange(maximum - minimum);
        console_.ProgressPosition(position - minimum);
    }
    MessageResult AskSkipMail(int, const std::string& text) override {
        return console_.Ask(LoadStr(4210), text, {MessageResult::Ok, MessageResult::Cancel},
                            MessageResult::Ok);
    }
    MessageResult AskRetryMail(int, int, const std::string& text) override {
        return console_.Ask(LoadStr(4210), text,
                            {MessageResult::Yes, MessageResult::No, MessageResult::Cancel},
                            MessageResult::Yes);
    }
    void ReconnectFailed(const std::string& text) override { console_.Message(LoadStr(4210), text); }
    void JobFinished(int) override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        done_.notify_all();
    }

    void WaitForEnd() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return finished_; });
    }

private:
    TConsole& console_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
};

}  // namespace

TSendTotals SendMails(TSendInput& input, TConsole& console, const std::atomic<bool>& cancel,
                      const std::function<void(std::function<void()>)>& registerCancel) {
    TSendTotals totals;
    const int total = SelectedCount(input.book);

    TSendJobOptions options;
    options.errorPolicy = PolicyValue(input.policy);
    options.secondsBetweenMails = input.secondsBetweenMails;
    options.minutesBeforeResend = input.minutesBeforeResend;
    options.mode = input.encode;
    options.multiAddressHeader = input.multiAddressHeader;
    options.logPath = input.logFile;
    SetLogPath(input.logFile);

    TMailSendThread job;
    job.SetServer(input.server);
    job.SetBody(input.body);
    job.SetHeaders(input.headers);
    job.SetAddressBook(input.book);
    job.SetAttachments(input.attachments);
    job.SetHtmlFiles(input.htmlFiles);
    job.SetTemplateName(input.templateName);
    job.SetScope(2);
    job.SetOptions(options);

    TConsoleSendObserver observer(console);
    console.ProgressStart(LoadStrUtf8(4300), total);
    if (cancel.load() || !job.Start(&observer)) {
        console.ProgressEnd();
        totals.notSent = total;
        totals.cancelled = true;
        return totals;
    }
    registerCancel([&job] { job.Cancel(); });
    observer.WaitForEnd();
    job.Wait();
    registerCancel({});
    console.ProgressEnd();

    job.CopyStatesBack(input.book);
    totals.sent = job.SentCount();
    totals.failed = job.FailedCount();
    totals.notSent = job.NotSentCount();
    const int outcome = job.Outcome();
    totals.cancelled = outcome == kSendOutcomeCancelled;
    // A connection that failed at the start tries no mail at all.
    totals.connectionFailed =
        outcome == kSendOutcomeFailed && totals.sent == 0 && totals.failed == 0 && totals.notSent > 0;
    if (totals.connectionFailed) {
        std::string why = Cp932ToUtf8(job.Net().LastErrorText());
        if (why.empty()) why = job.Net().FailureDetail();
        console.Error(std::string(LoadStrUtf8(4102)) + " (" + Cp932ToUtf8(input.server.smtpServer) +
                      (why.empty() ? "" : ": " + why) + ")");
    }
    return totals;
}
