#include "nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "test_certs.h"

extern char** environ;

namespace vtest {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "nginx server: %s\n", what.c_str());
    std::exit(2);
}

// A port nobody listens on now. Another program may take it before nginx
// does: the start is then tried again on another one.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) Die("cannot write " + path);
}

// One worker, as the two cores of a small machine suggest; every path answers
// with the one file; no access log (its writes would be measured too).
std::string Config(const std::string& root, int port, bool https) {
    std::string text = "worker_processes 1;\ndaemon off;\nmaster_process on;\n";
    // Started by root, the worker would run as another user, who cannot read
    // the private temporary folder.
    if (geteuid() == 0) text += "user root;\n";
    text += "pid " + root + "/nginx.pid;\nerror_log " + root + "/error.log;\n";
    text += "events { worker_connections 4096; }\nhttp {\n  access_log off;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        text += std::string("  ") + kind + "_temp_path " + root + "/temp;\n";
    }
    text += "  keepalive_timeout 65s;\n  keepalive_requests 100000;\n";
    text += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + (https ? " ssl" : "") +
            ";\n";
    if (https) {
        text += "    ssl_certificate " + root + "/server.pem;\n";
        text += "    ssl_certificate_key " + root + "/server.key;\n";
        text += "    ssl_session_cache shared:SSL:10m;\n";
    }
    text += "    root " + root + "/www;\n    location / { try_files /file =404; }\n  }\n}\n";
    return text;
}

}  // namespace

NginxServer::NginxServer(std::uint64_t fileSize, bool https) : https_(https) {
    if (access(kNginx, X_OK) != 0) {
        Die(std::string(kNginx) +
            " not found: install Debian's nginx-light (apt-get install nginx-light)");
    }
    const std::string root = dir_.Path();
    std::filesystem::create_directories(root + "/www");
    std::filesystem::create_directories(root + "/temp");
    WriteText(root + "/www/file", std::string(fileSize, 'v'));
    caFile_ = root + "/ca.pem";
    WriteText(caFile_, TestCaPem());
    if (https) {
        WriteText(root + "/server.pem", TestServerCertPem());
        WriteText(root + "/server.key", TestServerKeyPem());
    }
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = FreePort();
        const std::string config = root + "/nginx.conf";
        WriteText(config, Config(root, port_, https));
        const std::string log = root + "/output";
        std::string args[] = {kNginx, "-q", "-p", root, "-c", config};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = -1;
        const bool spawned = posix_spawn(&pid, kNginx, &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!spawned) Die("cannot start " + std::string(kNginx));
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;  // ended: most likely the port was taken meanwhile
                break;
            }
            if (Accepts(port_)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid > 0 && !Accepts(port_)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        pid_ = pid;
    }
    if (pid_ < 0) {
        Die("nginx did not start; its messages: " + ReadWholeFile(root + "/output") +
            ReadWholeFile(root + "/error.log"));
    }
}

NginxServer::~NginxServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGQUIT);  // graceful: the master takes its worker with it
    waitpid(pid_, nullptr, 0);
}

std::string NginxServer::Url(const std::string& path) const {
    return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           path;
}

}  // namespace vtest
