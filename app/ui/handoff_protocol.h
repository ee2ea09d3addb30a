// What travels over the hand-off socket (url_handoff.h), as bytes. Plain C++.
//
// The sender writes the greeting "vantorel-handoff 1" and a NUL, then each
// download as its fields, each "name=value" and a NUL, closed by an empty field (a
// lone NUL); an empty field where a download would begin ends the batch. The
// fields: "url"; and for a download caught from a browser "referer" (the page),
// "agent" (the browser's User-Agent), "name" (the file name the browser proposed)
// and "cookie", once per cookie (a Netscape cookie-file line). Fields of other
// names are skipped, so a later sender can add fields this reader ignores. A
// value holds any byte but NUL.
//
// The instance answers each download, in order, with one NUL-ended record,
// "queued" or "refused " and the reason, then closes the connection.
//
// Both directions are bounded: a batch at most kMaxHandoffBatchBytes, an answer
// record at most kMaxAnswerRecordBytes. The sender splits a longer list into
// several batches.
//
// Threads: any; each reader is used by one thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kHandoffGreeting[] = "vantorel-handoff 1";
inline constexpr std::size_t kMaxHandoffBatchBytes = 1 << 20;
inline constexpr std::size_t kMaxAnswerRecordBytes = 256;

// One handed-over download: the fields it came with. `url` is empty when it came
// without one.
struct HandedDownload {
    std::string url;
    std::string referer;
    std::string agent;
    std::string fileName;
    std::vector<std::string> cookies;
};

// The bytes of one download in a batch ("url=" + url, NUL, NUL).
std::string EncodeHandedDownload(std::string_view url);
// The same with every field of `download` that is not empty.
std::string EncodeHandedDownload(const HandedDownload& download);
// The greeting, then `downloads` (each from EncodeHandedDownload), then the end.
std::string EncodeHandoffBatch(std::string_view downloads);

// The answer record for one download: "" as the reason means queued.
std::string EncodeHandoffAnswer(std::string_view reason);

// Reads a batch as its bytes arrive.
class HandoffBatchReader {
public:
    enum class State { kMore, kDone, kBroken };

    // Takes the next bytes; kBroken for a wrong greeting, a batch over the limit,
    // or bytes after its end.
    State Feed(std::string_view bytes);
    State state() const { return state_; }
    const std::vector<HandedDownload>& downloads() const { return downloads_; }

private:
    void TakeRecord(std::string_view record);

    State state_ = State::kMore;
    std::size_t received_ = 0;
    bool greeted_ = false;
    bool inDownload_ = false;
    std::string pending_;
    std::vector<HandedDownload> downloads_;
};

// Reads the answers as their bytes arrive: for each download "" when queued,
// otherwise the reason it was refused. False once the bytes are no answer (a
// record too long or of another kind): the rest is then not to be trusted.
class HandoffAnswerReader {
public:
    bool Feed(std::string_view bytes);
    const std::vector<std::string>& answers() const { return answers_; }

private:
    bool broken_ = false;
    std::string pending_;
    std::vector<std::string> answers_;
};
