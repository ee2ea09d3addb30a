// One attempt to fetch the object's URL into its output file (worker thread).
//
// The output file's length always equals `received` when the attempt ends: every
// block is written and flushed before `received` grows, the file is cut to the write
// offset when the body's first byte arrives, and a failed write is cut back. So the
// next attempt can resume from the file's length and never splice stale or partial
// bytes.
//
// A file fetched over several connections (split_fetch.h) has holes instead: its
// record of held ranges says what it holds, and such a file is never judged by
// its length.
//
// Bytes held are never glued to bytes of another version. When the answer shows
// that the partial file is stale (a range of another version than the one the
// file's validator names, or a 416 naming a resource shorter than the file), the
// same attempt asks once more, without a range, and the whole resource replaces
// the file: no try is spent on it, and the old bytes stay until the new body's
// first byte arrives.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "answer_head.h"
#include "brindlex/vbrindlex.h"
#include "content_range.h"
#include "held_record.h"
#include "internet.h"
#include "output_file.h"
#include "resume_validator.h"
#include "speed_limit.h"
#include "split_fetch.h"

namespace net = brindlex::net;

namespace {

constexpr std::size_t kBlockSize = 256;

// Cuts the file at `length`; bytes past the write offset can only be stale.
bool CutTo(int fd, std::uint64_t length) {
    if (fd < 0) return true;
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if (static_cast<std::uint64_t>(st.st_size) <= length) return true;
    return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

// The validator attribute's text, as the record of held ranges names it.
std::string VersionText(const std::optional<brindlex::ResumeValidator>& validator) {
    return validator ? validator->origin + " " + validator->value : std::string();
}

// Where the first byte the record does not hold is.
std::uint64_t HeldPrefix(const brindlex::HeldRecord& record) {
    return !record.ranges.empty() && record.ranges.front().start == 0 ? record.ranges.front().end
                                                                      : 0;
}

void StampFileTime(int fd, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    futimens(fd, times);
}

}  // namespace

unsigned long VBRINDLEX::MinorThread() {
    // Step numbers follow the order of the work: open, split, connect, request,
    // open the file, send, read the answer's headers, receive, finish.
    const char* const path = dataReceptor;
    // Taken once, as the run starts.
    const unsigned wanted = connections == 0 ? 1 : connections;
    if (path == nullptr) {
        errno = 0;  // no call failed: there is no file to name
        return GoClose(-1, RESULT_FILE_PROBLEM, STATUS_FAILED);
    }

    // Our own references; the members hold others, which the run thread may drop
    // (closing the handle) at any moment.
    net::InternetRef session(net::InternetOpen(agent, cookies));
    if (!session) return GoClose(-1, RESULT_OPEN_FAILED, STATUS_FAILED);
    net::InternetRetain(session.get());
    internetHandle.store(session.get(), std::memory_order_release);
    SetStatus(STATUS_OPENING);

    net::UrlParts parts;
    if (!net::CrackUrl(url, &parts)) return GoClose(-1, RESULT_BAD_URL, STATUS_FAILED);
    // The object of the request: path and extra information exactly as the URL
    // gives them. The decoded parts only have to fit their buffers.
    const std::string& object = parts.object;
    if (parts.schemeId == net::Scheme::Unknown) {
        return GoClose(-1, RESULT_UNSUPPORTED, STATUS_FAILED);
    }
    SetStatus(STATUS_CONNECT);

    net::InternetRef connection(
        net::InternetConnect(session.get(), parts.host, parts.port, parts.user, parts.password));
    if (!connection) return GoClose(-1, RESULT_NO_CONNECT, STATUS_FAILED);
    net::InternetRetain(connection.get());
    connectHandle.store(connection.get(), std::memory_order_release);

    // A request handle per request of the attempt; the member holds the current
    // one, so a stop or the watchdog always closes the one in use.
    net::InternetRef request;
    auto openRequest = [&] {
        VHINTERNET made = net::HttpOpenRequest(connection.get(), object.c_str(), referer,
                                               parts.schemeId == net::Scheme::Https);
        if (made == nullptr) return false;
        request.reset(made);
        net::InternetRetain(made);
        net::InternetCloseHandle(requestHandle.exchange(made, std::memory_order_acq_rel));
        return true;
    };
    if (!openRequest()) return GoClose(-1, RESULT_BAD_REQUEST, STATUS_FAILED);
    SetStatus(STATUS_REQUEST);

    brindlex::OutputFile output;
    const int& file = output.fd;
    // Which of our attributes the file may carry: any, on a file found there;
    // on one this attempt made, those it set.
    bool marked = false;
    bool recordWritten = false;
    // Every ending goes through here: a failed attempt takes away the empty file
    // it made, so a 404 leaves nothing behind, and a complete file has nothing
    // left to resume.
    auto end = [&](unsigned long code, long long finalStatus) {
        if (finalStatus == STATUS_DONE && file >= 0) {
            if (marked) brindlex::ForgetResumeValidator(file);
            if (recordWritten) brindlex::ForgetHeldRecord(file);
        }
        // The failed call's errno must reach GoClose (fileError) past the removal.
        const int error = errno;
        if (finalStatus != STATUS_DONE) brindlex::RemoveIfUntouched(output, path);
        errno = error;
        return GoClose(file, code, finalStatus);
    };
    std::uint64_t existingLength = 0;
    // Which version the partial file holds, when it says so.
    std::optional<brindlex::ResumeValidator> validator;
    const bool toFile = (flags.load(std::memory_order_relaxed) & FLAG_TO_FILE) != 0;
    if (toFile) {
        output = brindlex::OpenOutputFile(path);
        if (file < 0) return GoClose(-1, RESULT_FILE_PROBLEM, STATUS_FAILED);
        marked = recordWritten = !output.created;
        existingLength = output.length;
        if (existingLength != 0) validator = brindlex::ReadResumeValidator(file);
    }
    // A file split over several connections has holes: its record, not its
    // length, says what it holds. One that cannot be trusted is fetched again
    // from the start, never spliced.
    brindlex::HeldRecord record;
    brindlex::RecordState recordState = brindlex::RecordState::None;
    if (toFile && existingLength != 0) {
        recordState =
            brindlex::ReadHeldRecord(file, VersionText(validator), existingLength, &record);
    }
    const bool recorded = recordState == brindlex::RecordState::Trusted;
    if (recorded) existingLength = HeldPrefix(record);

    // A file already as long as the resource is done, unless asked to fetch it again.
    const bool keepComplete = !(flags.load(std::memory_order_relaxed) & FLAG_REFETCH_COMPLETE);
    // Set once the answer showed the held bytes stale: the whole resource again.
    bool fromStart = recordState == brindlex::RecordState::Untrusted;
    bool rangeAsked = false;
    brindlex::AnswerHead head;
    brindlex::ContentRange range{};
    bool rangeAccepted = false;
    std::string refererLine;
    // Set once a piece showed the file changed on the server during a split fetch.
    bool restarted = false;
ask:
    for (;;) {
        rangeAsked = !fromStart && (existingLength != 0 || recorded) &&
                     !(flags.load(std::memory_order_relaxed) & FLAG_NO_RANGE);
        // The Range and Referer lines are built without a size limit: a long URL
        // still gets its whole Referer line.
        std::string headers;
        if (rangeAsked) {
            headers = "Range: bytes=" + std::to_string(existingLength) + "-";
            // Only up to the next recorded range: nothing held is asked again.
            if (recorded) {
                for (const brindlex::ByteRange& held : record.ranges) {
                    if (held.start <= existingLength) continue;
                    headers += std::to_string(held.start - 1);
                    break;
                }
            }
            headers += "\r\n";
            received.store(existingLength, std::memory_order_relaxed);
            // The range is only wanted if it is still of the same version.
            if (validator) {
                net::HttpSetIfRange(request.get(), validator->value.c_str(),
                                    validator->origin.c_str());
            }
        }
        // The URL's own credentials never travel in a Referer line. A download
        // started from a page names that page, as the browser would have.
        const bool page = refererIsPage != 0 && referer != nullptr && *referer != '\0';
        refererLine = "Referer: " + net::WithoutCredentials(page ? referer : url) + "\r\n";
        headers += refererLine;
        connectionsInUse.store(1, std::memory_order_relaxed);
        if (!net::HttpSendRequest(request.get(), headers.c_str())) {
            return end(net::HttpSendFailure(request.get()), STATUS_FAILED);
        }
        SetStatus(STATUS_CATCH);

        if (!brindlex::ReadAnswerHead(request.get(), &head)) {
            const bool stopAsked = stopEvent != nullptr && VIsSignalled(stopEvent);
            return end(stopAsked ? RESULT_INTERRUPTED : RESULT_DROPPED, STATUS_FAILED);
        }
        bool stale = false;
        std::uint64_t whole = 0;
        if (head.status == 416 && rangeAsked && head.hasRangeText &&
            brindlex::ParseUnsatisfiedRange(head.rangeText, &whole)) {
            if (whole == existingLength && keepComplete) {
                // Nothing past the file's end: it already holds the whole resource
                // (a run that ended after its last block, before its owner saw it end).
                totalSize.store(existingLength, std::memory_order_relaxed);
                received.store(existingLength, std::memory_order_relaxed);
                return end(RESULT_OK, STATUS_DONE);
            }
            // Shorter than the file: the file can only hold an older version.
            stale = whole < existingLength || (recorded && whole != record.total);
        }
        if (!stale && head.status >= 300) return end(head.status, STATUS_FAILED);

        // A continuation: the body belongs at the range start the server names. It
        // is written there only when that leaves no gap in the file (nothing of
        // the file counts once it proved stale); an answer we cannot place is
        // refused and the file stays as it was.
        rangeAccepted = !stale && head.hasRangeText &&
                        brindlex::ParseContentRange(head.rangeText, &range) &&
                        range.start <= (fromStart ? 0 : existingLength);
        // Bytes of another version would follow the held ones.
        if (rangeAccepted && (range.start != 0 || recorded) && validator &&
            !brindlex::IsHeldVersion(*validator, request.get())) {
            stale = true;
        }
        // The recorded ranges are of a resource of the recorded length only.
        if (rangeAccepted && recorded && range.total != record.total) stale = true;
        if (!stale) break;
        // Once only: the second request asks for no range, so nothing in its
        // answer can prove the file stale again.
        fromStart = true;
        if (!openRequest()) return end(RESULT_BAD_REQUEST, STATUS_FAILED);
    }

    // An answer with no body says nothing about the bytes already held (nor about
    // ranges): taken as the whole resource, it would replace the file with nothing.
    const bool noBody =
        head.status == 204 || head.status == 205 || (head.hasLength && head.announced == 0);
    if (existingLength != 0 && noBody && !head.hasRangeHeader) {
        return end(RESULT_DROPPED, STATUS_FAILED);
    }
    // A range we could place proves that ranges work, whatever Accept-Ranges says:
    // many servers send it on a 200 only, never on a 206.
    if (!head.advertisesRanges && !rangeAccepted) {
        flags.fetch_or(FLAG_NO_RANGE, std::memory_order_relaxed);
    }
    if (rangeAccepted) {
        totalSize.store(range.total, std::memory_order_relaxed);
        received.store(range.start, std::memory_order_relaxed);
    } else if (head.hasRangeHeader || head.status == 206) {
        // A range we cannot place, or part of the resource with no range we can
        // read (none given, or one too long for the buffer): taken as the whole, it
        // would be written over the head of the file or, as long as the file, end
        // as done at once.
        return end(RESULT_DROPPED, STATUS_FAILED);
    } else {
        // The whole resource follows, with its length or read to its end.
        const bool known = head.hasLength && head.announced != 0;
        totalSize.store(known ? head.announced : SIZE_UNKNOWN, std::memory_order_relaxed);
        // A file with a validator is known to be partial: one as long as the whole
        // answer holds another version (the server found our validator stale).
        if (known && head.announced == existingLength && keepComplete && !validator && !fromStart &&
            !recorded) {
            received.store(existingLength, std::memory_order_relaxed);
            return end(RESULT_OK, STATUS_DONE);
        }
        received.store(0, std::memory_order_relaxed);
    }

    // The file keeps what it holds until the body's first byte arrives: an answer
    // that ends before it (a proxy or a server closing at once) says nothing about
    // those bytes, and taken as the whole resource it would leave an empty file.
    bool started = false;
    auto endUnstarted = [&](unsigned long code) {
        received.store(existingLength, std::memory_order_relaxed);
        return end(code, STATUS_FAILED);
    };

    // Ranges proven to work (a range placed, or a whole answer that offers them
    // with its length): the rest may come over several connections at once.
    if (file >= 0) {
        const std::uint64_t at = received.load(std::memory_order_relaxed);
        const std::uint64_t total = totalSize.load(std::memory_order_relaxed);
        const bool rangesWork = !(flags.load(std::memory_order_relaxed) & FLAG_NO_RANGE) &&
                                (rangeAccepted || (head.advertisesRanges && !head.hasRangeHeader));
        // The recorded holes stay worth fetching only behind a range that
        // continues the record exactly.
        const bool keepHoles = recorded && rangeAccepted && range.start == existingLength;
        std::vector<brindlex::ByteRange> held;
        if (keepHoles) {
            held = record.ranges;
        } else if (at != 0) {
            held.push_back({0, at});
        }
        std::uint64_t heldBytes = 0;
        std::uint64_t heldEnd = at;
        for (const brindlex::ByteRange& r : held) {
            heldBytes += r.end - r.start;
            heldEnd = std::max(heldEnd, r.end);
        }
        const bool worthSplitting = total != SIZE_UNKNOWN && total > heldBytes &&
                                    total - heldBytes >= 2 * brindlex::kMinPiece;
        const bool holesBeyond = keepHoles && heldEnd > at;
        if (rangesWork && total != SIZE_UNKNOWN && total > at &&
            (holesBeyond || (wanted > 1 && worthSplitting))) {
            // Nothing past what is held is claimed by anyone: it goes now. Then
            // the record of what is held, before any byte lands past the prefix.
            if (!CutTo(file, heldEnd)) return endUnstarted(RESULT_FILE_PROBLEM);
            brindlex::KeepResumeValidator(file, request.get(), at != 0);
            marked = recordWritten = true;
            brindlex::SplitPlan plan;
            plan.record = {total, VersionText(brindlex::ReadResumeValidator(file)), held};
            // Where the file system keeps no attributes, one connection, as always.
            if (brindlex::WriteHeldRecord(file, plan.record)) {
                plan.fd = file;
                plan.connection = connection.get();
                plan.object = object;
                plan.referer = referer;
                plan.secure = parts.schemeId == net::Scheme::Https;
                plan.refererLine = refererLine;
                plan.version = brindlex::AnswerValidator(request.get());
                plan.extra = worthSplitting ? wanted - 1 : 0;
                plan.held = [this](std::uint64_t bytes) {
                    received.store(bytes, std::memory_order_relaxed);
                    SetStatus(static_cast<long long>(bytes));
                };
                received.store(heldBytes, std::memory_order_relaxed);
                SetStatus(static_cast<long long>(heldBytes));
                const brindlex::SplitOutcome outcome =
                    brindlex::FetchSplit(*this, plan, request.get(), at);
                if (outcome.code == RESULT_OK || outcome.code == RESULT_INTERRUPTED) {
                    StampFileTime(file, head.modified);
                }
                if (outcome.code == RESULT_OK) return end(RESULT_OK, STATUS_DONE);
                if (outcome.versionChanged && !restarted) {
                    // Nothing of the other version was written: the same attempt
                    // asks once more, without a range, for the whole new file.
                    restarted = true;
                    fromStart = true;
                    output.length = UINT64_MAX;  // the pieces wrote past it: look again
                    if (!openRequest()) return end(RESULT_BAD_REQUEST, STATUS_FAILED);
                    goto ask;
                }
                errno = outcome.error;
                return end(outcome.code, STATUS_FAILED);
            }
        }
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
            return started ? end(RESULT_DROPPED, STATUS_FAILED) : endUnstarted(RESULT_DROPPED);
        }
        if (count == 0) {
            if (total == SIZE_UNKNOWN && (started || existingLength == 0)) {
                // Read to its end; an empty resource over no file is an empty file.
                totalSize.store(done, std::memory_order_relaxed);
                continue;
            }
            return started ? end(RESULT_DROPPED, STATUS_FAILED) : endUnstarted(RESULT_DROPPED);
        }
        if (!started) {
            started = true;
            // Only our writes change the file's length while we hold it.
            if (output.length > done && !CutTo(file, done)) {
                return endUnstarted(RESULT_FILE_PROBLEM);
            }
            if (file >= 0) {
                brindlex::KeepResumeValidator(file, request.get(), done != 0);
                marked = true;
                // Cut first: a record gone before the cut would leave the holes
                // to be taken for data.
                if (recordState != brindlex::RecordState::None) {
                    brindlex::ForgetHeldRecord(file);
                }
            }
        }
        if (file >= 0 && !brindlex::WriteAt(file, block, count, done)) {
            // A disk that filled up may have taken part of the block: keep the file
            // exactly as long as what was counted. The write's reason is the one to tell.
            const int error = errno;
            CutTo(file, done);
            errno = error;
            return end(RESULT_FILE_PROBLEM, STATUS_FAILED);
        }
        received.store(done + count, std::memory_order_relaxed);
        pacer.Written(count);
    }
    // Stopped before the first byte: the file is as it was, time included.
    if (!started && existingLength != 0) return endUnstarted(RESULT_INTERRUPTED);

    if (file >= 0) StampFileTime(file, head.modified);
    if (totalSize.load(std::memory_order_relaxed) <= received.load(std::memory_order_relaxed)) {
        return end(RESULT_OK, STATUS_DONE);
    }
    return end(RESULT_INTERRUPTED, STATUS_FAILED);
}
