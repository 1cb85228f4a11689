#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "delivery/Mailsendthread.h"

// A send-job observer for tests: records every call, answers the
// error-policy questions from queues (with an empty queue: Ok to a skip
// question, No to a retry question) and lets a test act on a status line or
// wait for the end of the job.
class ScriptedSendObserver : public SendJobObserver {
public:
    struct Question {
        int mailNumber = 0;
        int resultCode = 0;  // 0 for a skip question
        std::string text;
    };

    void AnswerSkip(MessageResult answer);
    void AnswerRetry(MessageResult answer);
    // Called on the worker for every status line, after it was recorded.
    void OnStatus(std::function<void(const std::string&)> hook);

    void SetOutcome(int outcome) override;
    void SetStatus(const std::string& text) override;
    void SetCounter(const std::string& text) override;
    void SetProgress(int minimum, int maximum, int position) override;
    MessageResult AskSkipMail(int mailNumber, const std::string& text) override;
    MessageResult AskRetryMail(int mailNumber, int resultCode, const std::string& text) override;
    void ReconnectFailed(const std::string& text) override;
    void JobFinished(int outcome) override;

    // Blocks until JobFinished (at most `limitSeconds`, a guard against a
    // hung job); true when it came. Resets for the next job.
    bool WaitFinished(int limitSeconds = 120);
    // Blocks until a status line holding `part` was shown (at most `limitSeconds`).
    bool WaitForStatus(const std::string& part, int limitSeconds = 120);

    int finishedOutcome() const;
    std::vector<int> outcomes() const;
    std::vector<std::string> statuses() const;
    std::vector<std::string> counters() const;
    // "min max pos" per call.
    std::vector<std::string> progress() const;
    std::vector<Question> questions() const;
    std::vector<std::string> reconnectNotices() const;
    // Every call in order: "outcome 1", "status <text>", "finished 3", ...
    std::vector<std::string> calls() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<MessageResult> skipAnswers_;
    std::deque<MessageResult> retryAnswers_;
    std::function<void(const std::string&)> statusHook_;
    std::vector<int> outcomes_;
    std::vector<std::string> statuses_;
    std::vector<std::string> counters_;
    std::vector<std::string> progress_;
    std::vector<Question> questions_;
    std::vector<std::string> reconnectNotices_;
    std::vector<std::string> calls_;
    bool finished_ = false;
    int finishedOutcome_ = -1;
};
