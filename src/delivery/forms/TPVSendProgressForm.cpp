#include "delivery/forms/TPVSendProgressForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/QtCodec.h"

namespace {

constexpr int kWidth = 473;
constexpr int kHeight = 112;

}  // namespace

TPVSendProgressForm::TPVSendProgressForm(QWidget* owner, TMailSendThread* job)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint),
      job_(job) {
    setObjectName(QStringLiteral("TPVSendProgressForm"));
    setWindowTitle(QStringLiteral("Sending Mail"));
    setFixedSize(kWidth, kHeight);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addWidget(Label2);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    layout->addWidget(btnCancel, 0, Qt::AlignHCenter);

    connect(btnCancel, &QPushButton::clicked, this, &TPVSendProgressForm::btnCancelClick);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &TPVSendProgressForm::ApplicationStateChanged);
}

TPVSendProgressForm::~TPVSendProgressForm() {
    // A worker waiting for this window gets its fallback answer, and the job
    // stops calling it.
    {
        std::lock_guard lock(sync_->mutex);
        sync_->abandoned = true;
    }
    sync_->done.notify_all();
    if (job_ && jobRunning_) {
        job_->Cancel();
        job_->DetachObserver();
    }
}

void TPVSendProgressForm::SetJob(TMailSendThread* job) {
    if (!jobRunning_) job_ = job;
}

template <typename R, typename F>
R TPVSendProgressForm::OnUiThread(F f, R fallback) {
    if (QThread::currentThread() == thread()) return f();
    struct Call {
        bool done = false;
        R result;
    };
    auto call = std::make_shared<Call>();
    call->result = fallback;
    std::shared_ptr<TCallSync> sync = sync_;
    {
        std::lock_guard lock(sync->mutex);
        if (sync->abandoned) return fallback;
    }
    QMetaObject::invokeMethod(
        this,
        [sync, call, f]() {
            R r = f();
            {
                std::lock_guard lock(sync->mutex);
                call->result = r;
                call->done = true;
            }
            sync->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(sync->mutex);
    sync->done.wait(lock, [&] { return call->done || sync->abandoned; });
    return call->result;
}

// ---- observer ----

void TPVSendProgressForm::SetOutcome(int outcome) {
    OnUiThread(
        [this, outcome] {
            outcome_ = outcome;
            emit outcomeChanged(outcome);
            return true;
        },
        false);
}

void TPVSendProgressForm::SetStatus(const std::string& text) {
    OnUiThread(
        [this, text] {
            Label1->setText(FromCp932(text));
            emit statusChanged(Label1->text());
            return true;
        },
        false);
}

void TPVSendProgressForm::SetCounter(const std::string& text) {
    OnUiThread(
        [this, text] {
            Label2->setText(FromCp932(text));
            emit counterChanged(Label2->text());
            return true;
        },
        false);
}

void TPVSendProgressForm::SetProgress(int minimum, int maximum, int position) {
    OnUiThread(
        [this, minimum, maximum, position] {
            ProgressBar1->setRange(minimum, maximum);
            ProgressBar1->setValue(position);
            return true;
        },
        false);
}

MessageResult TPVSendProgressForm::AskSkipMail(int, const std::string& text) {
    // Without an answer the mail is not skipped silently: the job stops.
    return OnUiThread([text] { return AskOkCancel(LoadStr(4210), text); }, MessageResult::Cancel);
}

MessageResult TPVSendProgressForm::AskRetryMail(int, int, const std::string& text) {
    return OnUiThread([text] { return AskYesNoCancel(LoadStr(4210), text); }, MessageResult::Cancel);
}

void TPVSendProgressForm::ReconnectFailed(const std::string& text) {
    OnUiThread(
        [text] {
            ShowInfoMessage(LoadStr(4210), text);
            return true;
        },
        false);
}

void TPVSendProgressForm::JobFinished(int outcome) {
    // Not waited for: the worker puts the job down right after this call,
    // and the UI reads the results only then.
    QMetaObject::invokeMethod(
        this, [this, outcome] { FinishJob(outcome); }, Qt::QueuedConnection);
}

void TPVSendProgressForm::FinishJob(int outcome) {
    if (job_) job_->Wait();
    jobRunning_ = false;
    outcome_ = outcome;
    if (minimised_) RestoreAll();
    emit jobFinished(outcome);
}

// ---- window ----

void TPVSendProgressForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (firstShow_) {
        firstShow_ = false;
        FormShowFirst();
    }
}

void TPVSendProgressForm::FormShowFirst() {
    const bool started = job_ && job_->Start(this);
    jobRunning_ = started;
    emit jobStarted(started);
}

void TPVSendProgressForm::btnCancelClick() {
    if (job_ && jobRunning_) job_->Cancel();
}

void TPVSendProgressForm::closeEvent(QCloseEvent* event) {
    if (jobRunning_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TPVSendProgressForm::reject() {
    // Escape does not close the window while the job runs.
    if (!jobRunning_) QDialog::reject();
}

void TPVSendProgressForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized() && !minimised_)
        MinimiseAll();
    else if (!isMinimized() && minimised_)
        RestoreAll();
}

void TPVSendProgressForm::MinimiseAll() {
    minimised_ = true;
    hiddenWindows_.clear();
    QWidget* mainWindow = parentWidget() ? parentWidget()->window() : nullptr;
    // The field popup and the log window go out of sight with the main window.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || w == mainWindow || !w->isVisible()) continue;
        if (!(w->windowType() == Qt::Tool || w->windowType() == Qt::Window)) continue;
        hiddenWindows_.append(w);
        w->hide();
    }
    if (mainWindow) mainWindow->showMinimized();
}

void TPVSendProgressForm::RestoreAll() {
    minimised_ = false;
    QWidget* mainWindow = parentWidget() ? parentWidget()->window() : nullptr;
    if (mainWindow && mainWindow->isMinimized()) mainWindow->showNormal();
    for (const QPointer<QWidget>& w : hiddenWindows_) {
        if (w) w->show();
    }
    hiddenWindows_.clear();
    if (isMinimized()) showNormal();
    raise();
}

void TPVSendProgressForm::ApplicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive && minimised_) RestoreAll();
}
