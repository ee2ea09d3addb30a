#include "split_fetch.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "answer_head.h"
#include "content_range.h"
#include "internet.h"
#include "output_file.h"
#include "speed_limit.h"

namespace brindlex {

namespace {

namespace net = brindlex::net;

constexpr std::size_t kBlockSize = 256;
// How many written bytes a connection counts at once (see Receive).
constexpr std::uint64_t kReportEvery = 16 * 1024;
constexpr auto kReportAfter = std::chrono::milliseconds(100);
// The record is written at most this often (and at the end); the data it names
// is synced just before, so a power cut costs at most about this much.
constexpr auto kRecordEvery = std::chrono::milliseconds(500);

// The monotonic clock at the kernel's tick: the report and record deadlines need
// no finer, and it is read after every turn of blocks, where a precise read costs
// more than the turn's bookkeeping.
std::chrono::nanoseconds CoarseNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class SplitRun {
public:
    SplitRun(VBRINDLEX& owner, const SplitPlan& plan)
        : owner_(owner), plan_(plan), table_(plan.record.total, plan.record.ranges, plan.held) {}

    // The first connection's piece, shared out among `parts` connections; none
    // when `at` starts nothing missing.
    std::optional<std::uint64_t> Start(std::uint64_t at, unsigned parts) {
        if (!table_.Claim(0, at)) return std::nullopt;
        return table_.Share(0, parts);
    }

    void RunFirst(VHINTERNET first, std::uint64_t at, std::optional<std::uint64_t> end) {
        bool goesOn = true;
        while (end) {
            const std::uint64_t reached = Receive(0, first, at, *end);
            if (reached == kEnded) {
                goesOn = false;
                break;
            }
            // The piece behind it given back untouched (a refused connection's):
            // the answer runs on into it, with no request of its own.
            at = reached;
            end = table_.Claim(0, at);
        }
        // Its range runs to the end of the resource: the rest belongs to others.
        // The fetch keeps its references; this only ends the transfer.
        net::InternetRetain(first);
        net::InternetCloseHandle(first);
        if (goesOn) {
            RunPieces(0);
        } else {
            table_.GiveBack(0);
        }
    }

    // A connection of its own: takes pieces until none is left.
    void RunExtra(int worker) {
        owner_.connectionsInUse.fetch_add(1, std::memory_order_relaxed);
        RunPieces(worker);
        owner_.connectionsInUse.fetch_sub(1, std::memory_order_relaxed);
    }

    SplitOutcome Finish() {
        WriteRecord(true);
        if (table_.Complete()) return {RESULT_OK, 0, false};
        if (versionChanged_.load(std::memory_order_relaxed)) return {RESULT_DROPPED, 0, true};
        const unsigned long code = abortCode_.load(std::memory_order_relaxed);
        if (code != RESULT_OK) return {code, abortError_.load(std::memory_order_relaxed), false};
        if (Stopped()) return {RESULT_INTERRUPTED, 0, false};
        return {failure_.load(std::memory_order_relaxed), 0, false};
    }

private:
    static constexpr std::uint64_t kEnded = ~std::uint64_t{0};

    bool Stopped() const { return owner_.stopEvent != nullptr && VIsSignalled(owner_.stopEvent); }
    bool Ending() const {
        return Stopped() || abortCode_.load(std::memory_order_relaxed) != RESULT_OK;
    }
    void Abort(unsigned long code, int error) {
        unsigned long none = RESULT_OK;
        if (abortCode_.compare_exchange_strong(none, code, std::memory_order_relaxed)) {
            abortError_.store(error, std::memory_order_relaxed);
        }
    }
    // What an attempt that ends with bytes missing reports: the first refusal's
    // status, else a dropped transfer.
    void NoteFailure(unsigned long code) {
        unsigned long dropped = RESULT_DROPPED;
        if (code >= 300) failure_.compare_exchange_strong(dropped, code, std::memory_order_relaxed);
    }

    void RunPieces(int worker) {
        while (!Ending()) {
            const std::optional<ByteRange> piece = table_.Take(worker);
            if (!piece) return;
            if (!FetchPiece(worker, *piece)) {
                table_.GiveBack(worker);
                return;
            }
        }
        table_.GiveBack(worker);
    }

    // One request for [piece.start, piece.end); false when the connection ends.
    bool FetchPiece(int worker, ByteRange piece) {
        net::InternetRef request(net::HttpOpenRequest(plan_.connection, plan_.object.c_str(),
                                                      plan_.referer, plan_.secure));
        if (!request) return false;
        if (plan_.version) {
            net::HttpSetIfRange(request.get(), plan_.version->value.c_str(),
                                plan_.version->origin.c_str());
        }
        const std::string headers = "Range: bytes=" + std::to_string(piece.start) + "-" +
                                    std::to_string(piece.end - 1) + "\r\n" + plan_.refererLine;
        AnswerHead head;
        if (!net::HttpSendRequest(request.get(), headers.c_str()) ||
            !ReadAnswerHead(request.get(), &head)) {
            return false;  // could not connect: the others go on
        }
        ContentRange range{};
        const bool parsed =
            head.status == 206 && head.hasRangeText && ParseContentRange(head.rangeText, &range);
        if (parsed && range.total != plan_.record.total && range.total != SIZE_UNKNOWN) {
            return VersionChanged();
        }
        if (!parsed || range.start != piece.start || range.end != piece.end - 1 ||
            (plan_.version && !IsHeldVersion(*plan_.version, request.get()))) {
            // A server that wants fewer connections (429, 503, a 200, another
            // range), or an answer that cannot be told of the first one's version
            // (a mirror with ETags of its own): this one ends quietly and its
            // piece goes back.
            NoteFailure(head.status);
            return false;
        }
        // The request goes with its last reference, whatever it still had to send.
        return Receive(worker, request.get(), piece.start, piece.end) != kEnded;
    }

    // A piece of another length of resource: the file changed on the server while
    // it was being fetched. Nothing of it is written; the record is marked stale,
    // so the file is fetched again from its start (fetch.cpp asks at once).
    bool VersionChanged() {
        versionChanged_.store(true, std::memory_order_relaxed);
        Abort(RESULT_DROPPED, 0);
        return false;
    }

    // Reads the body of `request` into the file from `at` until the worker's
    // piece ends. Returns the end reached, or kEnded when the connection ended.
    //
    // Written blocks are counted in batches: each connection taking the table's
    // lock for every 256 bytes would cost more than the blocks themselves. A thief
    // never starts within kMinPiece of what the table last heard, far more than a
    // batch, so the cached end stays safe to write up to.
    //
    // The blocks go to the file in turns under the file's lock: a turn writes the
    // block just read and then whatever the connection already has buffered, one
    // block at a time, up to a batch. The kernel serialises writes to one file
    // anyway; connections contending for its lock at every block spend more on
    // the contention than on the blocks, and one turn per batch spares that. A
    // turn looks for a stop at every block and never waits for data, so a stop
    // still reaches a connection waiting for its turn within a few blocks' time.
    std::uint64_t Receive(int worker, VHINTERNET request, std::uint64_t at, std::uint64_t end) {
        SpeedPacer pacer(owner_, &ownClock_);
        char block[kBlockSize];
        std::uint64_t unreported = 0;
        auto reportDue = CoarseNow() + kReportAfter;
        auto report = [&] {
            if (unreported == 0) return;
            end = table_.Advance(worker, at - unreported, unreported);
            unreported = 0;
            MaybeWriteRecord();
        };
        for (;;) {
            if (Ending()) {
                report();
                return kEnded;
            }
            std::size_t count = 0;
            if (!net::InternetReadFile(request, block, Want(at, end), &count) || count == 0) {
                report();
                NoteFailure(RESULT_DROPPED);
                return kEnded;
            }
            // With a limit, every block waits its due time, so a turn is one block.
            const bool paced = processSpeedLimit.load(std::memory_order_relaxed) != 0 ||
                               owner_.speedLimit.load(std::memory_order_relaxed) != 0;
            std::size_t written = 0;
            int writeError = 0;
            {
                std::lock_guard turn(fileMutex_);
                for (;;) {
                    if (!WriteAt(plan_.fd, block, count, at)) {
                        writeError = errno;
                        break;
                    }
                    at += count;
                    unreported += count;
                    written += count;
                    count = 0;
                    if (paced || at >= end || unreported >= kReportEvery || Ending() ||
                        net::InternetBufferedBytes(request) == 0) {
                        break;
                    }
                    // Buffered: this read takes it at once.
                    if (!net::InternetReadFile(request, block, Want(at, end), &count) ||
                        count == 0) {
                        count = 0;
                        break;
                    }
                }
            }
            if (count != 0) {
                report();
                Abort(RESULT_FILE_PROBLEM, writeError);
                return kEnded;
            }
            // Every block is activity for the watchdog, however slow the data.
            if (!(owner_.flags.load(std::memory_order_relaxed) & FLAG_ALIVE)) {
                owner_.flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
            }
            // Slow data is counted at least every kReportAfter, so the progress
            // shown stays current.
            if (unreported >= kReportEvery || at >= end || CoarseNow() >= reportDue) {
                report();
                reportDue = CoarseNow() + kReportAfter;
            }
            pacer.Written(written);
            if (at >= end) return end;
        }
    }

    static std::size_t Want(std::uint64_t at, std::uint64_t end) {
        return end - at < kBlockSize ? static_cast<std::size_t>(end - at) : kBlockSize;
    }

    void MaybeWriteRecord() {
        if (CoarseNow().count() < recordDue_.load(std::memory_order_relaxed)) return;
        WriteRecord(false);
    }

    // Data first: what the record names was written before it was snapshotted,
    // and is synced before the record claims it.
    void WriteRecord(bool last) {
        std::unique_lock lock(recordMutex_, std::defer_lock);
        if (last) {
            lock.lock();
        } else if (!lock.try_lock()) {
            return;
        }
        if (versionChanged_.load(std::memory_order_relaxed)) {
            MarkHeldRecordStale(plan_.fd);
            return;
        }
        HeldRecord record = plan_.record;
        record.ranges = table_.Held();
        fdatasync(plan_.fd);
        WriteHeldRecord(plan_.fd, record);
        recordDue_.store((CoarseNow() + kRecordEvery).count(), std::memory_order_relaxed);
    }

    VBRINDLEX& owner_;
    const SplitPlan& plan_;
    PieceTable table_;
    SharedOwnClock ownClock_;
    std::atomic<unsigned long> abortCode_{RESULT_OK};
    std::atomic<int> abortError_{0};
    std::atomic<unsigned long> failure_{RESULT_DROPPED};
    std::atomic<bool> versionChanged_{false};
    std::mutex recordMutex_;
    std::atomic<std::chrono::nanoseconds::rep> recordDue_{(CoarseNow() + kRecordEvery).count()};
    // The file's lock: one connection writes its turn of blocks at a time.
    std::mutex fileMutex_;
};

}  // namespace

SplitOutcome FetchSplit(VBRINDLEX& owner, const SplitPlan& plan, VHINTERNET first,
                        std::uint64_t at) {
    SplitRun run(owner, plan);
    const std::optional<std::uint64_t> end = run.Start(at, plan.extra + 1);
    std::vector<std::thread> extras;
    for (unsigned i = 0; i < plan.extra; ++i) {
        try {
            extras.emplace_back([&run, worker = static_cast<int>(i) + 1] { run.RunExtra(worker); });
        } catch (const std::system_error&) {
            break;  // fewer connections: the ones there are fetch it all
        }
    }
    run.RunFirst(first, at, end);
    for (std::thread& extra : extras) extra.join();
    return run.Finish();
}

}  // namespace brindlex
