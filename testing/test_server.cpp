// The test server's listener, its connection threads and the scripted routes.
//
// One thread accepts; each connection gets a thread that reads one request,
// answers it as its route says and closes the connection (or, for a keep-alive
// route, reads the next request). Stopping interrupts
// every connection (ServerConnection::Interrupt) and joins every thread.
#include "test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "body_sender.h"
#include "http_request_reader.h"
#include "route_answer.h"
#include "server_connection.h"
#include "test_certs.h"

namespace vtest {
namespace {

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::abort();
}

// The answers scripted for one path, taken in turn; the last one repeats.
struct Script {
    std::vector<std::shared_ptr<const Route>> routes;
    std::size_t served = 0;
};

struct Connection {
    explicit Connection(int fd) : transport(fd) {}
    ServerConnection transport;
    std::thread thread;
    bool finished = false;  // guarded by Impl::mutex
};

}  // namespace

struct TestServer::Impl {
    Mode mode;
    SSL_CTX* tls = nullptr;
    std::string caFile;
    int listenFd = -1;
    int stopFd = -1;
    unsigned short port = 0;
    std::thread acceptThread;
    std::atomic<bool> silent{false};

    mutable std::mutex mutex;  // guards everything below
    std::map<std::string, Script> scripts;
    std::vector<RecordedRequest> requests;
    std::list<Connection> connections;
    std::size_t accepted = 0;

    void Listen();
    void AcceptLoop();
    void Serve(Connection* connection, bool silentConnection);
    // True when the connection stays open for another request.
    bool Answer(ServerConnection& transport, const RecordedRequest& request);
    std::shared_ptr<const Route> TakeRoute(const std::string& target);
    void JoinFinished();
};

void TestServer::Impl::Listen() {
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) Die("test server: socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // an ephemeral port, so tests never collide
    socklen_t length = sizeof address;
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd, SOMAXCONN) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Die("test server: listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    stopFd = eventfd(0, EFD_CLOEXEC);
    if (stopFd < 0) Die("test server: eventfd");
}

// Accept thread.
void TestServer::Impl::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (fds[1].revents == 0) continue;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;  // the peer gave up already, or a signal
        // Head and body go out in separate writes: without this, the body of a
        // second answer on a kept connection waits for the client's delayed ACK.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        JoinFinished();
        std::lock_guard lock(mutex);
        ++accepted;
        Connection& connection = connections.emplace_back(fd);
        // Started under the lock: the thread takes it again only when it ends, so
        // `thread` is set before anyone can see the connection finished.
        connection.thread =
            std::thread([this, &connection, quiet = silent.load()] { Serve(&connection, quiet); });
    }
}

// Accept thread: joins the threads of connections that have ended, so a long test
// holds threads only for its open connections.
void TestServer::Impl::JoinFinished() {
    std::list<Connection> done;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if (it->finished) done.splice(done.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : done) connection.thread.join();
}

// Connection thread.
void TestServer::Impl::Serve(Connection* connection, bool silentConnection) {
    // A TLS write to a peer that reset the connection raises SIGPIPE; blocked here,
    // the write just fails, and the test program's own signal setup is untouched.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    ServerConnection& transport = connection->transport;
    if (silentConnection) {
        transport.WaitUntilEnded();
    } else if (mode == Mode::Http || transport.StartTls(tls)) {
        RecordedRequest request;
        while (ReadRequest(transport, &request)) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(request);
            }
            if (!Answer(transport, request)) break;
            request = RecordedRequest{};
        }
    }
    std::lock_guard lock(mutex);
    transport.Close();
    connection->finished = true;
}

// Connection thread.
bool TestServer::Impl::Answer(ServerConnection& transport, const RecordedRequest& request) {
    const std::shared_ptr<const Route> route = TakeRoute(request.target);
    if (route->neverAnswer) {
        transport.WaitUntilEnded();
        return false;
    }
    if (route->raw) {
        if (transport.Write(*route->raw)) transport.FinishAnswer();
        return false;
    }
    const AnswerPlan plan = PlanAnswer(*route, request);
    if (transport.Write(plan.head) &&
        SendBody(transport, *route, plan.bodyStart, plan.bodyEnd) == BodyEnd::Complete) {
        if (route->keepAlive && route->framing == Route::Framing::Length) return true;
        transport.FinishAnswer();
    }
    return false;
}

std::shared_ptr<const Route> TestServer::Impl::TakeRoute(const std::string& target) {
    static const auto notFound = std::make_shared<const Route>(NotFoundRoute());
    std::lock_guard lock(mutex);
    const auto it = scripts.find(std::string(TargetPath(target)));
    if (it == scripts.end() || it->second.routes.empty()) return notFound;
    Script& script = it->second;
    const std::size_t index = std::min(script.served++, script.routes.size() - 1);
    return script.routes[index];
}

TestServer::TestServer(Mode mode, Cert cert) : impl_(std::make_unique<Impl>()) {
    impl_->mode = mode;
    if (mode == Mode::Https) {
        impl_->tls = NewTestServerContext(cert);
        if (impl_->tls == nullptr) Die("test server: TLS context");
        impl_->caFile = WriteTemporaryFile(TestCaPem(), ".pem");
        if (impl_->caFile.empty()) Die("test server: CA file");
    }
    impl_->Listen();
    impl_->acceptThread = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

TestServer::~TestServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->stopFd, &one, sizeof one);
    impl_->acceptThread.join();
    DropAll();
    // No new connection can appear now; the threads take the lock once more to finish.
    for (Connection& connection : impl_->connections) connection.thread.join();
    impl_->connections.clear();
    close(impl_->listenFd);
    close(impl_->stopFd);
    if (impl_->tls != nullptr) SSL_CTX_free(impl_->tls);
    if (!impl_->caFile.empty()) unlink(impl_->caFile.c_str());
}

void TestServer::Set(const std::string& path, Route route) {
    SetSequence(path, {std::move(route)});
}

void TestServer::SetSequence(const std::string& path, std::vector<Route> routes) {
    Script script;
    for (Route& route : routes)
        script.routes.push_back(std::make_shared<const Route>(std::move(route)));
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[path] = std::move(script);
}

std::string TestServer::Url(const std::string& target) const {
    return std::string(impl_->mode == Mode::Https ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(impl_->port) + target;
}

unsigned short TestServer::Port() const { return impl_->port; }

std::vector<RecordedRequest> TestServer::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<RecordedRequest> TestServer::RequestsFor(const std::string& path) const {
    std::vector<RecordedRequest> found;
    std::lock_guard lock(impl_->mutex);
    for (const RecordedRequest& request : impl_->requests) {
        if (request.target.compare(0, path.size(), path) == 0) found.push_back(request);
    }
    return found;
}

std::size_t TestServer::AcceptedConnections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->accepted;
}

std::string TestServer::CaFile() const { return impl_->caFile; }

void TestServer::SetSilent(bool silent) { impl_->silent.store(silent); }

void TestServer::DropAll() {
    std::lock_guard lock(impl_->mutex);
    for (Connection& connection : impl_->connections) {
        if (!connection.finished) connection.transport.Interrupt();
    }
}

}  // namespace vtest
