#include "delivery/Mailsendthread.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <initializer_list>

#include "delivery/Clock.h"
#include "delivery/Debug.h"
#include "shell/AppSettings.h"
#include "shell/Codec.h"
#include "shell/StringTable.h"

namespace {

// `format` with each "%d" or "%s", in order, replaced by the next argument.
std::string FillPlaceholders(const std::string& format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 'd' || format[i + 1] == 's') &&
            next != args.end()) {
            out += *next++;
            i += 2;
            continue;
        }
        const std::size_t len = SjisCharLen(format, i);
        out.append(format, i, len);
        i += len;
    }
    return out;
}

// The module's error text on one line: every single-byte CR or LF becomes a blank.
std::string OneLine(const std::string& text) {
    std::string out = text;
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t len = SjisCharLen(out, i);
        if (len == 1 && (out[i] == '\r' || out[i] == '\n')) out[i] = ' ';
        i += len;
    }
    return out;
}

// `t` moved on by `seconds`, calendar carried (the fields are local time;
// the arithmetic is done as if they were UTC so no zone rule interferes).
TClockTime AddSeconds(const TClockTime& t, long long seconds) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    const std::time_t moved = timegm(&tm) + static_cast<std::time_t>(seconds);
    std::tm out{};
    gmtime_r(&moved, &out);
    TClockTime r = t;
    r.year = out.tm_year + 1900;
    r.month = out.tm_mon + 1;
    r.day = out.tm_mday;
    r.hour = out.tm_hour;
    r.minute = out.tm_min;
    r.second = out.tm_sec;
    r.weekday = out.tm_wday;
    return r;
}

}  // namespace

TSendJobOptions SendJobOptionsFrom(const TAppSettings& settings) {
    TSendJobOptions o;
    o.errorPolicy = settings.sendContinue;
    o.secondsBetweenMails = settings.secondsBetweenMails;
    o.minutesBeforeResend = settings.minutesBeforeResend;
    o.mode = settings.encode;
    o.multiAddressHeader = settings.multiAddressHeader;
    return o;
}

std::string FormatSkipQuestion(int mailNumber, const std::string& reason) {
    return FillPlaceholders(LoadStr(4213), {std::to_string(mailNumber), reason});
}

std::string FormatRetryQuestion(int mailNumber, int resultCode, const std::string& errorText) {
    return FillPlaceholders(LoadStr(4211),
                            {std::to_string(mailNumber), std::to_string(resultCode), errorText});
}

TMailSendThread::TMailSendThread() : worker_(&TMailSendThread::WorkerLoop, this) {}

TMailSendThread::~TMailSendThread() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    Cancel();
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

// ---- copies ----

void TMailSendThread::SetServer(const serverinfo& server) {
    if (!IsRunning()) server_ = server;
}

void TMailSendThread::SetBody(const std::vector<std::string>& lines) {
    if (!IsRunning()) body_ = lines;
}

void TMailSendThread::SetHeaders(const TMailHeaderTexts& headers) {
    if (!IsRunning()) headers_ = headers;
}

void TMailSendThread::SetAddressBook(const TPVDatabase& book) {
    if (IsRunning()) return;
    book_.CopyFrom(book);
    total_ = 0;
    for (int i = 0; i < book_.Count; ++i) {
        if (book_.Records[i].Selected) ++total_;
    }
    tried_.assign(book_.Count, 0);
}

void TMailSendThread::SetAttachments(const std::vector<std::string>& paths) {
    if (!IsRunning()) attachments_ = paths;
}

void TMailSendThread::SetHtmlFiles(const std::vector<std::string>& files) {
    if (!IsRunning()) htmlFiles_ = files;
}

void TMailSendThread::SetTemplateName(const std::string& name) {
    if (!IsRunning()) templateName_ = name;
}

void TMailSendThread::SetScope(int scope) {
    if (!IsRunning()) scope_ = scope;
}

void TMailSendThread::SetOptions(const TSendJobOptions& options) {
    if (!IsRunning()) options_ = options;
}

// ---- control ----

