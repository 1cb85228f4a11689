#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Mailcreate.h"
#include "delivery/Net.h"
#include "delivery/Serverinfo.h"
#include "shell/UiServices.h"

struct TAppSettings;

// Outcome of a send job, as the main window keeps it.
inline constexpr int kSendOutcomeNone = 0;       // no job has run (main window's reset value)
inline constexpr int kSendOutcomeRunning = 1;    // the job is running (every job that completes keeps it)
inline constexpr int kSendOutcomeFailed = 2;     // one or more mails failed, or the connection failed
inline constexpr int kSendOutcomeCancelled = 3;  // cancelled by the user or stopped by an error

// Error policy "SendContinue".
inline constexpr int kPolicyContinue = 2;   // 1 and 2: log the error, skip the mail, go on
inline constexpr int kPolicyAsk = 3;        // ask the user
inline constexpr int kPolicyTerminate = 4;  // stop the job

// Everything a send job shows. The worker calls these from its own thread;
// each call returns only when the UI has handled it (a GUI implementation
// runs it on its UI thread while the worker waits). Texts are CP932.
class SendJobObserver {
public:
    virtual ~SendJobObserver() = default;

    // The job's outcome value changed (kSendOutcome...).
    virtual void SetOutcome(int outcome) = 0;
    // The status line ("Connecting to SMTP server", "Standing by/Resume:...").
    virtual void SetStatus(const std::string& text) = 0;
    // The counter line ("3  / 10 ").
    virtual void SetCounter(const std::string& text) = 0;
    // The progress bar.
    virtual void SetProgress(int minimum, int maximum, int position) = 0;

    // Error policy 3, a mail that cannot be built (double-byte recipient):
    // caption 4210 "Transmission Error", `text` the filled 4213 text, OK and
    // Cancel. Ok skips the mail; Cancel stops the job.
    virtual MessageResult AskSkipMail(int mailNumber, const std::string& text) = 0;
    // Error policy 3, a mail that failed again after the reconnection:
    // caption 4210, `text` the filled 4211 text, Yes, No and Cancel. Yes
    // tries once more after reconnecting, No skips the mail, Cancel stops
    // the job.
    virtual MessageResult AskRetryMail(int mailNumber, int resultCode, const std::string& text) = 0;
    // A reconnection could not connect to the SMTP server: caption 4210,
    // `text` 4102 "Unable to connect to SMTP server.", OK.
    virtual void ReconnectFailed(const std::string& text) = 0;

    // The job has ended with `outcome`. This is the worker's last call for
    // the job; right after it returns the job is no longer running
    // (IsRunning() false) and the worker never touches this observer again.
    // A GUI implementation should hand it on without waiting (queued) and
    // call TMailSendThread::Wait() there before it reads the job's results.
    virtual void JobFinished(int outcome) = 0;
};

// Values the job reads from the settings while it runs.
struct TSendJobOptions {
    int errorPolicy = kPolicyContinue;  // "SendContinue"; a value other than 3 and 4 continues
    int secondsBetweenMails = 0;        // wait before every mail after the first
    int minutesBeforeResend = 0;        // wait after a mail that failed for good (policies 1, 2)
    int mode = 1;                       // character mode: 0 Japanese, 1 English
    int multiAddressHeader = 0;         // recipient entries after the first: 0 To, 1 Cc, 2 Bcc
    std::string logPath;                // empty: the send log's LogPath() (Paths().logFile by default)
};

// The job options of the settings object.
TSendJobOptions SendJobOptionsFrom(const TAppSettings& settings);

// The send job: one worker thread for the whole run, which waits between
// jobs and runs one job per Start(). It sends one merged mail per selected
// record of its copy of the address book, retries a failed mail once after
// reconnecting, applies the error policy, writes the send log and keeps
// each record's send state.
//
// Use from one thread (the UI thread): the setters, then Start(observer);
// while the job runs only Cancel(), IsRunning() and the observer's calls
// happen; after JobFinished (or IsRunning() false) Wait(), then the results
// and CopyStatesBack(). The job never reads the caller's data while it
// runs: every setter copies.
class TMailSendThread {
public:
    TMailSendThread();
    // Cancels a running job and joins the worker. The observer of a running
    // job must still be alive here (or detached with DetachObserver()).
    ~TMailSendThread();
    TMailSendThread(const TMailSendThread&) = delete;
    TMailSendThread& operator=(const TMailSendThread&) = delete;

    // ---- copies, before the start; each is ignored while a job runs ----

