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
#include <deque>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one side, due at the other after the delay.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

// One direction of a connection: what `from` sent, on its way to `to`.
struct Flow {
    bool answers = false;   // from the target to the client
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    bool ended = false;   // `from` closed its side
    bool shut = false;    // and `to` was told, once the queue was through
};

struct Pair {
    Flow up, down;
    bool done() const { return up.shut && down.shut; }
};

void nonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

} // namespace

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

void TcpRelay::run()
{
    const auto frozen = [this](const Flow &flow) { return flow.answers ? frozenDown_.load() : frozenUp_.load(); };
    std::vector<std::unique_ptr<Pair>> pairs;
    char buffer[65536];
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        std::vector<pollfd> watched{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        auto timeout = std::chrono::microseconds(20000);   // a freeze or a thaw is seen within this
        std::vector<Flow *> flows;
        for (auto &pair : pairs)
            for (Flow *flow : {&pair->up, &pair->down}) {
                flows.push_back(flow);
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
                    pair->up = {false, client, server, {}, false, false};
                    pair->down = {true, server, client, {}, false, false};
                    pairs.push_back(std::move(pair));
                } else {
                    close(client);
                    if (server >= 0)
                        close(server);
                }
            }
        }
        for (Flow *flow : flows) {
            if (frozen(*flow))
                continue;
            if (!flow->ended) {
                const ssize_t n = read(flow->from, buffer, sizeof buffer);
                if (n > 0)
                    flow->queue.push_back({Clock::now() + std::chrono::microseconds(delayUs_), std::string(buffer, size_t(n))});
                else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    flow->ended = true;
            }
            while (!flow->queue.empty() && flow->queue.front().due <= Clock::now()) {
                std::string &bytes = flow->queue.front().bytes;
                const ssize_t n = send(flow->to, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                bytes.erase(0, size_t(n));
                if (!bytes.empty())
                    break;
                flow->queue.pop_front();
            }
            if (flow->ended && flow->queue.empty() && !flow->shut) {
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
