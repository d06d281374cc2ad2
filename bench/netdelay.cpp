// A TCP proxy that delays what passes through it, for bench/net.sh (the
// kernel here has no netem):
//   bench_netdelay LISTEN_PORT TARGET_PORT RTT_MS
// Listens on 127.0.0.1:LISTEN_PORT; each connection is forwarded to
// 127.0.0.1:TARGET_PORT, and every chunk read on either side is written to the
// other side RTT_MS/2 milliseconds after it arrived, so one request and its
// answer take RTT_MS longer than on the loopback. Chunks keep their order;
// a direction streams (the delay is a latency, not a pause per chunk).
// Prints "ready" once it listens; runs until killed.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_netdelay: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the reading side was closed
};

// One direction of a connection: a reader queues the chunks with their due
// time, a writer sends each when it is due.
struct Pipe {
    std::mutex m;
    std::condition_variable cv;
    std::deque<Chunk> q;
};

void reader(int from, Pipe& p, std::chrono::microseconds half)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            std::fprintf(stderr, "bench_netdelay: read: %s\n", std::strerror(errno));
        std::lock_guard<std::mutex> lk(p.m);
        p.q.push_back({Clock::now() + half, n > 0 ? std::string(buf, size_t(n)) : std::string()});
        p.cv.notify_one();
        if (n <= 0)
            return;
    }
}

void writer(int to, Pipe& p)
{
    for (;;) {
        Chunk c;
        {
            std::unique_lock<std::mutex> lk(p.m);
            p.cv.wait(lk, [&] { return !p.q.empty(); });
            c = std::move(p.q.front());
            p.q.pop_front();
        }
        std::this_thread::sleep_until(c.due);
        if (c.bytes.empty()) {
            shutdown(to, SHUT_WR);
            return;
        }
        size_t done = 0;
        while (done < c.bytes.size()) {
            const ssize_t n = write(to, c.bytes.data() + done, c.bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                std::fprintf(stderr, "bench_netdelay: write: %s\n", std::strerror(errno));
                return;
            }
            done += size_t(n);
        }
    }
}

void noDelay(int fd)
{
    const int one = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
        die("TCP_NODELAY");
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void serve(int client, int targetPort, std::chrono::microseconds half)
{
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    if (server < 0)
        die("socket");
    const sockaddr_in a = loopback(targetPort);
    if (connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "bench_netdelay: connect to port %d: %s\n", targetPort, std::strerror(errno));
        close(client);
        close(server);
        return;
    }
    noDelay(client);
    noDelay(server);
    auto up = std::make_unique<Pipe>(), down = std::make_unique<Pipe>();
    std::thread t1(reader, client, std::ref(*up), half), t2(writer, server, std::ref(*up));
    std::thread t3(reader, server, std::ref(*down), half), t4(writer, client, std::ref(*down));
    t1.join();
    t2.join();
    t3.join();
    t4.join();
    close(client);
    close(server);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: bench_netdelay LISTEN_PORT TARGET_PORT RTT_MS\n", stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int listenPort = std::atoi(argv[1]), targetPort = std::atoi(argv[2]);
    const auto half = std::chrono::microseconds(llround(std::atof(argv[3]) * 1000.0 / 2));
    const int l = socket(AF_INET, SOCK_STREAM, 0);
    if (l < 0)
        die("socket");
    const int one = 1;
    if (setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        die("SO_REUSEADDR");
    const sockaddr_in a = loopback(listenPort);
    if (bind(l, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        die("bind");
    if (listen(l, 16) != 0)
        die("listen");
    std::puts("ready");
    std::fflush(stdout);
    for (;;) {
        const int c = accept(l, nullptr, nullptr);
        if (c < 0) {
            if (errno == EINTR)
                continue;
            die("accept");
        }
        std::thread(serve, c, targetPort, half).detach();
    }
}
