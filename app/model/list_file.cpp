#include "list_file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "atomic_file.h"
#include "job_queue.h"

std::string listPath;

std::string UrlWithoutQuotes(std::string_view url) {
    std::string encoded;
    encoded.reserve(url.size());
    for (char c : url) {
        if (c == '"') {
            encoded += "%22";
        } else {
            encoded += c;
        }
    }
    return encoded;
}

void AppendJobRecord(std::string& bytes, const char* url, const char* fileName) {
    // A job whose name copy failed has no file name: it keeps its place in the
    // file with an empty one, like an empty URL. A quote inside a field would end
    // it early and pair every later URL with the wrong file.
    bytes += '"';
    bytes += UrlWithoutQuotes(url != nullptr ? url : "");
    bytes += "\" \"";
    std::string name = fileName != nullptr ? fileName : "";
    std::replace(name.begin(), name.end(), '"', '-');
    bytes += name;
    bytes += "\"\n";
}

std::string JobListBytes() {
    std::string bytes;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        // A job marked for deletion is gone for the user even while its run winds
        // down: written, it would come back at the next start.
        if (job->status.load(std::memory_order_relaxed) == STATUS_DONE || job->deleteMark != 0) {
            continue;
        }
        AppendJobRecord(bytes, job->url, job->fileName);
    }
    return bytes;
}

namespace {

// Reads the stream a character at a time. Line ends need no translation: they
// stand outside the quotes, where everything is skipped, so CR LF and LF files
// read alike. Unlocked reads: the stream is ours alone while we read, and a lock
// per character would dominate a large file.
class RecordReader {
public:
    explicit RecordReader(std::FILE* file) : file_(file) {}

    int Next() { return getc_unlocked(file_); }

    // Consumes everything up to and including the next double quote; false at EOF.
    bool SkipPastQuote() {
        for (;;) {
            const int c = Next();
            if (c == EOF) {
                return false;
            }
            if (c == '"') {
                return true;
            }
        }
    }

    // Reads a field up to its closing quote, keeping at most `limit` characters:
    // the character that arrives when the field is full is dropped and ends it
    // as if it were the closing quote. False when EOF came first.
    bool ReadField(std::size_t limit, std::string* field) {
        field->clear();
        for (;;) {
            const int c = Next();
            if (c == EOF) {
                return false;
            }
            if (c == '"' || field->size() == limit) {
                return true;
            }
            field->push_back(static_cast<char>(c));
        }
    }

private:
    std::FILE* file_;
};

}  // namespace

void ReadRecords(std::FILE* file, void (*take)(std::string& url, std::string& name, void* context),
                 void* context) {
    RecordReader reader(file);
    std::string url;
    std::string name;
    while (reader.SkipPastQuote() && reader.ReadField(kListUrlMax, &url) &&
           reader.SkipPastQuote() && reader.ReadField(kListFileNameMax, &name)) {
        take(url, name, context);
    }
}

void LoadJobListFrom(std::FILE* file) {
    // Appending through the tail, not AppendJob: walking the list for every
    // record makes a large file quadratic.
    DownloadJob** tail = &jobList;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    RecordReader reader(file);
    std::string url;
    std::string name;
    while (reader.SkipPastQuote() && reader.ReadField(kListUrlMax, &url) &&
           reader.SkipPastQuote() && reader.ReadField(kListFileNameMax, &name)) {
        DownloadJob* job = new (std::nothrow) DownloadJob();
        if (job == nullptr) {
            return;
        }
        SetJobFileName(job, name.c_str());
        job->SetURL(url.c_str());
        *tail = job;
        tail = &job->next;
    }
}

void LoadJobList() {
    // Never through a symbolic link: a queue is the user's own file.
    const int fd = OpenStateFileForReading(listPath);
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (file == nullptr) {
        if (fd >= 0) close(fd);
        return;
    }
    LoadJobListFrom(file);
    std::fclose(file);
}
