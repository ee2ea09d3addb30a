// Certificates of the HTTPS test server, made in memory: a test CA and server
// certificates for each TestServer::Cert variant.
#pragma once

#include <string>

#include "test_server.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace vtest {

// PEM text of the test CA that signs the Good, Expired and WrongHost certificates.
std::string TestCaPem();

// PEM text of the Good server certificate (127.0.0.1 and localhost) and of its
// private key, for a server of another program (the benchmarks' nginx).
std::string TestServerCertPem();
std::string TestServerKeyPem();

// The name the test CA goes by in a hashed CA folder ("1a2b3c4d.0").
std::string TestCaHashName();

// A new TLS server context presenting the certificate `cert`; the caller frees it
// with SSL_CTX_free. Null when OpenSSL fails.
SSL_CTX* NewTestServerContext(TestServer::Cert cert);

// Writes `text` to a new file in the temporary folder and returns its path ("" on failure).
std::string WriteTemporaryFile(const std::string& text, const char* suffix);

}  // namespace vtest
