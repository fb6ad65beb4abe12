#include "TcpRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Cut = TcpRelay::Cut;

// Bytes read from one side, due at the other after the delay; a cut made
// there once they are through.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
    bool cut = false;
};

// Where the bytes of one direction stand in the protocol's messages: every
// message but the client's first (the start-up packet, or a request for
// encryption) and the server's one-byte answer to that request is a type byte
// and a length that counts itself and the body.
struct Framing {
    enum class Expect { Untyped, Typed, OneByte, Off };
    Expect expect = Expect::Typed;
    bool inMessage = false;
    int headerLength = 0;
    int headerSeen = 0;
    unsigned char header[5] = {};
    std::uint32_t bodyLeft = 0;
    unsigned char code[4] = {};   // the first body bytes of an untyped message: what it asks for
    std::uint32_t codeSeen = 0;
    bool untyped = false;
};

std::uint32_t bigEndian(const unsigned char *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// One direction of a connection: what `from` sent, on its way to `to`.
struct Flow {
    bool answers = false;   // from the target to the client
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    bool ended = false;   // `from` closed its side, or the flow was cut
    bool shut = false;    // and `to` was told, once the queue was through
    Framing framing;
    bool cutAtEnd = false;   // the message under way is delivered, then the connection cut
    Cut cut = Cut::Drop;
};

// A connection. Cut, its bytes are read and dropped either way: while the path
// is silent, until the client gives up; while it closes, until each end has
// seen the other's close and closed too, so that no end loses what it had
// received by a reset.
struct Pair {
    enum class Path { Open, Silent, Closing };
    Flow up, down;
    Path path = Path::Open;
    bool wasCut = false;
    bool done() const { return up.shut && down.shut; }
};

void nonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Walks `bytes` through the messages of `flow`, telling `start` at the offset
// where each message begins and `end` after each one ends; either may stop the
// walk by returning false (the flow is cut there).
void frame(Pair &pair, Flow &flow, const std::string &bytes, const std::function<bool(std::size_t)> &start,
           const std::function<bool(std::size_t)> &end)
{
    Framing &f = flow.framing;
    Framing &other = (&flow == &pair.up ? pair.down : pair.up).framing;
    std::size_t i = 0;
    while (i < bytes.size() && f.expect != Framing::Expect::Off) {
        if (!f.inMessage) {
            if (!start(i))
                return;
            f.inMessage = true;
            f.untyped = f.expect == Framing::Expect::Untyped;
            f.headerLength = f.expect == Framing::Expect::OneByte ? 1 : f.untyped ? 4 : 5;
            f.headerSeen = 0;
            f.codeSeen = 0;
        }
        if (f.headerSeen < f.headerLength) {
            f.header[f.headerSeen++] = static_cast<unsigned char>(bytes[i++]);
            if (f.headerSeen < f.headerLength)
                continue;
            if (f.expect == Framing::Expect::OneByte) {
                // 'N': no encryption, the start-up packet comes next; otherwise the bytes are encrypted.
                f.inMessage = false;
                const bool plain = f.header[0] == 'N';
                f.expect = plain ? Framing::Expect::Typed : Framing::Expect::Off;
                other.expect = plain ? Framing::Expect::Untyped : Framing::Expect::Off;
                if (!end(i))
                    return;
                continue;
            }
            const std::uint32_t length = bigEndian(f.header + (f.untyped ? 0 : 1));
            if (length < 4) {
                f.expect = Framing::Expect::Off;   // not the protocol: passed on as it comes
                return;
            }
            f.bodyLeft = length - 4;
        } else {
            const std::size_t take = std::min<std::size_t>(f.bodyLeft, bytes.size() - i);
            for (std::size_t k = 0; k < take && f.codeSeen < 4; ++k)
                f.code[f.codeSeen++] = static_cast<unsigned char>(bytes[i + k]);
            i += take;
            f.bodyLeft -= std::uint32_t(take);
        }
        if (f.bodyLeft > 0)
            continue;
        f.inMessage = false;
        if (f.untyped) {
            // A request for TLS (80877103) or GSS encryption (80877104) is answered by one byte.
            const std::uint32_t asked = f.codeSeen == 4 ? bigEndian(f.code) : 0;
            if (asked == 80877103 || asked == 80877104) {
                other.expect = Framing::Expect::OneByte;
                f.expect = Framing::Expect::Untyped;
            } else {
                f.expect = Framing::Expect::Typed;
            }
        }
        if (!end(i))
            return;
    }
}

// Reads whatever waits on `fd` and drops it; false once the other end has closed.
bool drain(int fd)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Both ends are told at once that the other has closed.
void closeBoth(Pair &pair)
{
    pair.path = Pair::Path::Closing;
    for (Flow *flow : {&pair.up, &pair.down}) {
        flow->queue.clear();
        flow->ended = false;
        shutdown(flow->to, SHUT_WR);
    }
}

} // namespace

