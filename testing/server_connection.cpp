#include "server_connection.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace vtest {

ServerConnection::ServerConnection(int fd)
    : fd_(fd), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ServerConnection::~ServerConnection() { Close(); }

bool ServerConnection::StartTls(SSL_CTX* context) {
    ssl_ = SSL_new(context);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) return false;
    return SSL_accept(ssl_) == 1;
}

long ServerConnection::Read(char* buffer, std::size_t size) {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    if (ssl_ != nullptr) {
        const int n = SSL_read(ssl_, buffer, chunk);
        if (n > 0) return n;
        return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
    for (;;) {
        const ssize_t n = recv(fd_, buffer, static_cast<std::size_t>(chunk), 0);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

bool ServerConnection::Write(std::string_view data) {
    while (!data.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX));
        long n;
        if (ssl_ != nullptr) {
            // SSL_write writes through write(2): a reset peer raises SIGPIPE, which
            // the connection threads block (see TestServer's connection thread).
            n = SSL_write(ssl_, data.data(), chunk);
            if (n <= 0) return false;
        } else {
            n = send(fd_, data.data(), static_cast<std::size_t>(chunk), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ServerConnection::Sleep(std::chrono::microseconds duration) {
    pollfd wake{wakeFd_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= left.zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000),
                               static_cast<long>(ns % 1000000000)};
        const int ready = ppoll(&wake, 1, &timeout, nullptr);
        if (ready > 0) return false;
        if (ready < 0 && errno != EINTR) return false;
    }
}

void ServerConnection::WaitUntilEnded() {
    // POLLRDHUP without POLLIN: the peer's data is never read, only its close seen.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLRDHUP, 0}};
    while (poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
}

void ServerConnection::FinishAnswer() {
    if (ssl_ != nullptr) SSL_shutdown(ssl_);
    shutdown(fd_, SHUT_WR);
}

void ServerConnection::Interrupt() {
    if (fd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    // Ends a blocked recv, send or handshake: they see the end of the stream or EPIPE.
    shutdown(fd_, SHUT_RDWR);
}

void ServerConnection::Close() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) close(fd_);
    if (wakeFd_ >= 0) close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
}

}  // namespace vtest
