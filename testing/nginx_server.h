// A private nginx (Debian's nginx-light) on 127.0.0.1 for the benchmarks: the
// server the user's downloads meet in the wild, beside the in-process test
// server. It serves one file of a given size at every path, speaks HTTP/1.1 with
// keep-alive, over plain HTTP or over HTTPS with the test CA's certificate
// (test_certs.h; the clients trust TestCaPem). Its configuration, files and logs
// live in a temporary folder, removed with it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "temp_dir.h"

namespace vtest {

class NginxServer {
public:
    // Starts nginx on a free port and waits until it accepts connections. Ends
    // the process with a message naming the package when nginx is not installed
    // or does not start: a benchmark without its server has nothing to measure.
    NginxServer(std::uint64_t fileSize, bool https);
    // Stops nginx and waits for it.
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // "http://127.0.0.1:PORT" + path, or https.
    std::string Url(const std::string& path) const;
    // A PEM file holding the test CA, for SSL_CERT_FILE and curl's --cacert.
    const std::string& CaFile() const { return caFile_; }

private:
    TempDir dir_;
    std::string caFile_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool https_ = false;
};

}  // namespace vtest
