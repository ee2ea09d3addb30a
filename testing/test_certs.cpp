#include "test_certs.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace vtest {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

constexpr long kDay = 24 * 60 * 60;

// Without its certificates no HTTPS test can mean anything: stop the test program
// loudly rather than let tests fail in confusing ways.
[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "test server: %s\n", what);
    ERR_print_errors_fp(stderr);
    std::abort();
}

// Everything a test server presents; made once per process, since every test
// makes servers and key generation is the costly part.
struct Material {
    KeyPtr caKey;
    CertPtr caCert;
    KeyPtr serverKey;
    CertPtr good, selfSigned, expired, wrongHost;
};

KeyPtr NewKey() {
    // EC P-256: milliseconds to make, where RSA would take a noticeable part of a second.
    KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) Die("test key generation failed");
    return key;
}

void AddExtension(X509* cert, X509V3_CTX* context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1) {
        X509_EXTENSION_free(extension);
        Die("test certificate extension failed");
    }
    X509_EXTENSION_free(extension);
}

struct CertRequest {
    const char* commonName;
    const char* subjectAltName;  // null for the CA
    long notBefore;              // seconds from now
    long notAfter;
    long serial;
};

// Makes a certificate for `subjectKey`, signed by `issuer` with `issuerKey`, or
// self-signed when `issuer` is null.
CertPtr MakeCert(const CertRequest& wanted, EVP_PKEY* subjectKey, X509* issuer,
                 EVP_PKEY* issuerKey) {
    CertPtr cert(X509_new());
    X509* x = cert.get();
    if (x == nullptr || X509_set_version(x, X509_VERSION_3) != 1 ||
        ASN1_INTEGER_set(X509_get_serialNumber(x), wanted.serial) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(x), wanted.notBefore) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(x), wanted.notAfter) == nullptr ||
        X509_set_pubkey(x, subjectKey) != 1) {
        Die("test certificate setup failed");
    }
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Vantorel tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(wanted.commonName), -1, -1,
                               0);
    X509_set_issuer_name(x, issuer != nullptr ? X509_get_subject_name(issuer) : name);

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer != nullptr ? issuer : x, x, nullptr, nullptr, 0);
    const bool isCa = wanted.subjectAltName == nullptr;
    if (isCa) {
        AddExtension(x, &context, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(x, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(x, &context, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(x, &context, NID_key_usage, "critical,digitalSignature");
        AddExtension(x, &context, NID_ext_key_usage, "serverAuth");
        AddExtension(x, &context, NID_subject_alt_name, wanted.subjectAltName);
    }
    AddExtension(x, &context, NID_subject_key_identifier, "hash");
    AddExtension(x, &context, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(x, issuerKey != nullptr ? issuerKey : subjectKey, EVP_sha256()) == 0) {
        Die("test certificate signing failed");
    }
    return cert;
}

Material MakeMaterial() {
    constexpr const char* kGoodNames = "IP:127.0.0.1,DNS:localhost";
    Material m;
    m.caKey = NewKey();
    m.serverKey = NewKey();
    // Valid from an hour ago, so a clock a little behind the test's does not matter.
    m.caCert = MakeCert({"Vantorel Test CA", nullptr, -3600, 3650 * kDay, 1}, m.caKey.get(),
                        nullptr, nullptr);
    X509* ca = m.caCert.get();
    EVP_PKEY* caKey = m.caKey.get();
    EVP_PKEY* key = m.serverKey.get();
    m.good = MakeCert({"127.0.0.1", kGoodNames, -3600, 365 * kDay, 2}, key, ca, caKey);
    m.expired = MakeCert({"127.0.0.1", kGoodNames, -30 * kDay, -kDay, 3}, key, ca, caKey);
    m.wrongHost =
        MakeCert({"example.invalid", "DNS:example.invalid", -3600, 365 * kDay, 4}, key, ca, caKey);
    m.selfSigned = MakeCert({"127.0.0.1", kGoodNames, -3600, 365 * kDay, 5}, key, nullptr, nullptr);
    return m;
}

const Material& TheMaterial() {
    static const Material material = MakeMaterial();  // thread-safe first use
    return material;
}

// The PEM text `write` puts into a memory BIO ("" when it fails).
template <typename WriteFn>
std::string PemText(WriteFn write) {
    BIO* bio = BIO_new(BIO_s_mem());
    std::string pem;
    if (bio != nullptr && write(bio)) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        pem.assign(data, static_cast<std::size_t>(size));
    }
    BIO_free(bio);
    return pem;
}

}  // namespace

std::string TestCaPem() {
    return PemText([](BIO* bio) { return PEM_write_bio_X509(bio, TheMaterial().caCert.get()) == 1; });
}

std::string TestServerCertPem() {
    return PemText([](BIO* bio) { return PEM_write_bio_X509(bio, TheMaterial().good.get()) == 1; });
}

std::string TestServerKeyPem() {
    return PemText([](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, TheMaterial().serverKey.get(), nullptr, nullptr, 0,
                                        nullptr, nullptr) == 1;
    });
}

SSL_CTX* NewTestServerContext(TestServer::Cert cert) {
    const Material& m = TheMaterial();
    X509* chosen = m.good.get();
    if (cert == TestServer::Cert::SelfSigned) chosen = m.selfSigned.get();
    if (cert == TestServer::Cert::Expired) chosen = m.expired.get();
    if (cert == TestServer::Cert::WrongHost) chosen = m.wrongHost.get();

    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) return nullptr;
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate(context, chosen) != 1 ||
        SSL_CTX_use_PrivateKey(context, m.serverKey.get()) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

std::string TestCaHashName() {
    const std::string pem = TestCaPem();
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    CertPtr cert(bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr);
    BIO_free(bio);
    if (!cert) Die("cannot read the test CA back");
    char name[16];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert.get()));
    return name;
}

std::string WriteTemporaryFile(const std::string& text, const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    std::string path =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vtest-XXXXXX" + suffix;
    const int fd = mkstemps(path.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
    if (fd < 0) return "";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    if (done != text.size()) {
        unlink(path.c_str());
        return "";
    }
    return path;
}

}  // namespace vtest
