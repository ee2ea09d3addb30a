// One accepted connection of the test server: its socket, its TLS session in
// Https mode, and a wake-up that lets another thread end any wait on it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace vtest {

class ServerConnection {
public:
    // Takes ownership of the accepted socket `fd`.
    explicit ServerConnection(int fd);
    ~ServerConnection();
    // The server's other threads hold pointers to it (to interrupt it).
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // --- Called on the connection's own thread only. ---

    // Runs the server side of a TLS handshake; false when it fails.
    bool StartTls(SSL_CTX* context);
    // Reads at most `size` bytes: the count, 0 at the end of the peer's data or
    // after Interrupt, -1 on an error.
    long Read(char* buffer, std::size_t size);
    // Writes everything; false when the peer is gone or the connection was interrupted.
    bool Write(std::string_view data);
    // Waits `duration` unless interrupted first; false when interrupted.
    bool Sleep(std::chrono::microseconds duration);
    // Holds the connection silent until it is interrupted or the peer closes it.
    void WaitUntilEnded();
    // Ends the answer in order: TLS close_notify, then end of the byte stream, so
    // a body framed by the connection's end arrives whole.
    void FinishAnswer();

    // --- Called with the owner's connection lock held (any thread). ---

    // Wakes every pending and later call on this connection and ends the TCP
    // connection; the calls then fail or return at once.
    void Interrupt();
    // Frees the TLS session and closes the descriptors; later Interrupt calls do
    // nothing. Called by the connection's thread when it is done.
    void Close();

private:
    int fd_;
    int wakeFd_;
    SSL* ssl_ = nullptr;
};

}  // namespace vtest
