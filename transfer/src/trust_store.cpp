#include "trust_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "seams.h"

namespace brindlex::net {

namespace {

// A regular file we can read. Opened without blocking, so a FIFO named by
// mistake cannot hold the transfer.
bool IsReadableFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folders of a ':'-separated list that exist, in the same form; "" for none.
std::string ExistingFolders(std::string_view list) {
    std::string kept;
    for (;;) {
        const auto colon = list.find(':');
        const std::string folder(list.substr(0, colon));
        if (IsFolder(folder)) {
            if (!kept.empty()) kept += ':';
            kept += folder;
        }
        if (colon == std::string_view::npos) return kept;
        list.remove_prefix(colon + 1);
    }
}

}  // namespace

bool SetTrustStore(CURL* easy) {
    // A test's own authority replaces every other.
    const std::string testCa = seams::TrustedCaFile();
    if (!testCa.empty()) {
        return curl_easy_setopt(easy, CURLOPT_CAINFO, testCa.c_str()) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr)) ==
                   CURLE_OK;
    }
    bool ok = true;
    const char* file = std::getenv("SSL_CERT_FILE");
    if (file != nullptr && IsReadableFile(file)) {
        ok = curl_easy_setopt(easy, CURLOPT_CAINFO, file) == CURLE_OK;
    }
    const char* dir = std::getenv("SSL_CERT_DIR");
    const std::string folders = dir != nullptr ? ExistingFolders(dir) : std::string();
    if (!folders.empty()) {
        ok = curl_easy_setopt(easy, CURLOPT_CAPATH, folders.c_str()) == CURLE_OK && ok;
    }
    return ok;
}

}  // namespace brindlex::net
