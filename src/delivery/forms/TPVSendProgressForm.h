#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "delivery/Mailsendthread.h"

class QLabel;
class QProgressBar;
class QPushButton;

// The send progress window ("Sending Mail"): the counter line, the status
// line, the progress bar and "Cancel". It is the send job's observer: every
// call the worker makes runs on the UI thread while the worker waits, and
// the error-policy questions are message boxes of the UI services. Its first
// showing starts the job; it refuses to close while the job runs.
class TPVSendProgressForm : public QDialog, public SendJobObserver {
    Q_OBJECT

public:
    // `owner` is the main window; `job` may be given later with SetJob.
    explicit TPVSendProgressForm(QWidget* owner, TMailSendThread* job = nullptr);
    ~TPVSendProgressForm() override;

    void SetJob(TMailSendThread* job);
    // Between the first showing and the end of the job.
    bool JobRunning() const { return jobRunning_; }
    // The job's outcome as last reported (kSendOutcome...).
    int LastOutcome() const { return outcome_; }

    void btnCancelClick();

    // ---- SendJobObserver (called by the worker) ----
    void SetOutcome(int outcome) override;
    void SetStatus(const std::string& text) override;
    void SetCounter(const std::string& text) override;
    void SetProgress(int minimum, int maximum, int position) override;
    MessageResult AskSkipMail(int mailNumber, const std::string& text) override;
    MessageResult AskRetryMail(int mailNumber, int resultCode, const std::string& text) override;
    void ReconnectFailed(const std::string& text) override;
    void JobFinished(int outcome) override;

signals:
    // The first showing started the job (false: the job could not start).
    void jobStarted(bool started);
    // On the UI thread, after the window has shown it.
    void statusChanged(const QString& text);
    void counterChanged(const QString& text);
    void outcomeChanged(int outcome);
    // The job has ended and the worker waits for the next one: its results
    // and CopyStatesBack may be used now.
    void jobFinished(int outcome);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void reject() override;

private:
    void FormShowFirst();
    void FinishJob(int outcome);
    void MinimiseAll();
    void RestoreAll();
    void ApplicationStateChanged(Qt::ApplicationState state);

    // Runs `f` on the UI thread and returns its result; from the worker it
    // waits until the UI has run it, or returns `fallback` when the window
    // goes away first.
    template <typename R, typename F>
    R OnUiThread(F f, R fallback);

    TMailSendThread* job_ = nullptr;
    bool firstShow_ = true;
    bool jobRunning_ = false;
    bool minimised_ = false;
    int outcome_ = kSendOutcomeNone;
    QList<QPointer<QWidget>> hiddenWindows_;

    // Shared with the calls in flight, so that a call finishing on the UI
    // thread never needs the window itself.
    struct TCallSync {
        std::mutex mutex;
        std::condition_variable done;
        bool abandoned = false;
    };
    std::shared_ptr<TCallSync> sync_ = std::make_shared<TCallSync>();

    QLabel* Label2 = nullptr;  // counter line
    QLabel* Label1 = nullptr;  // status line
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* btnCancel = nullptr;
};