bool TMailSendThread::Start(SendJobObserver* observer) {
    if (!observer) return false;
    std::lock_guard lock(mutex_);
    if (running_ || stop_) return false;
    {
        std::lock_guard obs(observerMutex_);
        observer_ = observer;
    }
    // Cleared here, not on the worker: a Cancel() that follows Start() at
    // once must not be undone by the worker starting up.
    cancel_ = false;
    net_.ResetCancel();
    outcome_ = kSendOutcomeRunning;
    failures_ = 0;
    current_ = 0;
    tried_.assign(book_.Count, 0);
    logPath_ = options_.logPath.empty() ? LogPath() : options_.logPath;
    running_ = true;
    pending_ = true;
    wake_.notify_all();
    return true;
}

void TMailSendThread::Cancel() {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    cancel_ = true;
    net_.Cancel();
    wake_.notify_all();
}

bool TMailSendThread::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void TMailSendThread::Wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
}

void TMailSendThread::DetachObserver() {
    std::lock_guard obs(observerMutex_);
    observer_ = nullptr;
}

void TMailSendThread::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || stop_; });
        if (stop_) {
            pending_ = false;
            running_ = false;
            idle_.notify_all();
            return;
        }
        pending_ = false;
        lock.unlock();
        RunJob();
        {
            std::lock_guard obs(observerMutex_);
            if (observer_) observer_->JobFinished(outcome_);
            observer_ = nullptr;
        }
        lock.lock();
        running_ = false;
        idle_.notify_all();
    }
}

// ---- results ----

int TMailSendThread::Outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

int TMailSendThread::SentCount() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (int i = 0; i < book_.Count && i < static_cast<int>(tried_.size()); ++i) {
        if (tried_[i] && book_.Records[i].SendState == TPVDatabase::SendCompleted) ++n;
    }
    return n;
}

int TMailSendThread::FailedCount() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (int i = 0; i < book_.Count && i < static_cast<int>(tried_.size()); ++i) {
        if (tried_[i] && book_.Records[i].SendState != TPVDatabase::SendCompleted) ++n;
    }
    return n;
}

int TMailSendThread::NotSentCount() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (int i = 0; i < book_.Count; ++i) {
        const bool tried = i < static_cast<int>(tried_.size()) && tried_[i];
        if (book_.Records[i].Selected && !tried) ++n;
    }
    return n;
}

int TMailSendThread::Total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::vector<int32_t> TMailSendThread::States() const {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> states;
    states.reserve(book_.Count);
    for (int i = 0; i < book_.Count; ++i) states.push_back(book_.Records[i].SendState);
    return states;
}

void TMailSendThread::CopyStatesBack(TPVDatabase& book) const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
    const int n = std::min({book_.Count, book.Count, static_cast<int>(book.Records.size())});
    for (int i = 0; i < n; ++i) book.Records[i].SendState = book_.Records[i].SendState;
}

// ---- observer calls (worker) ----

void TMailSendThread::NotifyOutcome(int outcome) {
    {
        std::lock_guard lock(mutex_);
        outcome_ = outcome;
    }
    std::lock_guard obs(observerMutex_);
    if (observer_) observer_->SetOutcome(outcome);
}

void TMailSendThread::NotifyStatus(const std::string& text) {
    std::lock_guard obs(observerMutex_);
    if (observer_) observer_->SetStatus(text);
}

void TMailSendThread::NotifyCounter(const std::string& text) {
    std::lock_guard obs(observerMutex_);
    if (observer_) observer_->SetCounter(text);
}

void TMailSendThread::NotifyProgress(int minimum, int maximum, int position) {
    std::lock_guard obs(observerMutex_);
    if (observer_) observer_->SetProgress(minimum, maximum, position);
}

MessageResult TMailSendThread::NotifyAskSkip(int mailNumber, const std::string& text) {
    std::lock_guard obs(observerMutex_);
    // Nobody to ask: stop rather than decide for the user.
    return observer_ ? observer_->AskSkipMail(mailNumber, text) : MessageResult::Cancel;
}

MessageResult TMailSendThread::NotifyAskRetry(int mailNumber, int code, const std::string& text) {
    std::lock_guard obs(observerMutex_);
    return observer_ ? observer_->AskRetryMail(mailNumber, code, text) : MessageResult::Cancel;
}

void TMailSendThread::NotifyReconnectFailed(const std::string& text) {
    std::lock_guard obs(observerMutex_);
    if (observer_) observer_->ReconnectFailed(text);
}

void TMailSendThread::Log(const std::string& text) { WriteLog(logPath_, text); }

// ---- the job (worker) ----

