#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// SIGINT, SIGTERM and SIGHUP cancel the run cleanly: the first one sets the
// cancel flag and calls the cancel action (which stops a running send job);
// a second one calls `onSecond` and ends the process at once with status 3.
//
// Construct it first in main, before any other thread exists: it blocks the
// signals in the calling thread, so every thread started later inherits the
// mask and only the watcher's own thread receives them.
class TSignalWatcher {
public:
    explicit TSignalWatcher(std::function<void()> onSecond);
    ~TSignalWatcher();
    TSignalWatcher(const TSignalWatcher&) = delete;
    TSignalWatcher& operator=(const TSignalWatcher&) = delete;

    const std::atomic<bool>& Cancelled() const { return cancelled_; }

    // Runs on the watcher's thread at the first signal, or at once (on the
    // calling thread) when the signal already came. An empty function
    // removes the action.
    void SetCancelAction(std::function<void()> action);

private:
    void Run();

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> stopping_{false};
    std::function<void()> onSecond_;
    std::mutex mutex_;
    std::function<void()> action_;
    std::thread thread_;
};