const char *TcpRelay::name(Direction direction)
{
    return direction == Direction::ToServer ? "to the server" : "to the client";
}

const char *TcpRelay::name(Cut cut)
{
    switch (cut) {
    case Cut::Drop: return "dropped";
    case Cut::Silence: return "silenced";
    case Cut::DeliverThenDrop: return "delivered, then dropped";
    }
    return "?";
}

TcpRelay::TcpRelay(const std::string &targetAddress, int targetPort, int delayEachWayUs)
    : address_(targetAddress), targetPort_(targetPort), delayUs_(delayEachWayUs)
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&at), size) != 0 || listen(listener_, 16) != 0
        || getsockname(listener_, reinterpret_cast<sockaddr *>(&at), &size) != 0 || pipe(wake_) != 0)
        throw std::runtime_error("the relay cannot listen on a loopback port");
    port_ = ntohs(at.sin_port);
    nonBlocking(listener_);
    thread_ = std::thread([this] { run(); });
}

TcpRelay::~TcpRelay()
{
    stopping_ = true;
    const char c = 0;
    [[maybe_unused]] const ssize_t woke = write(wake_[1], &c, 1);
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

std::string TcpRelay::messageTypes(Direction direction) const
{
    std::lock_guard lock(typesMutex_);
    return types_[int(direction)];
}

void TcpRelay::arm(Direction direction, int n, Cut cut)
{
    armed_ = false;
    counted_[0] = counted_[1] = 0;
    {
        std::lock_guard lock(typesMutex_);
        types_[0].clear();
        types_[1].clear();
    }
    cutDirection_ = int(direction);
    cutAt_ = n;
    cutKind_ = int(cut);
    cutMade_ = false;
    settled_ = false;
    armed_ = true;
}

void TcpRelay::disarm()
{
    armed_ = false;
}

void TcpRelay::run()
{
    const auto frozen = [this](const Flow &flow) { return flow.answers ? frozenDown_.load() : frozenUp_.load(); };
    std::vector<std::unique_ptr<Pair>> pairs;
    char buffer[65536];
    while (!stopping_) {
        if (closingAll_.exchange(false))
            for (auto &pair : pairs)
                if (pair->path != Pair::Path::Closing)
                    closeBoth(*pair);
        const Clock::time_point now = Clock::now();
        std::vector<pollfd> watched{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        auto timeout = std::chrono::microseconds(20000);   // a freeze or a thaw is seen within this
        std::vector<std::pair<Pair *, Flow *>> flows;
        for (auto &pair : pairs)
            for (Flow *flow : {&pair->up, &pair->down}) {
                flows.emplace_back(pair.get(), flow);
                if (pair->path != Pair::Path::Open) {
                    if (!flow->ended)
                        watched.push_back({flow->from, POLLIN, 0});
                    continue;
                }
                if (frozen(*flow))
                    continue;
                if (!flow->ended)
                    watched.push_back({flow->from, POLLIN, 0});
                if (flow->queue.empty())
                    continue;
                if (flow->queue.front().due <= now)
                    watched.push_back({flow->to, POLLOUT, 0});
                else
                    timeout = std::min(timeout, std::chrono::duration_cast<std::chrono::microseconds>(
                                                    flow->queue.front().due - now));
            }
        const timespec wait{0, long(timeout.count()) * 1000};
        ppoll(watched.data(), watched.size(), &wait, nullptr);
        if (watched[0].revents & POLLIN) {
            const int client = accept(listener_, nullptr, nullptr);
            if (client >= 0) {
                const int server = socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in target{};
                target.sin_family = AF_INET;
                target.sin_port = htons(uint16_t(targetPort_));
                inet_pton(AF_INET, address_.c_str(), &target.sin_addr);
                if (server >= 0 && connect(server, reinterpret_cast<sockaddr *>(&target), sizeof target) == 0) {
                    nonBlocking(client);
                    nonBlocking(server);
                    auto pair = std::make_unique<Pair>();
                    pair->up.from = pair->down.to = client;
                    pair->up.to = pair->down.from = server;
                    pair->down.answers = true;
                    pair->up.framing.expect = Framing::Expect::Untyped;
                    pairs.push_back(std::move(pair));
                } else {
                    close(client);
                    if (server >= 0)
                        close(server);
                }
            }
        }
        for (const auto &entry : flows) {
            Pair *const pair = entry.first;
            Flow *const flow = entry.second;
            if (pair->path != Pair::Path::Open) {
                if (flow->ended || drain(flow->from))
                    continue;
                flow->ended = true;
                if (flow->answers && pair->wasCut)
                    settled_ = true;
                if (pair->path == Pair::Path::Closing)
                    flow->shut = true;
                else if (!flow->answers)
                    closeBoth(*pair);   // the client gave up on the silent path: the server is let go too
                continue;
            }
            if (pair->done() || frozen(*flow))
                continue;
            if (!flow->ended) {
                const ssize_t n = read(flow->from, buffer, sizeof buffer);
                if (n > 0) {
                    Chunk chunk{Clock::now() + std::chrono::microseconds(delayUs_), std::string(buffer, size_t(n))};
                    if (armed_ && !cutMade_) {
                        const Direction direction = flow->answers ? Direction::ToClient : Direction::ToServer;
                        const bool cutHere = cutDirection_ == int(direction);
                        const auto cutAt = [&](std::size_t offset) {
                            chunk.bytes.resize(offset);
                            chunk.cut = true;
                            pair->wasCut = true;
                            cutMade_ = true;
                            flow->ended = true;   // nothing more is read: the cut decides what follows
                            return false;
                        };
                        frame(
                            *pair, *flow, chunk.bytes,
                            [&](std::size_t offset) {
                                const int count = ++counted_[int(direction)];
                                {
                                    std::lock_guard lock(typesMutex_);
                                    types_[int(direction)] += flow->framing.expect == Framing::Expect::Typed
                                                                  ? chunk.bytes[offset]
                                                                  : '\0';
                                }
                                if (!cutHere || count != cutAt_)
                                    return true;
                                flow->cut = Cut(cutKind_.load());
                                if (flow->cut == Cut::DeliverThenDrop) {
                                    flow->cutAtEnd = true;
                                    return true;
                                }
                                return cutAt(offset);
                            },
                            [&](std::size_t offset) { return flow->cutAtEnd ? cutAt(offset) : true; });
                    } else {
                        frame(*pair, *flow, chunk.bytes, [](std::size_t) { return true; },
                              [](std::size_t) { return true; });
                    }
                    flow->queue.push_back(std::move(chunk));
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    flow->ended = true;
                }
            }
            while (!flow->queue.empty() && flow->queue.front().due <= Clock::now()) {
                Chunk &chunk = flow->queue.front();
                if (!chunk.bytes.empty()) {
                    const ssize_t n = send(flow->to, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    chunk.bytes.erase(0, size_t(n));
                    if (!chunk.bytes.empty())
                        break;
                }
                if (chunk.cut) {
                    if (flow->cut == Cut::Silence) {
                        pair->path = Pair::Path::Silent;
                        for (Flow *f : {&pair->up, &pair->down}) {
                            f->queue.clear();
                            f->ended = false;
                        }
                    } else {
                        closeBoth(*pair);
                    }
                    break;
                }
                flow->queue.pop_front();
            }
            if (pair->path == Pair::Path::Open && flow->ended && flow->queue.empty() && !flow->shut) {
                shutdown(flow->to, SHUT_WR);
                flow->shut = true;
            }
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            if ((*it)->done()) {
                close((*it)->up.from);
                close((*it)->up.to);
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &pair : pairs) {
        close(pair->up.from);
        close(pair->up.to);
    }
}
