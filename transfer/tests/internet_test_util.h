// Helpers shared by the internet layer's tests: the three handles of one request,
// opened from a URL the way the fetch opens them.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "internet.h"
#include "seams.h"

namespace brindlex::net::testing {

class Handles {
public:
    explicit Handles(const std::string& url, const char* referer = nullptr,
                     const char* agent = "Vantorel 1.0") {
        UrlParts parts;
        if (!CrackUrl(url.c_str(), &parts)) return;
        session = InternetOpen(agent);
        connection = InternetConnect(session, parts.host, parts.port, parts.user, parts.password);
        const std::string object = std::string(parts.path) + parts.extra;
        request =
            HttpOpenRequest(connection, object.c_str(), referer, parts.schemeId == Scheme::Https);
    }
    ~Handles() {
        InternetCloseHandle(request);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
    }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    // Reads the whole body in blocks of at most `block` bytes; false when a read
    // fails or delivers more than asked for.
    bool ReadAll(std::string* body, std::size_t block = 256) {
        std::string buf(block, '\0');
        for (;;) {
            std::size_t got = 0;
            if (!InternetReadFile(request, buf.data(), block, &got) || got > block) return false;
            if (got == 0) return true;
            body->append(buf.data(), got);
        }
    }

    VHINTERNET session = nullptr;
    VHINTERNET connection = nullptr;
    VHINTERNET request = nullptr;
};

// A port on 127.0.0.1 that refuses every connection (bound, not listening), or
// whose connections never complete (listening with a full accept queue: further
// SYNs are dropped, so a connect waits in the handshake).
class LocalPort {
public:
    enum Behaviour { Refusing, NeverConnecting };
    explicit LocalPort(Behaviour behaviour) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no local port";
            return;
        }
        port_ = ntohs(address.sin_port);
        if (behaviour == NeverConnecting) {
            // A backlog of 0 holds one connection: this one fills it.
            filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (listen(listener_, 0) != 0 ||
                connect(filler_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
                ADD_FAILURE() << "cannot fill the accept queue";
            }
        }
    }
    ~LocalPort() {
        if (filler_ >= 0) close(filler_);
        if (listener_ >= 0) close(listener_);
    }
    LocalPort(const LocalPort&) = delete;
    LocalPort& operator=(const LocalPort&) = delete;
    unsigned short port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    unsigned short port_ = 0;
};

// Trusts `caFile` for HTTPS for the life of the guard.
class TrustCa {
public:
    explicit TrustCa(const std::string& caFile) { seams::SetTrustedCaFile(caFile); }
    ~TrustCa() { seams::SetTrustedCaFile(""); }
    TrustCa(const TrustCa&) = delete;
    TrustCa& operator=(const TrustCa&) = delete;
};

}  // namespace brindlex::net::testing
