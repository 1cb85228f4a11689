#include "SignalWatcher.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);  // the watcher's own stop request
    return set;
}

}  // namespace

TSignalWatcher::TSignalWatcher(std::function<void()> onSecond) : onSecond_(std::move(onSecond)) {
    sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Run(); });
}

TSignalWatcher::~TSignalWatcher() {
    stopping_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

void TSignalWatcher::SetCancelAction(std::function<void()> action) {
    std::unique_lock lock(mutex_);
    action_ = std::move(action);
    if (cancelled_.load() && action_) {
        std::function<void()> now = action_;
        lock.unlock();
        now();
    }
}

void TSignalWatcher::Run() {
    sigset_t set = WatchedSignals();
    while (true) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR1) {
            if (stopping_.load()) return;
            continue;
        }
        if (cancelled_.exchange(true)) {
            static const char text[] = "\npelvane-send: interrupted again; stopping now\n";
            ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
            (void)ignored;
            if (onSecond_) onSecond_();
            ::_exit(3);
        }
        static const char text[] = "\npelvane-send: cancelling (interrupt again to stop at once)\n";
        ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
        (void)ignored;
        std::function<void()> action;
        {
            std::lock_guard lock(mutex_);
            action = action_;
        }
        if (action) action();
    }
}
