#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

// A TCP relay on a loopback port of its own that passes each connection on to
// a target address: after a delay each way, as a network of that latency
// would, and frozen on demand, as a path that stops forwarding while the
// relay's host still acknowledges what it is sent. It runs on a thread of its
// own until it goes.
//
// It knows the framing of PostgreSQL's wire protocol (a type byte and a
// length; the start-up packet without the type byte), so that, armed, it cuts
// the connection at the n-th message in one direction, counted across every
// connection from the arming on. It cuts once; later connections pass.
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

    enum class Direction { ToServer, ToClient };
    enum class Cut {
        Drop,             // the message and all after it lost, both ends closed at once (a dropped Wi-Fi)
        Silence,          // the message and all after it lost either way while both ends stay open (a dead path)
        DeliverThenDrop,  // the message arrives, then both ends close: what answers it is lost
    };
    static const char *name(Direction direction);
    static const char *name(Cut cut);

    // Counts the messages from now on; the n-th one in `direction` (1 is the
    // next) is cut. A connection whose client gives up after a silence is
    // closed towards the server too, as a server's own keepalives would end it.
    void arm(Direction direction, int n, Cut cut);
    void disarm();
    // Whether the armed cut was made.
    bool cut() const { return cutMade_; }
    // Messages in `direction` since the arming, up to the cut.
    int messages(Direction direction) const { return counted_[int(direction)]; }
    // Their type bytes, in order; 0 for the client's untyped first message.
    std::string messageTypes(Direction direction) const;
    // Whether the server's end of the cut connection has closed: whatever the
    // server made of what reached it is done.
    bool settled() const { return settled_; }
    // Closes every connection both ways at once.
    void closeAll() { closingAll_ = true; }

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
    std::atomic<bool> armed_{false};
    std::atomic<int> cutDirection_{0};
    std::atomic<int> cutAt_{0};
    std::atomic<int> cutKind_{0};
    std::atomic<bool> cutMade_{false};
    std::atomic<bool> settled_{false};
    std::atomic<bool> closingAll_{false};
    std::atomic<int> counted_[2] = {0, 0};
    mutable std::mutex typesMutex_;
    std::string types_[2];
    std::thread thread_;
};
