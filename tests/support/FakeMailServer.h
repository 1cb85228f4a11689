#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A scriptable SMTP / POP3 server for tests: plain POSIX sockets on the
// loopback interface, a port of its own (0 asks the system for a free one)
// and one thread that serves connections one after the other. Each accepted
// connection runs the next session script: what to send (exact bytes), what
// the client must write, delays, a dropped connection, garbage, a server that
// stops answering or reading. Everything the client wrote is recorded, so
// tests assert on the client's bytes. Every wait of the server ends when the
// server stops, and the server stops by itself after its lifetime.
class FakeMailServer {
public:
    enum class Family { IPv4, IPv6 };

    // The steps of one connection, run in order. When the script ends, the
    // server reads until the client closes; a line the client writes then is
    // recorded as a mismatch and ends the connection.
    class Script {
    public:
        // Sends `bytes` exactly as given.
        Script& Send(std::string bytes);
        // Sends `line` and CR LF.
        Script& Reply(const std::string& line);
        // Reads one line; a line other than `command` is recorded as a mismatch.
        Script& Expect(std::string command);
        // Reads one line, whatever it holds.
        Script& ReadLine();
        // Reads the message after "DATA" up to its "." line; the bytes in
        // between (as written, dot-stuffed) become a recorded body.
        Script& ReadData();
        // Waits `delay` (ends early when the server stops).
        Script& Delay(std::chrono::milliseconds delay);
        // Closes the connection.
        Script& Drop();
        // Closes it with a reset (the client sees ECONNRESET).
        Script& Reset();
        // Neither reads nor writes any more until the client closes or the
        // server stops: the client's writes fill the socket buffers.
        Script& Hang();
        // Makes WaitForSignal(name) return.
        Script& Signal(std::string name);
        // Sends `bytes` bytes of `fill` with no line end, as far as the client takes them.
        Script& SendFlood(std::size_t bytes, char fill = 'x');

        struct Step {
            enum Kind { Send, Expect, ReadLine, ReadData, Delay, Drop, Reset, Hang, Signal, Flood } kind;
            std::string text;
            std::chrono::milliseconds delay{0};
            std::size_t count = 0;
        };
        std::vector<Step> steps;
    };

    // What one connection recorded.
    struct Session {
        std::string transcript;           // every byte the client wrote that the server read
        std::vector<std::string> lines;   // lines read by Expect / ReadLine, without line end
        std::vector<std::string> bodies;  // bodies read by ReadData
        bool clientClosed = false;        // the client closed before the server did
    };

    explicit FakeMailServer(Family family = Family::IPv4,
                            std::chrono::seconds lifetime = std::chrono::seconds(120));
    ~FakeMailServer();
    FakeMailServer(const FakeMailServer&) = delete;
    FakeMailServer& operator=(const FakeMailServer&) = delete;

    // The script of the next connection not yet scripted. A connection with
    // no script left is closed at once.
    void AddSession(Script script);
    // A small receive buffer for accepted connections (before Start), so that
    // a Hang() fills the client's buffers with a few megabytes.
    void SetReceiveBuffer(int bytes) { receiveBuffer_ = bytes; }

    // Listens on 127.0.0.1 or ::1. False (with the reason in Error()) when
    // the socket cannot be had, e.g. IPv6 switched off.
    bool Start();
    // Stops the thread and closes every socket; also done by the destructor.
    void Stop();

    int Port() const { return port_; }
    // "127.0.0.1:port" or "[::1]:port", a server text for TNetModule.
    std::string Address() const;
    const std::string& Error() const { return error_; }

    // Blocks until the script reached Signal(name), the server ended or
    // `limit` passed; true when the signal came.
    bool WaitForSignal(const std::string& name, std::chrono::seconds limit = std::chrono::seconds(60));
    // Blocks until `count` connections have ended.
    bool WaitForSessions(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(60));

    std::vector<Session> Sessions() const;
    Session SessionAt(std::size_t index) const;
    // Every body of every connection, in order.
    std::vector<std::string> Bodies() const;
    // Lines that differed from the script, and other script violations.
    std::vector<std::string> Mismatches() const;

private:
    void Run();
    void Serve(int fd, const Script& script, std::size_t index);

    // I/O of one connection; false when the connection ended (or the server stops).
    enum class Io { Ok, Closed, Stopped };
    Io ReadLine(int fd, std::string& buffer, std::string& line, std::size_t index);
    Io SendAll(int fd, std::string_view bytes);
    bool WaitStopOr(int fd, short events, std::chrono::steady_clock::time_point until, short* revents);

    void Record(std::size_t index, const char* data, std::size_t size);
    void Mismatch(std::string text);

    Family family_;
    std::chrono::steady_clock::time_point deadline_;
    int receiveBuffer_ = 0;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::string error_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Script> scripts_;
    std::vector<Session> sessions_;
    std::set<std::string> signals_;
    std::vector<std::string> mismatches_;
    std::size_t ended_ = 0;
    bool finished_ = false;
};

// A loopback port whose listen queue is full: a connect to it neither
// completes nor fails (the SYN is dropped), so a client stays blocked in
// its connect. Used to test cancelling a connect.
class FullBacklogPort {
public:
    FullBacklogPort();
    ~FullBacklogPort();
    FullBacklogPort(const FullBacklogPort&) = delete;
    FullBacklogPort& operator=(const FullBacklogPort&) = delete;
    bool Ok() const { return port_ != 0; }
    int Port() const { return port_; }

private:
    int listenFd_ = -1;
    int fillerFd_ = -1;
    int port_ = 0;
};
