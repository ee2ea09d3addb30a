#include "caught_fields.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "atomic_file.h"
#include "job_queue.h"
#include "list_file.h"
#include "program_paths.h"

namespace {

// What the file held after the last save or load, and its path, so an unchanged
// set is not written again at every save of the list.
struct Written {
    std::string path;
    std::string bytes;
};
Written& Last() {
    static Written last;
    return last;
}

// The job as the list file writes it, so an entry finds its job after a restart.
std::string KeyOf(std::string_view url, std::string_view fileName) {
    std::string name(fileName);
    std::replace(name.begin(), name.end(), '"', '-');
    return UrlWithoutQuotes(url) + '\0' + name;
}

void AppendField(std::string& bytes, std::string_view name, std::string_view value) {
    bytes.append(name);
    bytes.push_back('=');
    bytes.append(value);
    bytes.push_back('\0');
}

std::string JoinedCookies(const std::vector<std::string>& cookies) {
    std::string lines;
    for (const std::string& cookie : cookies) {
        if (!lines.empty()) lines.push_back('\n');
        lines += cookie;
    }
    return lines;
}

// Whether any job of this process was given fields: until one was, a save has
// nothing to look for and does not walk the list (most queues never catch one).
bool anyAttached = false;

// The User-Agent a job has when it has none of its own.
const char* BuiltInAgent() {
    static const std::string agent = [] {
        const VBRINDLEX plain;
        return std::string(plain.agent != nullptr ? plain.agent : "");
    }();
    return agent.c_str();
}

}  // namespace

void AttachCaughtFields(DownloadJob* job, CaughtFields fields) {
    // Off the old fields' text before they go.
    job->agent = BuiltInAgent();
    job->caught = std::make_unique<CaughtFields>(std::move(fields));
    anyAttached = true;
    const CaughtFields& kept = *job->caught;
    job->SetReferer(kept.referer.empty() ? nullptr : kept.referer.c_str());
    job->refererIsPage = kept.referer.empty() ? 0 : 1;
    job->SetCookies(kept.cookies.empty() ? nullptr : JoinedCookies(kept.cookies).c_str());
    // The job's own copy holds the text for as long as the job lives.
    if (!kept.agent.empty()) job->agent = kept.agent.c_str();
}

const CaughtFields* CaughtFieldsOf(const DownloadJob* job) { return job->caught.get(); }

std::string CaughtFieldsPath() { return FolderOf(listPath) + "caught-downloads.dat"; }

std::string CaughtFieldsBytes() {
    // In list order, so the same set always gives the same bytes.
    std::string bytes;
    if (!anyAttached) return bytes;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        if (job->caught == nullptr || job->deleteMark != 0 ||
            job->status.load(std::memory_order_relaxed) == STATUS_DONE) {
            continue;
        }
        const CaughtFields& fields = *job->caught;
        const std::string key = KeyOf(job->url != nullptr ? job->url : "",
                                      job->fileName != nullptr ? job->fileName : "");
        const std::size_t split = key.find('\0');
        AppendField(bytes, "url", std::string_view(key).substr(0, split));
        AppendField(bytes, "file", std::string_view(key).substr(split + 1));
        AppendField(bytes, "referer", fields.referer);
        AppendField(bytes, "agent", fields.agent);
        for (const std::string& cookie : fields.cookies) AppendField(bytes, "cookie", cookie);
        bytes.push_back('\0');
    }
    return bytes;
}

void SaveCaughtFields() {
    std::string bytes = CaughtFieldsBytes();
    std::string path = CaughtFieldsPath();
    if (path != Last().path && bytes.empty()) {
        // No fields to keep: a file left from before is emptied, none is made.
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) {
            Last() = Written{std::move(path), std::string()};
            return;
        }
    }
    if (bytes == Last().bytes && path == Last().path) return;
    if (WriteFileAtomically(path, bytes)) Last() = Written{std::move(path), std::move(bytes)};
}

void LoadCaughtFields() {
    const std::string path = CaughtFieldsPath();
    Last() = Written{path, std::string()};
    const int fd = OpenStateFileForReading(path);
    if (fd < 0) return;
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            bytes.clear();
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    Last().bytes = bytes;

    std::unordered_map<std::string, CaughtFields> entries;
    std::string url, file;
    CaughtFields fields;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        const std::string_view field = std::string_view(bytes).substr(start, end - start);
        if (field.empty()) {
            entries[url + '\0' + file] = std::move(fields);
            url.clear();
            file.clear();
            fields = CaughtFields();
            continue;
        }
        const std::size_t equals = field.find('=');
        const std::string_view name = field.substr(0, equals);
        const std::string value(equals == std::string_view::npos ? "" : field.substr(equals + 1));
        if (name == "url") url = value;
        if (name == "file") file = value;
        if (name == "referer") fields.referer = value;
        if (name == "agent") fields.agent = value;
        if (name == "cookie") fields.cookies.push_back(value);
    }
    if (entries.empty()) return;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        const auto found = entries.find(KeyOf(job->url != nullptr ? job->url : "",
                                              job->fileName != nullptr ? job->fileName : ""));
        if (found == entries.end()) continue;
        AttachCaughtFields(job, std::move(found->second));
        entries.erase(found);
    }
}
