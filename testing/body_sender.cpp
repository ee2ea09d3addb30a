#include "body_sender.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "server_connection.h"

namespace vtest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPiece = 64 * 1024;
// Room before a piece for its chunk-size line, and after it for the chunk's "\r\n".
constexpr std::size_t kChunkHeadRoom = 24;
constexpr std::size_t kChunkTailRoom = 2;

// Pieces of about a hundredth of a second's worth keep a rate-limited body smooth
// (a 100 MB/s benchmark sees 64 KiB every 0.65 ms) while a slow one still moves.
std::size_t PieceSize(std::uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0) return kPiece;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(bytesPerSecond / 100, 1, kPiece));
}

// How many body bytes go out before the scripted stall or drop, and which one it is.
struct Cut {
    std::uint64_t after;
    bool stall = false;
    bool drop = false;
};

Cut FindCut(const Route& route, std::uint64_t length) {
    Cut cut{length};
    if (route.stallAfter && *route.stallAfter <= cut.after) {
        cut = {*route.stallAfter, true, false};
    }
    if (route.dropAfter && *route.dropAfter <= length &&
        (!cut.stall || *route.dropAfter < cut.after)) {
        cut = {*route.dropAfter, false, true};
    }
    return cut;
}

}  // namespace

BodyEnd SendBody(ServerConnection& connection, const Route& route, std::uint64_t start,
                 std::uint64_t end) {
    const std::uint64_t length = end - start;
    const Cut cut = FindCut(route, length);
    const bool chunked = route.framing == Route::Framing::Chunked;
    const std::size_t pieceSize = PieceSize(route.bytesPerSecond);
    std::vector<char> buffer(kChunkHeadRoom + pieceSize + kChunkTailRoom);
    char* const piece = buffer.data() + kChunkHeadRoom;

    const Clock::time_point began = Clock::now();
    std::uint64_t sent = 0;
    while (sent < cut.after) {
        if (route.bytesPerSecond != 0) {
            // Pace by the time elapsed since the first byte, so rounding in one sleep
            // is made up by the next and the average rate holds.
            const auto due =
                began + std::chrono::microseconds(sent * 1000000 / route.bytesPerSecond);
            const auto now = Clock::now();
            if (due > now &&
                !connection.Sleep(
                    std::chrono::duration_cast<std::chrono::microseconds>(due - now))) {
                return BodyEnd::Cut;
            }
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize, cut.after - sent));
        if (route.body) {
            std::memcpy(piece, route.body->data() + start + sent, n);
        } else {
            FillBody(start + sent, piece, n);
        }
        char* first = piece;
        std::size_t size = n;
        if (chunked) {
            char line[kChunkHeadRoom];
            const int lineLength = std::snprintf(line, sizeof line, "%zx\r\n", n);
            first -= lineLength;
            std::memcpy(first, line, static_cast<std::size_t>(lineLength));
            std::memcpy(piece + n, "\r\n", 2);
            size += static_cast<std::size_t>(lineLength) + 2;
        }
        if (!connection.Write(std::string_view(first, size))) return BodyEnd::Cut;
        sent += n;
    }

    if (cut.stall) {
        connection.WaitUntilEnded();
        return BodyEnd::Cut;
    }
    if (cut.drop) return BodyEnd::Cut;
    if (chunked && !connection.Write("0\r\n\r\n")) return BodyEnd::Cut;
    return BodyEnd::Complete;
}

}  // namespace vtest
