// The browser's side of the host: messages as browsers frame them for a native
// messaging host (a 32-bit length in the machine's byte order, then that many
// bytes of UTF-8 JSON, on standard input and output), what a download message
// holds, and the answer.
//
// A download message: {"url": ..., "referer": ..., "userAgent": ...,
// "fileName": ..., "cookies": [cookie, ...]}, each cookie as the `cookies` API
// gives it (domain, hostOnly, path, secure, httpOnly, session, expirationDate,
// name, value). Only "url" is required. The answer: {"status": "queued"} or
// {"status": "refused", "reason": ...}.
//
// Threads: any; no state is shared.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "handoff_protocol.h"

// The longest message taken: a page's cookies are a few kilobytes; the hand-off
// takes a batch of at most kMaxHandoffBatchBytes.
inline constexpr std::size_t kMaxMessageBytes = 256 * 1024;

// Whether the host was started for one of our extensions: Chromium passes the
// caller's origin ("chrome-extension://ID/") as the first argument, Firefox the
// manifest's path and then the extension's id.
bool IsOurCaller(int argc, const char* const* argv);

// One message read from `in`.
struct ReadMessage {
    enum class Kind { kMessage, kEnd, kTooLarge, kCut };
    Kind kind = Kind::kEnd;
    std::string bytes;
};
ReadMessage ReadNativeMessage(std::FILE* in);

// Writes `json` framed to `out` and flushes; false when it could not.
bool WriteNativeMessage(std::FILE* out, std::string_view json);

// The download a message asks for; nullopt with `why` set when it is none.
std::optional<HandedDownload> ParseDownloadMessage(std::string_view json, std::string* why);

// The answer: "" as the reason means queued.
std::string AnswerJson(std::string_view reason);
