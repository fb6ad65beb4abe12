#pragma once

#include <atomic>
#include <string>
#include <thread>

// A TCP relay on a loopback port of its own that passes each connection on to
// a target address: after a delay each way, as a network of that latency
// would, and frozen on demand, as a path that stops forwarding while the
// relay's host still acknowledges what it is sent. It runs on a thread of its
// own until it goes.
class TcpRelay {
public:
    TcpRelay(const std::string &targetAddress, int targetPort, int delayEachWayUs = 0);
    ~TcpRelay();
    TcpRelay(const TcpRelay &) = delete;
    TcpRelay &operator=(const TcpRelay &) = delete;

    int port() const { return port_; }
    // Frozen, nothing is forwarded either way; thawed, what waited goes on.
    void freeze(bool frozen) { frozenUp_ = frozenDown_ = frozen; }
    // Only the answers are held: what the client sends still arrives.
    void freezeAnswers(bool frozen) { frozenDown_ = frozen; }

private:
    void run();

    std::string address_;
    int targetPort_;
    int delayUs_;
    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> frozenUp_{false};     // client to target
    std::atomic<bool> frozenDown_{false};   // target to client
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