    void SetServer(const serverinfo& server);
    void SetBody(const std::vector<std::string>& lines);
    void SetHeaders(const TMailHeaderTexts& headers);
    // Count, field names, every record's values, send state and selected
    // flag; total := number of selected records.
    void SetAddressBook(const TPVDatabase& book);
    void SetAttachments(const std::vector<std::string>& paths);
    void SetHtmlFiles(const std::vector<std::string>& files);
    void SetTemplateName(const std::string& name);
    // 2: the selected records, the only scope there is; kept as given.
    void SetScope(int scope);
    void SetOptions(const TSendJobOptions& options);

    // ---- the job ----

    // Resumes the worker for one job reporting to `observer` (not null,
    // alive until JobFinished has returned). False, nothing started, when a
    // job is running.
    bool Start(SendJobObserver* observer);
    // From any thread, at any time: closes the connection under the worker
    // (a blocked connect, reply wait or DATA write returns at once), sets the
    // cancel flag and wakes every wait. The job then ends with outcome 3.
    // Does nothing when no job runs.
    void Cancel();
    // From Start() until the job has ended (after JobFinished returned).
    bool IsRunning() const;
    // Blocks until no job runs. Meant for after JobFinished (returns at
    // once then); never call it on a thread the observer needs while a job
    // runs.
    void Wait();
    // The observer of the running job gets no further calls. Blocks while
    // one of its calls is under way, so an observer that waits for another
    // thread must stop waiting first.
    void DetachObserver();

    // ---- results, valid when no job runs ----

    int Outcome() const;
    // Records this job sent (state 1).
    int SentCount() const;
    // Records this job tried and ended in an error (state 2).
    int FailedCount() const;
    // Selected records the job did not get to (state untouched).
    int NotSentCount() const;
    // Number of selected records of the copied address book.
    int Total() const;
    // The send states of records 0 .. count - 1.
    std::vector<int32_t> States() const;
    // Writes the send states of records 0 .. count - 1 into `book` (no
    // further than its own Count). Waits for a job that is just ending.
    void CopyStatesBack(TPVDatabase& book) const;

    // The delivery module (for tests and the command-line sender's time-outs).
    TNetModule& Net() { return net_; }

private:
    void WorkerLoop();
    void RunJob();
    // False when the job was cancelled or stopped by an error.
    bool SendAll();
    void SendOneMail(int j);
    void HandleSendFailure(int j, int code, int policy, bool& reconnect, bool& again, bool& retried);
    // At most two attempts; true when connected again.
    bool Reconnect(int j);
    // Shows status `statusId` + "/Resume:" + the resume time and waits
    // `seconds`, or until a cancel.
    void WaitFor(long long seconds, int statusId);
    void SetState(int j, int32_t state);
    bool Cancelled() const { return cancel_.load(); }

    // Worker-side observer calls (no call once detached).
    void NotifyOutcome(int outcome);
    void NotifyStatus(const std::string& text);
    void NotifyCounter(const std::string& text);
    void NotifyProgress(int minimum, int maximum, int position);
    MessageResult NotifyAskSkip(int mailNumber, const std::string& text);
    MessageResult NotifyAskRetry(int mailNumber, int code, const std::string& text);
    void NotifyReconnectFailed(const std::string& text);
    void Log(const std::string& text);

    // The copies.
    serverinfo server_;
    std::vector<std::string> body_;
    TMailHeaderTexts headers_;
    TPVDatabase book_;
    std::vector<std::string> attachments_;
    std::vector<std::string> htmlFiles_;
    std::string templateName_;
    int scope_ = 2;
    TSendJobOptions options_;
    std::string logPath_;

    // Job state (worker while running).
    int total_ = 0;
    int current_ = 0;
    int failures_ = 0;
    int outcome_ = kSendOutcomeNone;
    std::vector<uint8_t> tried_;
    std::atomic<bool> cancel_{false};

    TNetModule net_;

    // Worker control.
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;  // job start, cancel, stop
    mutable std::condition_variable idle_;  // job end
    bool running_ = false;
    bool pending_ = false;
    bool stop_ = false;

    std::mutex observerMutex_;
    SendJobObserver* observer_ = nullptr;

    std::thread worker_;
};

// The texts of the error-policy questions: 4213 with the mail number and
// the reason, 4211 with the mail number, the result code and the error text.
std::string FormatSkipQuestion(int mailNumber, const std::string& reason);
std::string FormatRetryQuestion(int mailNumber, int resultCode, const std::string& errorText);
