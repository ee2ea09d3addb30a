// Which bytes of a download split over several connections are held, and which
// piece of the rest each connection is fetching.
//
// A piece is a run of missing bytes [next, end) that one connection fetches in
// order, or that nobody fetches (given back by a connection that ended, or a hole
// a resumed file still has). An idle connection takes an unowned piece first, so
// the attempt never ends with bytes missing and nobody on them; only when there is
// none does it take over the second half of the largest piece still being
// fetched, so the connections finish close together.
//
// Threads: every connection of the run; one lock guards it all.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace brindlex {

struct ByteRange {
    std::uint64_t start;
    std::uint64_t end;  // one past the last byte
};

// The smallest piece a connection is given: no range is cut below this.
inline constexpr std::uint64_t kMinPiece = 1024 * 1024;

class PieceTable {
public:
    // `held`: ranges already in the file, sorted and apart; the rest of
    // [0, total) is missing and starts out unowned. `onHeld` is told the bytes
    // held after every Advance, under the lock, so what it publishes never goes back.
    PieceTable(std::uint64_t total, const std::vector<ByteRange>& held,
               std::function<void(std::uint64_t)> onHeld);
    PieceTable(const PieceTable&) = delete;
    PieceTable& operator=(const PieceTable&) = delete;

    // The connection `worker` continues at `at`, which must start a missing
    // range: it owns the piece from there to the next held byte, whose end is
    // returned. None when `at` starts no unowned missing range.
    std::optional<std::uint64_t> Claim(int worker, std::uint64_t at);
    // Cuts the piece `worker` owns into up to `parts` pieces of at least
    // kMinPiece each: it keeps the first, the others are left unowned for the
    // connections about to open. Returns where its piece ends now.
    std::uint64_t Share(int worker, unsigned parts);
    // The next piece for an idle `worker`: an unowned one, else the second half
    // of the largest piece being fetched when both halves keep kMinPiece. None
    // when there is nothing to take.
    std::optional<ByteRange> Take(int worker);
    // `count` bytes at `at`, the worker's next offset, are in the file now. They
    // count as held; returns where the worker's piece ends now (a thief may have
    // taken its second half, which never starts within kMinPiece of the
    // worker's offset as last told).
    std::uint64_t Advance(int worker, std::uint64_t at, std::uint64_t count);
    // The worker ends: whatever it had not fetched becomes unowned.
    void GiveBack(int worker);

    std::uint64_t HeldBytes();
    std::vector<ByteRange> Held();
    bool Complete();

private:
    struct Piece {
        std::uint64_t next;
        std::uint64_t end;
        int owner;  // -1: nobody fetches it
    };
    void AddHeld(std::uint64_t start, std::uint64_t end);

    std::mutex mutex_;
    const std::uint64_t total_;
    const std::function<void(std::uint64_t)> onHeld_;
    std::map<std::uint64_t, std::uint64_t> held_;  // start -> end, merged
    std::uint64_t heldBytes_ = 0;
    std::vector<Piece> pieces_;  // only pieces with bytes left
};

}  // namespace brindlex
