#include "support/ScriptedSendObserver.h"

#include <chrono>

void ScriptedSendObserver::AnswerSkip(MessageResult answer) {
    std::lock_guard lock(mutex_);
    skipAnswers_.push_back(answer);
}

void ScriptedSendObserver::AnswerRetry(MessageResult answer) {
    std::lock_guard lock(mutex_);
    retryAnswers_.push_back(answer);
}

void ScriptedSendObserver::OnStatus(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    statusHook_ = std::move(hook);
}

void ScriptedSendObserver::SetOutcome(int outcome) {
    std::lock_guard lock(mutex_);
    outcomes_.push_back(outcome);
    calls_.push_back("outcome " + std::to_string(outcome));
}

void ScriptedSendObserver::SetStatus(const std::string& text) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(mutex_);
        statuses_.push_back(text);
        calls_.push_back("status " + text);
        hook = statusHook_;
    }
    changed_.notify_all();
    if (hook) hook(text);
}

void ScriptedSendObserver::SetCounter(const std::string& text) {
    std::lock_guard lock(mutex_);
    counters_.push_back(text);
    calls_.push_back("counter " + text);
}

void ScriptedSendObserver::SetProgress(int minimum, int maximum, int position) {
    std::lock_guard lock(mutex_);
    std::string p = std::to_string(minimum) + " " + std::to_string(maximum) + " " + std::to_string(position);
    progress_.push_back(p);
    calls_.push_back("progress " + p);
}

MessageResult ScriptedSendObserver::AskSkipMail(int mailNumber, const std::string& text) {
    std::lock_guard lock(mutex_);
    questions_.push_back({mailNumber, 0, text});
    calls_.push_back("askSkip " + std::to_string(mailNumber));
    if (skipAnswers_.empty()) return MessageResult::Ok;
    MessageResult r = skipAnswers_.front();
    skipAnswers_.pop_front();
    return r;
}

MessageResult ScriptedSendObserver::AskRetryMail(int mailNumber, int resultCode, const std::string& text) {
    std::lock_guard lock(mutex_);
    questions_.push_back({mailNumber, resultCode, text});
    calls_.push_back("askRetry " + std::to_string(mailNumber) + " " + std::to_string(resultCode));
    if (retryAnswers_.empty()) return MessageResult::No;
    MessageResult r = retryAnswers_.front();
    retryAnswers_.pop_front();
    return r;
}

void ScriptedSendObserver::ReconnectFailed(const std::string& text) {
    std::lock_guard lock(mutex_);
    reconnectNotices_.push_back(text);
    calls_.push_back("reconnectFailed");
}

void ScriptedSendObserver::JobFinished(int outcome) {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        finishedOutcome_ = outcome;
        calls_.push_back("finished " + std::to_string(outcome));
    }
    changed_.notify_all();
}

bool ScriptedSendObserver::WaitFinished(int limitSeconds) {
    std::unique_lock lock(mutex_);
    bool done = changed_.wait_for(lock, std::chrono::seconds(limitSeconds), [this] { return finished_; });
    finished_ = false;
    return done;
}

bool ScriptedSendObserver::WaitForStatus(const std::string& part, int limitSeconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(limitSeconds), [&] {
        for (const std::string& s : statuses_) {
            if (s.find(part) != std::string::npos) return true;
        }
        return false;
    });
}

int ScriptedSendObserver::finishedOutcome() const {
    std::lock_guard lock(mutex_);
    return finishedOutcome_;
}

std::vector<int> ScriptedSendObserver::outcomes() const {
    std::lock_guard lock(mutex_);
    return outcomes_;
}

std::vector<std::string> ScriptedSendObserver::statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
}

std::vector<std::string> ScriptedSendObserver::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::vector<std::string> ScriptedSendObserver::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

std::vector<ScriptedSendObserver::Question> ScriptedSendObserver::questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

std::vector<std::string> ScriptedSendObserver::reconnectNotices() const {
    std::lock_guard lock(mutex_);
    return reconnectNotices_;
}

std::vector<std::string> ScriptedSendObserver::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}