void TMailSendThread::RunJob() {
    StartLog(logPath_);
    NotifyOutcome(kSendOutcomeRunning);
    NotifyStatus(LoadStr(4300));

    net_.SetMode(options_.mode);
    net_.SetAgent(LoadStr(901), LoadStr(902));
    net_.SetSmtpServer(server_.smtpServer, server_.userId, server_.password);
    net_.SetPopServer(server_.popServer, server_.userId, server_.password);

    int outcome = kSendOutcomeRunning;
    const bool connected = !Cancelled() && net_.ConnectSmtp();
    if (!connected) {
        if (Cancelled()) {
            // The user stopped the job while it was connecting.
            Log(LoadStr(4203));
            outcome = kSendOutcomeCancelled;
        } else {
            Log(LoadStr(4102));
            outcome = kSendOutcomeFailed;
        }
    } else {
        Log(LoadStr(4101) + " ( " + server_.smtpServer + " / " + std::to_string(net_.AuthKind()) + " )");
        if (!SendAll()) outcome = kSendOutcomeCancelled;
        NotifyStatus(LoadStr(4306));
        net_.DisconnectSmtp();
        Log(LoadStr(4103));
    }
    if (outcome == kSendOutcomeRunning && failures_ != 0 && !Cancelled()) outcome = kSendOutcomeFailed;

    // The last line says how the job ended, in the words the user is shown.
    if (outcome == kSendOutcomeFailed)
        Log(LoadStr(4401));
    else if (outcome == kSendOutcomeCancelled)
        Log(LoadStr(4402));
    else
        Log(LoadStr(4104));
    if (outcome != kSendOutcomeRunning) NotifyOutcome(outcome);
}

bool TMailSendThread::SendAll() {
    for (int j = 0; j < book_.Count; ++j) {
        if (Cancelled()) return false;
        const bool selected = book_.Records[j].Selected != 0;
        // The pause separates mails: it comes before every selected record
        // after the first mail of the job, not before records that are skipped.
        if (selected && current_ > 0 && options_.secondsBetweenMails > 0) {
            NotifyStatus(LoadStr(4307));
            WaitFor(options_.secondsBetweenMails, 4307);
            if (Cancelled()) return false;
        }
        if (selected) {
            ++current_;
            SendOneMail(j);
        }
        if (Cancelled()) return false;
        NotifyProgress(0, total_, current_);
    }
    return true;
}

void TMailSendThread::WaitFor(long long seconds, int statusId) {
    if (seconds <= 0) return;
    const TClockTime resume = AddSeconds(ClockNow(), seconds);
    NotifyStatus(LoadStr(statusId) + "/Resume:" + FormatShortDate(resume) + " " + FormatLongTime(resume));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, deadline, [this] { return cancel_.load() || stop_; });
}

void TMailSendThread::SetState(int j, int32_t state) {
    std::lock_guard lock(mutex_);
    book_.Records[j].SendState = state;
}

void TMailSendThread::SendOneMail(int j) {
    {
        std::lock_guard lock(mutex_);
        tried_[j] = 1;
    }
    const int policy = options_.errorPolicy;
    NotifyStatus(LoadStr(4303));
    Log(std::to_string(current_) + "(" + std::to_string(j + 1) + ") " + LoadStr(4110));
    const int built = BuildMergedMail(net_, j, headers_, true, templateName_, htmlFiles_, attachments_, body_,
                                      book_, options_.multiAddressHeader);
    Log(LoadStr(4105));
    NotifyCounter(std::to_string(current_) + LoadStr(4304) + " / " + std::to_string(total_) + LoadStr(4309));

    if (built == kMailDoubleByteRecipient) {
        Log(LoadStr(4106));
        SetState(j, TPVDatabase::SendError);
        if (Cancelled()) return;
        if (policy == kPolicyAsk) {
            if (NotifyAskSkip(j + 1, FormatSkipQuestion(j + 1, LoadStr(4106))) == MessageResult::Cancel)
                cancel_ = true;
            else
                ++failures_;
        } else if (policy == kPolicyTerminate) {
            cancel_ = true;
        } else {
            ++failures_;
        }
        return;
    }
    if (built != kMailReady) {
        // The HTML page could not be read: a file of the mail is missing,
        // as with an attachment that cannot be found, and every later mail
        // would miss it too.
        Log(LoadStr(4111) + " ( " + std::to_string(kSendFileUnreadable) + " )");
        Log(LoadStr(4205));
        SetState(j, TPVDatabase::SendError);
        cancel_ = true;
        Log(LoadStr(4113));
        return;
    }

    bool reconnect = false;
    bool again = true;
    bool retried = false;
    bool sent = false;
    while (again) {
        if (reconnect && !Cancelled()) {
            if (Reconnect(j)) {
                reconnect = false;
            } else {
                cancel_ = true;
            }
        }
        if (!Cancelled()) {
            NotifyStatus(LoadStr(4305));
            int code = kSendOk;
            if (net_.SendMessage(&code)) {
                Log(LoadStr(4114));
                SetState(j, TPVDatabase::SendCompleted);
                sent = true;
                again = false;
            } else {
                HandleSendFailure(j, code, policy, reconnect, again, retried);
            }
        }
        if (Cancelled()) {
            Log(LoadStr(4113));
            again = false;
        }
    }
    // A mail that was not accepted is an error of its record, whatever
    // ended its attempts.
    if (!sent) SetState(j, TPVDatabase::SendError);
}

