#include "support/FakeMailServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using SteadyClock = std::chrono::steady_clock;

// ---- script ----

FakeMailServer::Script& FakeMailServer::Script::Send(std::string bytes) {
    steps.push_back({Step::Send, std::move(bytes)});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Reply(const std::string& line) { return Send(line + "\r\n"); }

FakeMailServer::Script& FakeMailServer::Script::Expect(std::string command) {
    steps.push_back({Step::Expect, std::move(command)});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::ReadLine() {
    steps.push_back({Step::ReadLine, {}});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::ReadData() {
    steps.push_back({Step::ReadData, {}});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Delay(std::chrono::milliseconds delay) {
    steps.push_back({Step::Delay, {}, delay});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Drop() {
    steps.push_back({Step::Drop, {}});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Reset() {
    steps.push_back({Step::Reset, {}});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Hang() {
    steps.push_back({Step::Hang, {}});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::Signal(std::string name) {
    steps.push_back({Step::Signal, std::move(name)});
    return *this;
}

FakeMailServer::Script& FakeMailServer::Script::SendFlood(std::size_t bytes, char fill) {
    steps.push_back({Step::Flood, std::string(1, fill), std::chrono::milliseconds(0), bytes});
    return *this;
}

// ---- server ----

FakeMailServer::FakeMailServer(Family family, std::chrono::seconds lifetime)
    : family_(family), deadline_(SteadyClock::now() + lifetime) {}

FakeMailServer::~FakeMailServer() { Stop(); }

void FakeMailServer::AddSession(Script script) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(std::move(script));
}

bool FakeMailServer::Start() {
    if (::pipe2(stopPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    const int domain = family_ == Family::IPv6 ? AF_INET6 : AF_INET;
    listenFd_ = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (receiveBuffer_ > 0)
        ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, sizeof receiveBuffer_);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (domain == AF_INET6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        length = sizeof *a6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a4;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error_ = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(domain == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                     : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void FakeMailServer::Stop() {
    if (stopPipe_[1] >= 0) {
        char stop = 1;
        [[maybe_unused]] ssize_t n = ::write(stopPipe_[1], &stop, 1);
    }
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    for (int& fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

std::string FakeMailServer::Address() const {
    return family_ == Family::IPv6 ? "[::1]:" + std::to_string(port_) : "127.0.0.1:" + std::to_string(port_);
}

bool FakeMailServer::WaitStopOr(int fd, short events, SteadyClock::time_point until, short* revents) {
    until = std::min(until, deadline_);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now()).count();
        if (left <= 0) return false;
        pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {fd, events, 0}};
        int n = ::poll(fds, fd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left + 1, 60'000)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[0].revents != 0) return false;
        if (n > 0 && fd >= 0 && fds[1].revents != 0) {
            if (revents) *revents = fds[1].revents;
            return true;
        }
    }
}

void FakeMailServer::Run() {
    for (;;) {
        short revents = 0;
        if (!WaitStopOr(listenFd_, POLLIN, deadline_, &revents)) break;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Each scripted reply goes out at once, not held back for an ACK.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Script script;
        bool scripted = false;
        std::size_t index = 0;
        {
            std::lock_guard lock(mutex_);
            if (!scripts_.empty()) {
                script = std::move(scripts_.front());
                scripts_.pop_front();
                scripted = true;
            }
            index = sessions_.size();
            sessions_.emplace_back();
        }
        if (scripted) {
            Serve(fd, script, index);
        } else {
            ::close(fd);
        }
        {
            std::lock_guard lock(mutex_);
            ++ended_;
        }
        changed_.notify_all();
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void FakeMailServer::Record(std::size_t index, const char* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    sessions_[index].transcript.append(data, size);
}

void FakeMailServer::Mismatch(std::string text) {
    std::lock_guard lock(mutex_);
    mismatches_.push_back(std::move(text));
}

// One line with its line end ("\n" or "\r\n"), as the client wrote it.
FakeMailServer::Io FakeMailServer::ReadLine(int fd, std::string& buffer, std::string& line,
                                            std::size_t index) {
    for (;;) {
        std::size_t end = buffer.find('\n');
        if (end != std::string::npos) {
            line = buffer.substr(0, end + 1);
            buffer.erase(0, end + 1);
            return Io::Ok;
        }
        short revents = 0;
        if (!WaitStopOr(fd, POLLIN, deadline_, &revents)) return Io::Stopped;
        char chunk[64 * 1024];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::lock_guard lock(mutex_);
            sessions_[index].clientClosed = true;
            return Io::Closed;
        }
        Record(index, chunk, static_cast<std::size_t>(n));
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

FakeMailServer::Io FakeMailServer::SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        short revents = 0;
        if (!WaitStopOr(fd, POLLOUT, deadline_, &revents)) return Io::Stopped;
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Io::Closed;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Io::Ok;
}

namespace {

std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

void FakeMailServer::Serve(int fd, const Script& script, std::size_t index) {
    std::string buffer;
    const std::string where = "connection " + std::to_string(index + 1) + ": ";
    bool open = true;
    for (std::size_t i = 0; open && i < script.steps.size(); ++i) {
        const Script::Step& step = script.steps[i];
        std::string line;
        switch (step.kind) {
            case Script::Step::Send:
                open = SendAll(fd, step.text) == Io::Ok;
                break;
            case Script::Step::Flood: {
                const std::string chunk(64 * 1024, step.text[0]);
                for (std::size_t sent = 0; open && sent < step.count; sent += chunk.size()) {
                    open = SendAll(fd, std::string_view(chunk).substr(
                                           0, std::min(chunk.size(), step.count - sent))) == Io::Ok;
                }
                break;
            }
            case Script::Step::Expect:
            case Script::Step::ReadLine:
                if (ReadLine(fd, buffer, line, index) != Io::Ok) {
                    if (step.kind == Script::Step::Expect)
                        Mismatch(where + "the client closed before \"" + step.text + "\"");
                    open = false;
                    break;
                }
                if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)
                    Mismatch(where + "line without CR LF: \"" + WithoutLineEnd(line) + "\"");
                line = WithoutLineEnd(line);
                if (step.kind == Script::Step::Expect && line != step.text)
                    Mismatch(where + "expected \"" + step.text + "\", got \"" + line + "\"");
                {
                    std::lock_guard lock(mutex_);
                    sessions_[index].lines.push_back(line);
                }
                break;
            case Script::Step::ReadData: {
                std::string body;
                for (;;) {
                    if (ReadLine(fd, buffer, line, index) != Io::Ok) {
                        Mismatch(where + "the client closed inside DATA");
                        open = false;
                        break;
                    }
                    if (line == ".\r\n") break;
                    body += line;
                }
                std::lock_guard lock(mutex_);
                sessions_[index].bodies.push_back(std::move(body));
                break;
            }
            case Script::Step::Delay:
                WaitStopOr(-1, 0, SteadyClock::now() + step.delay, nullptr);
                break;
            case Script::Step::Drop:
                open = false;
                break;
            case Script::Step::Reset: {
                linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                open = false;
                break;
            }
            case Script::Step::Hang: {
                short revents = 0;
                // Ends when the client hangs up; unread data stays unread.
                while (WaitStopOr(fd, POLLRDHUP, deadline_, &revents)) {
                    if (revents & (POLLRDHUP | POLLHUP | POLLERR)) break;
                }
                open = false;
                break;
            }
            case Script::Step::Signal: {
                std::lock_guard lock(mutex_);
                signals_.insert(step.text);
                changed_.notify_all();
                break;
            }
        }
    }
    if (open) {
        // Script done: anything more the client writes is a violation.
        std::string line;
        if (ReadLine(fd, buffer, line, index) == Io::Ok)
            Mismatch(where + "unscripted line \"" + WithoutLineEnd(line) + "\"");
    }
    ::close(fd);
}

bool FakeMailServer::WaitForSignal(const std::string& name, std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return signals_.count(name) > 0 || finished_; }) &&
           signals_.count(name) > 0;
}

bool FakeMailServer::WaitForSessions(std::size_t count, std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ended_ >= count || finished_; }) && ended_ >= count;
}

std::vector<FakeMailServer::Session> FakeMailServer::Sessions() const {
    std::lock_guard lock(mutex_);
    return sessions_;
}

FakeMailServer::Session FakeMailServer::SessionAt(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < sessions_.size() ? sessions_[index] : Session{};
}

std::vector<std::string> FakeMailServer::Bodies() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> bodies;
    for (const Session& s : sessions_) bodies.insert(bodies.end(), s.bodies.begin(), s.bodies.end());
    return bodies;
}

std::vector<std::string> FakeMailServer::Mismatches() const {
    std::lock_guard lock(mutex_);
    return mismatches_;
}

// ---- full backlog ----

FullBacklogPort::FullBacklogPort() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    fillerFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || fillerFd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // A queue of one, taken by the filler and never accepted: later SYNs are dropped.
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 0) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    if (::connect(fillerFd_, reinterpret_cast<sockaddr*>(&address), length) != 0) return;
    port_ = ntohs(address.sin_port);
}

FullBacklogPort::~FullBacklogPort() {
    if (fillerFd_ >= 0) ::close(fillerFd_);
    if (listenFd_ >= 0) ::close(listenFd_);
}
