// The certificate authorities that HTTPS trusts.
//
// The system store, unless the user names another the way OpenSSL programs read
// it: SSL_CERT_FILE, a readable file, is the CA bundle, and SSL_CERT_DIR, a
// folder of hashed names (or a ':'-separated list of them), is the CA path, each
// in place of the store's own. libcurl reads neither variable itself. Verification
// is always on; nothing here can turn it off.
#pragma once

#include <curl/curl.h>

namespace brindlex::net {

// Worker thread, on each hop's easy handle. False when libcurl refuses an option.
bool SetTrustStore(CURL* easy);

}  // namespace brindlex::net