void TMailSendThread::HandleSendFailure(int j, int code, int policy, bool& reconnect, bool& again,
                                        bool& retried) {
    Log(LoadStr(4111) + " ( " + std::to_string(code) + " )");
    const std::string errorText = OneLine(net_.LastErrorText());
    auto logWithText = [&](int id) {
        Log(LoadStr(id));
        if (!errorText.empty()) Log(errorText);
    };
    switch (code) {
        case 503:
            logWithText(4200);
            break;
        case 521:
            logWithText(4206);
            break;
        case 550:
            logWithText(4204);
            break;
        case 553:
            logWithText(4201);
            break;
        case kSendNotConnected:
            Log(LoadStr(4202));
            break;
        case kSendOtherFailure:
            Log(LoadStr(4203));
            cancel_ = true;
            break;
        case kSendFileUnreadable:
            Log(LoadStr(4205));
            cancel_ = true;
            break;
        case kSendServerClosed:
            Log(LoadStr(4207));
            break;
        case kSendSocketError:
            Log(LoadStr(4208));
            cancel_ = true;
            break;
        default:
            if (!errorText.empty()) Log(errorText);
            break;
    }
    SetState(j, TPVDatabase::SendError);
    if (Cancelled()) return;  // stopped: no retry and no question

    if (!retried) {
        // Sent once more after reconnecting.
        reconnect = true;
        again = true;
        retried = true;
        return;
    }
    if (policy == kPolicyAsk) {
        Log(LoadStr(4112));
        switch (NotifyAskRetry(j + 1, code, FormatRetryQuestion(j + 1, code, errorText))) {
            case MessageResult::Yes:
                reconnect = true;
                again = true;
                Log(LoadStr(4116));
                break;
            case MessageResult::No:
                again = false;
                ++failures_;
                Log(LoadStr(4117));
                break;
            default:
                cancel_ = true;
                break;
        }
    } else if (policy == kPolicyTerminate) {
        cancel_ = true;
    } else {
        Log(LoadStr(4112));
        again = false;
        ++failures_;
        if (current_ != total_) WaitFor(static_cast<long long>(options_.minutesBeforeResend) * 60, 4308);
    }
}

bool TMailSendThread::Reconnect(int j) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Cancelled()) return false;
        if (net_.AuthKind() == kAuthSmtpLogin) {
            net_.DisconnectSmtp();
            NotifyStatus(LoadStr(4300));
            if (!net_.ConnectSmtp()) {
                if (Cancelled()) return false;
                Log(LoadStr(4102));
                NotifyReconnectFailed(LoadStr(4102));
                SetState(j, TPVDatabase::SendError);
                continue;
            }
            Log(LoadStr(4115));
            return true;
        }
        // POP before SMTP.
        net_.DisconnectSmtp();
        NotifyStatus(LoadStr(4302));
        if (!net_.PopLogin()) {
            if (Cancelled()) return false;
            Log(LoadStr(4109));
            SetState(j, TPVDatabase::SendError);
            continue;
        }
        Log(LoadStr(4108));
        net_.PopDisconnect();
        if (!net_.ConnectSmtp()) {
            if (Cancelled()) return false;
            Log(LoadStr(4102));
            NotifyReconnectFailed(LoadStr(4102));
            SetState(j, TPVDatabase::SendError);
            continue;
        }
        NotifyStatus(LoadStr(4300));
        Log(LoadStr(4115));
        return true;
    }
    return false;
}
