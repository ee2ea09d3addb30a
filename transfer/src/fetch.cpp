// One attempt to fetch the object's URL into its output file (worker thread).
//
// The output file's length always equals `received` when the attempt ends: every
// block is written and flushed before `received` grows, the file is cut to the write
// offset before the body starts, and a failed write is cut back. So the next attempt
// can resume from the file's length and never splice stale or partial bytes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "brindlex/vbrindlex.h"
#include "content_range.h"
#include "internet.h"
#include "resume_validator.h"
#include "speed_limit.h"

namespace net = brindlex::net;

namespace {

constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kHeaderBufferSize = 2048;

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return file == nullptr || fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// Cuts the file at `length`; bytes past the write offset can only be stale.
bool CutTo(std::FILE* file, std::uint64_t length) {
    if (file == nullptr) return true;
    struct stat st {};
    if (fstat(fileno(file), &st) != 0) return false;
    if (static_cast<std::uint64_t>(st.st_size) <= length) return true;
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

// One block straight to the file: the stream is unbuffered, so stdio would make
// the same write(2) with a lock and a flush around it.
bool WriteBlock(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, data, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void StampFileTime(std::FILE* file, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    futimens(fileno(file), times);
}

}  // namespace

unsigned long VBRINDLEX::MinorThread() {
    // Step numbers follow the order of the work: open, split, connect, request,
    // open the file, send, read the answer's headers, receive, finish.
    const char* const path = dataReceptor;
    if (path == nullptr) return GoClose(nullptr, RESULT_FILE_PROBLEM, STATUS_FAILED);

    // Our own references; the members hold others, which the run thread may drop
    // (closing the handle) at any moment.
    net::InternetRef session(net::InternetOpen(agent));
    if (!session) return GoClose(nullptr, RESULT_OPEN_FAILED, STATUS_FAILED);
    net::InternetRetain(session.get());
    internetHandle.store(session.get(), std::memory_order_release);
    SetStatus(STATUS_OPENING);

    net::UrlParts parts;
    if (!net::CrackUrl(url, &parts)) return GoClose(nullptr, RESULT_BAD_URL, STATUS_FAILED);
    // The object of the request: path and extra information exactly as the URL
    // gives them. The decoded parts only have to fit their buffers.
    const std::string& object = parts.object;
    if (parts.schemeId == net::Scheme::Unknown) {
        return GoClose(nullptr, RESULT_UNSUPPORTED, STATUS_FAILED);
    }
    SetStatus(STATUS_CONNECT);

    net::InternetRef connection(
        net::InternetConnect(session.get(), parts.host, parts.port, parts.user, parts.password));
    if (!connection) return GoClose(nullptr, RESULT_NO_CONNECT, STATUS_FAILED);
    net::InternetRetain(connection.get());
    connectHandle.store(connection.get(), std::memory_order_release);

    net::InternetRef request(net::HttpOpenRequest(connection.get(), object.c_str(), referer,
                                                  parts.schemeId == net::Scheme::Https));
    if (!request) return GoClose(nullptr, RESULT_BAD_REQUEST, STATUS_FAILED);
    net::InternetRetain(request.get());
    requestHandle.store(request.get(), std::memory_order_release);
    SetStatus(STATUS_REQUEST);

    // The Range and Referer lines are built without a size limit: a long URL still
    // gets its whole Referer line.
    std::string headers;
    std::FILE* file = nullptr;
    std::uint64_t existingLength = 0;
    // Which version the partial file holds, when it says so.
    std::optional<brindlex::ResumeValidator> validator;
    bool rangeAsked = false;
    const bool toFile = (flags.load(std::memory_order_relaxed) & FLAG_TO_FILE) != 0;
    if (toFile) {
        // Never truncated on opening (another instance may be writing the file
        // under its lock), and never through a symbolic link: one planted in a
        // shared save folder under the download's name would have us write over
        // the file it points to.
        const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) file = fdopen(fd, "r+b");
        if (file == nullptr) {
            if (fd >= 0) close(fd);
            return GoClose(nullptr, RESULT_FILE_PROBLEM, STATUS_FAILED);
        }
        // Two runs writing one file (two jobs with the same name, or two programs
        // saving to one folder) would interleave their bytes: the second one waits
        // for another attempt instead. The lock goes with the close.
        if (flock(fileno(file), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        }
        // Unbuffered: the blocks are written to the descriptor directly, and nothing
        // may sit in a stdio buffer for fclose to write later.
        std::setvbuf(file, nullptr, _IONBF, 0);
        if (fseeko(file, 0, SEEK_END) != 0) return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        existingLength = static_cast<std::uint64_t>(ftello(file));
        if (existingLength != 0) validator = brindlex::ReadResumeValidator(fileno(file));
        if (existingLength != 0 && !(flags.load(std::memory_order_relaxed) & FLAG_NO_RANGE)) {
            headers = "Range: bytes=" + std::to_string(existingLength) + "-\r\n";
            rangeAsked = true;
            received.store(existingLength, std::memory_order_relaxed);
            // The range is only wanted if it is still of the same version.
            if (validator) {
                net::HttpSetIfRange(request.get(), validator->value.c_str(),
                                    validator->origin.c_str());
            }
        }
    }
    // The URL's own credentials never travel in a Referer line.
    headers += "Referer: ";
    headers += net::WithoutCredentials(url);
    headers += "\r\n";

    if (!net::HttpSendRequest(request.get(), headers.c_str())) {
        return GoClose(file, net::HttpSendFailure(request.get()), STATUS_FAILED);
    }
    SetStatus(STATUS_CATCH);

    // Every header is read before any of them decides anything. A stop or the
    // watchdog may close the handle at any moment, and a query on a closed handle
    // fails as if the header were absent: taken as "no ranges, no length", that
    // would rewind and cut the partial file. The close is final, so when the
    // handle is still open after the last query, every failed query was a header
    // the answer really lacks.
    unsigned long httpStatus = 0;
    const bool haveStatus = net::HttpQueryStatusCode(request.get(), &httpStatus);
    char buffer[kHeaderBufferSize];
    bool advertisesRanges = false;
    bool unreadable = !haveStatus;
    if (net::HttpQueryHeader(request.get(), "Accept-Ranges", buffer, sizeof buffer)) {
        advertisesRanges = std::strstr(buffer, "bytes") != nullptr;
    } else if (net::HttpHasHeader(request.get(), "Accept-Ranges")) {
        unreadable = true;  // there, but too long to read
    }
    std::time_t modified = 0;
    if (!net::HttpQueryLastModified(request.get(), &modified)) modified = std::time(nullptr);
    std::uint64_t announced = 0;
    const bool hasLength = net::HttpQueryContentLength(request.get(), &announced);
    char rangeText[kHeaderBufferSize];
    const bool hasRangeText =
        net::HttpQueryHeader(request.get(), "Content-Range", rangeText, sizeof rangeText);
    const bool hasRangeHeader = hasRangeText || net::HttpHasHeader(request.get(), "Content-Range");
    if (unreadable || net::InternetIsClosed(request.get())) {
        const bool stopAsked = stopEvent != nullptr && VIsSignalled(stopEvent);
        return GoClose(file, stopAsked ? RESULT_INTERRUPTED : RESULT_DROPPED, STATUS_FAILED);
    }

    // A file already as long as the resource is done, unless asked to fetch it again.
    const bool keepComplete = !(flags.load(std::memory_order_relaxed) & FLAG_REFETCH_COMPLETE);
    std::uint64_t unsatisfiable = 0;
    if (httpStatus == 416 && rangeAsked && keepComplete && hasRangeText &&
        brindlex::ParseUnsatisfiedRange(rangeText, &unsatisfiable) &&
        unsatisfiable == existingLength) {
        // Nothing past the file's end: it already holds the whole resource (a run
        // that ended after its last block, before its owner saw it end).
        totalSize.store(existingLength, std::memory_order_relaxed);
        received.store(existingLength, std::memory_order_relaxed);
        return GoClose(file, RESULT_OK, STATUS_DONE);
    }
    if (httpStatus >= 300) return GoClose(file, httpStatus, STATUS_FAILED);

    // An answer with no body says nothing about the bytes already held: taken as
    // the whole resource, it would replace the partial file with nothing.
    const bool noBody = httpStatus == 204 || httpStatus == 205 || (hasLength && announced == 0);
    if (rangeAsked && noBody && !hasRangeHeader) {
        return GoClose(file, RESULT_DROPPED, STATUS_FAILED);
    }

    brindlex::ContentRange range{};
    // A continuation: the body belongs at the range start the server names. It is
    // written there only when that leaves no gap in the file; an answer we cannot
    // place is refused and the file stays as it was.
    const bool rangeAccepted = hasRangeText && brindlex::ParseContentRange(rangeText, &range) &&
                               range.start <= existingLength;
    // A range we could place proves that ranges work, whatever Accept-Ranges says:
    // many servers send it on a 200 only, never on a 206.
    if (!advertisesRanges && !rangeAccepted) {
        flags.fetch_or(FLAG_NO_RANGE, std::memory_order_relaxed);
    }
    if (rangeAccepted) {
        totalSize.store(range.total, std::memory_order_relaxed);
        if (!SeekTo(file, range.start)) return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        received.store(range.start, std::memory_order_relaxed);
    } else if (hasRangeHeader || httpStatus == 206) {
        // A range we cannot place, or part of the resource with no range we can
        // read (none given, or one too long for the buffer): taken as the whole, it
        // would be written over the head of the file or, as long as the file, end
        // as done at once.
        return GoClose(file, RESULT_DROPPED, STATUS_FAILED);
    } else if (hasLength && announced != 0) {
        // The whole resource follows.
        totalSize.store(announced, std::memory_order_relaxed);
        // A file with a validator is known to be partial: one as long as the whole
        // answer holds another version (the server found our validator stale).
        if (announced == existingLength && keepComplete && !validator) {
            received.store(existingLength, std::memory_order_relaxed);
            return GoClose(file, RESULT_OK, STATUS_DONE);
        }
        if (!SeekTo(file, 0)) return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        received.store(0, std::memory_order_relaxed);
    } else {
        // No usable length and no range: the whole resource follows, read to its end.
        totalSize.store(SIZE_UNKNOWN, std::memory_order_relaxed);
        if (!SeekTo(file, 0)) return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        received.store(0, std::memory_order_relaxed);
    }
    if (!CutTo(file, received.load(std::memory_order_relaxed))) {
        return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
    }
    if (file != nullptr) {
        brindlex::KeepResumeValidator(fileno(file), request.get(),
                                      received.load(std::memory_order_relaxed) != 0);
    }

    char block[kBlockSize];
    brindlex::SpeedPacer pacer(*this);
    for (;;) {
        const std::uint64_t done = received.load(std::memory_order_relaxed);
        const std::uint64_t total = totalSize.load(std::memory_order_relaxed);
        SetStatus(static_cast<long long>(done));
        if (total != SIZE_UNKNOWN && done >= total) break;
        if (stopEvent != nullptr && VIsSignalled(stopEvent)) break;
        std::size_t want = kBlockSize;
        if (total != SIZE_UNKNOWN && total - done <= kBlockSize) want = total - done;

        std::size_t count = 0;
        if (!net::InternetReadFile(request.get(), block, want, &count)) {
            return GoClose(file, RESULT_DROPPED, STATUS_FAILED);
        }
        if (count == 0) {
            if (total == SIZE_UNKNOWN) {
                totalSize.store(done, std::memory_order_relaxed);
                continue;
            }
            return GoClose(file, RESULT_DROPPED, STATUS_FAILED);
        }
        if (file != nullptr && !WriteBlock(fileno(file), block, count)) {
            // A disk that filled up may have taken part of the block: keep the file
            // exactly as long as what was counted.
            CutTo(file, done);
            return GoClose(file, RESULT_FILE_PROBLEM, STATUS_FAILED);
        }
        received.store(done + count, std::memory_order_relaxed);
        pacer.Written(count);
    }

    if (file != nullptr) StampFileTime(file, modified);
    if (totalSize.load(std::memory_order_relaxed) <= received.load(std::memory_order_relaxed)) {
        return GoClose(file, RESULT_OK, STATUS_DONE);
    }
    return GoClose(file, RESULT_INTERRUPTED, STATUS_FAILED);
}
