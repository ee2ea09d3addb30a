#include "piece_table.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace brindlex {

PieceTable::PieceTable(std::uint64_t total, const std::vector<ByteRange>& held,
                       std::function<void(std::uint64_t)> onHeld)
    : total_(total), onHeld_(std::move(onHeld)) {
    std::uint64_t at = 0;
    for (const ByteRange& range : held) {
        if (range.start >= range.end || range.end > total) continue;
        if (range.start > at) pieces_.push_back({at, range.start, -1});
        AddHeld(range.start, range.end);
        at = std::max(at, range.end);
    }
    if (at < total) pieces_.push_back({at, total, -1});
}

void PieceTable::AddHeld(std::uint64_t start, std::uint64_t end) {
    // A connection's blocks follow each other: the range it touches grows in
    // place, with no node made or freed per block.
    auto range = held_.upper_bound(start);
    if (range != held_.begin() && std::prev(range)->second >= start) {
        range = std::prev(range);
        if (range->second >= end) return;
        heldBytes_ += end - range->second;
        range->second = end;
    } else {
        range = held_.emplace_hint(range, start, end);
        heldBytes_ += end - start;
    }
    // Joined with the ranges it reaches now; bytes of both are counted once.
    for (auto next = std::next(range); next != held_.end() && next->first <= range->second;) {
        heldBytes_ -= std::min(next->second, range->second) - next->first;
        range->second = std::max(range->second, next->second);
        next = held_.erase(next);
    }
}

std::optional<std::uint64_t> PieceTable::Claim(int worker, std::uint64_t at) {
    std::lock_guard lock(mutex_);
    for (Piece& piece : pieces_) {
        if (piece.next == at && piece.owner < 0) {
            piece.owner = worker;
            return piece.end;
        }
    }
    return std::nullopt;
}

std::uint64_t PieceTable::Share(int worker, unsigned parts) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        if (pieces_[i].owner != worker) continue;
        const std::uint64_t next = pieces_[i].next;
        const std::uint64_t length = pieces_[i].end - next;
        const std::uint64_t count =
            std::max<std::uint64_t>(1, std::min<std::uint64_t>(parts, length / kMinPiece));
        const std::uint64_t end = pieces_[i].end;
        pieces_[i].end = next + length / count;
        for (std::uint64_t k = 1; k < count; ++k) {
            pieces_.push_back({next + length * k / count, k + 1 < count ? next + length * (k + 1) / count : end, -1});
        }
        return pieces_[i].end;
    }
    return 0;
}

std::optional<ByteRange> PieceTable::Take(int worker) {
    std::lock_guard lock(mutex_);
    for (Piece& piece : pieces_) {
        if (piece.owner < 0) {
            piece.owner = worker;
            return ByteRange{piece.next, piece.end};
        }
    }
    auto largest = std::max_element(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) {
        return a.end - a.next < b.end - b.next;
    });
    if (largest == pieces_.end() || largest->end - largest->next < 2 * kMinPiece) return std::nullopt;
    const std::uint64_t middle = largest->next + (largest->end - largest->next) / 2;
    const std::uint64_t end = largest->end;
    largest->end = middle;
    pieces_.push_back({middle, end, worker});
    return ByteRange{middle, end};
}

std::uint64_t PieceTable::Advance(int worker, std::uint64_t at, std::uint64_t count) {
    std::lock_guard lock(mutex_);
    AddHeld(at, at + count);
    if (onHeld_) onHeld_(heldBytes_);
    for (auto piece = pieces_.begin(); piece != pieces_.end(); ++piece) {
        if (piece->owner != worker) continue;
        piece->next = std::max(piece->next, at + count);
        const std::uint64_t end = piece->end;
        if (piece->next >= end) pieces_.erase(piece);
        return end;
    }
    return at + count;  // nothing of its own left
}

void PieceTable::GiveBack(int worker) {
    std::lock_guard lock(mutex_);
    for (Piece& piece : pieces_) {
        if (piece.owner == worker) piece.owner = -1;
    }
}

std::uint64_t PieceTable::HeldBytes() {
    std::lock_guard lock(mutex_);
    return heldBytes_;
}

std::vector<ByteRange> PieceTable::Held() {
    std::lock_guard lock(mutex_);
    std::vector<ByteRange> ranges;
    ranges.reserve(held_.size());
    for (const auto& [start, end] : held_) ranges.push_back({start, end});
    return ranges;
}

bool PieceTable::Complete() {
    std::lock_guard lock(mutex_);
    return heldBytes_ >= total_;
}

}  // namespace brindlex
