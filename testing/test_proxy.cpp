// The test proxy: one accept thread, one thread per client connection that reads
// one request head, then answers it, forwards it or opens a tunnel, and relays.
#include "test_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "http_request_reader.h"

namespace vtest {
namespace {

// Reads up to the end of a request head; what follows stays in the socket (a
// client sends nothing more before the answer).
bool ReadHead(int fd, std::string* head) {
    char c;
    while (head->size() < (1 << 16)) {
        const ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        head->push_back(c);
        if (head->size() >= 4 && head->compare(head->size() - 4, 4, "\r\n\r\n") == 0) return true;
    }
    return false;
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A connection to 127.0.0.1:port for "host:port" where host is 127.0.0.1 or
// localhost; -1 otherwise or when it fails.
int ConnectLocal(const std::string& authority) {
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string::npos) return -1;
    const std::string host = authority.substr(0, colon);
    if (host != "127.0.0.1" && host != "localhost") return -1;
    const int port = std::atoi(authority.c_str() + colon + 1);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Client {
    explicit Client(int socket) : fd(socket) {}
    int fd;
    std::atomic<int> originFd{-1};
    std::thread thread;
};

}  // namespace

struct TestProxy::Impl {
    int listenFd = -1;
    int stopFd = -1;
    unsigned short port = 0;
    std::atomic<int> refuse{0};
    std::thread acceptThread;
    mutable std::mutex mutex;  // guards the two below
    std::vector<RecordedRequest> requests;
    std::list<Client> clients;

    void AcceptLoop();
    void Serve(Client* client);
    // Copies both ways until both directions ended, or the proxy stops.
    void Relay(int a, int b);
};

void TestProxy::Impl::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (fds[1].revents == 0) continue;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex);
        Client& client = clients.emplace_back(fd);
        client.thread = std::thread([this, &client] { Serve(&client); });
    }
}

void TestProxy::Impl::Serve(Client* client) {
    std::string head;
    RecordedRequest request;
    if (!ReadHead(client->fd, &head) || !ParseRequestHead(head, &request)) return;
    {
        std::lock_guard lock(mutex);
        requests.push_back(request);
    }
    if (const int status = refuse.load(); status != 0) {
        SendAll(client->fd, "HTTP/1.1 " + std::to_string(status) +
                                " Refused\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::string authority;
    std::string forwarded;
    if (request.method == "CONNECT") {
        authority = request.target;
    } else {
        // An absolute URI: http://host:port/path.
        const std::string prefix = "http://";
        if (request.target.compare(0, prefix.size(), prefix) != 0) return;
        const std::size_t slash = request.target.find('/', prefix.size());
        authority = request.target.substr(prefix.size(), slash - prefix.size());
        const std::string path = slash == std::string::npos ? "/" : request.target.substr(slash);
        forwarded = request.method + " " + path + " " + request.version + "\r\n";
        for (const auto& [name, value] : request.headers) {
            // Hop-by-hop lines meant for the proxy stay here.
            if (strncasecmp(name.c_str(), "Proxy-", 6) == 0) continue;
            forwarded += name + ": " + value + "\r\n";
        }
        forwarded += "\r\n";
    }
    const int origin = ConnectLocal(authority);
    if (origin < 0) {
        SendAll(client->fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    client->originFd.store(origin);
    const bool started = request.method == "CONNECT"
                             ? SendAll(client->fd, "HTTP/1.1 200 Connection established\r\n\r\n")
                             : SendAll(origin, forwarded);
    if (started) Relay(client->fd, origin);
}

void TestProxy::Impl::Relay(int a, int b) {
    bool open[2] = {true, true};  // a->b, b->a
    char buffer[16384];
    while (open[0] || open[1]) {
        pollfd fds[3] = {{stopFd, POLLIN, 0},
                         {a, static_cast<short>(open[0] ? POLLIN : 0), 0},
                         {b, static_cast<short>(open[1] ? POLLIN : 0), 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        for (int side = 0; side < 2; ++side) {
            if (!open[side] || fds[side + 1].revents == 0) continue;
            const int from = side == 0 ? a : b;
            const int to = side == 0 ? b : a;
            const ssize_t n = recv(from, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || !SendAll(to, std::string(buffer, static_cast<std::size_t>(n)))) {
                open[side] = false;
                shutdown(to, SHUT_WR);
            }
        }
    }
}

TestProxy::TestProxy() : impl_(std::make_unique<Impl>()) {
    impl_->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (impl_->listenFd < 0 ||
        bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(impl_->listenFd, SOMAXCONN) != 0 ||
        getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("test proxy: listen on 127.0.0.1");
        std::abort();
    }
    impl_->port = ntohs(address.sin_port);
    impl_->stopFd = eventfd(0, EFD_CLOEXEC);
    impl_->acceptThread = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

TestProxy::~TestProxy() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->stopFd, &one, sizeof one);
    impl_->acceptThread.join();
    // The stop descriptor stays readable: every relay ends; a head still being
    // read ends with the shutdown.
    for (Client& client : impl_->clients) shutdown(client.fd, SHUT_RDWR);
    for (Client& client : impl_->clients) {
        client.thread.join();
        close(client.fd);
        if (client.originFd.load() >= 0) close(client.originFd.load());
    }
    close(impl_->listenFd);
    close(impl_->stopFd);
}

unsigned short TestProxy::Port() const { return impl_->port; }

std::string TestProxy::Url() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

void TestProxy::Refuse(int status) { impl_->refuse.store(status); }

std::vector<RecordedRequest> TestProxy::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

}  // namespace vtest
