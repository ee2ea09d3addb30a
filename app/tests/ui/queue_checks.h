// Checks of what the program leaves on disk, for the tests that start, kill and
// stop the real program: the list file read strictly (a record cut short is a
// fault here, not something to skip), and downloaded files compared with the
// bytes the test server sends.
#pragma once

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_server.h"

namespace vtest {

struct ListRecord {
    std::string url;
    std::string name;
    bool operator==(const ListRecord&) const = default;
};

// One record as the program writes it: "url" "name" and a line feed.
inline std::string RecordLine(const ListRecord& record) {
    return "\"" + record.url + "\" \"" + record.name + "\"\n";
}

// The records of a list file the program wrote, or nullopt when the text is not
// a whole number of whole records (a half-written file, a stray byte). Our
// fields never hold a quote or a line end, so the strict form is the only one.
inline std::optional<std::vector<ListRecord>> ParseWholeList(const std::string& text) {
    std::vector<ListRecord> records;
    std::size_t at = 0;
    auto field = [&](std::string* out) {
        if (at >= text.size() || text[at] != '"') return false;
        const std::size_t close = text.find('"', at + 1);
        if (close == std::string::npos) return false;
        *out = text.substr(at + 1, close - at - 1);
        at = close + 1;
        return out->find('\n') == std::string::npos;
    };
    while (at < text.size()) {
        ListRecord record;
        if (!field(&record.url) || at >= text.size() || text[at++] != ' ' || !field(&record.name) ||
            at >= text.size() || text[at++] != '\n') {
            return std::nullopt;
        }
        records.push_back(std::move(record));
    }
    return records;
}

// True when `listed` is `all` with some records left out, in the same order and
// without repeats: the only shapes the program's saves can give.
inline bool IsOrderedSubset(const std::vector<ListRecord>& listed,
                            const std::vector<ListRecord>& all) {
    std::size_t next = 0;
    for (const ListRecord& record : listed) {
        while (next < all.size() && !(all[next] == record)) ++next;
        if (next == all.size()) return false;
        ++next;
    }
    return true;
}

inline bool Contains(const std::vector<ListRecord>& records, const ListRecord& record) {
    return std::find(records.begin(), records.end(), record) != records.end();
}

// Length of the file at `path`; 0 when there is none.
inline std::uint64_t LengthOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// "" when the file at `path` is missing or holds the first bytes of the served
// body of `size` bytes (all of them when `whole`); otherwise what is wrong. A
// download split over several connections leaves holes where pieces have not
// arrived yet: short of `whole`, a zero byte passes for a hole.
inline std::string CheckBodyPrefix(const std::string& path, std::uint64_t size, bool whole) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return whole ? "missing" : "";
    std::vector<char> got(1 << 20);
    std::vector<char> want(got.size());
    std::uint64_t offset = 0;
    std::string fault;
    for (;;) {
        const std::size_t n = std::fread(got.data(), 1, got.size(), file);
        if (n == 0) break;
        if (offset + n > size) {
            fault = "longer than the body (" + std::to_string(offset + n) + " > " +
                    std::to_string(size) + ")";
            break;
        }
        FillBody(offset, want.data(), n);
        const auto differ = std::mismatch(
            got.begin(), got.begin() + static_cast<long>(n), want.begin(),
            [whole](char held, char served) { return held == served || (!whole && held == 0); });
        if (differ.first != got.begin() + static_cast<long>(n)) {
            fault = "differs from the body at byte " +
                    std::to_string(offset + static_cast<std::uint64_t>(differ.first - got.begin()));
            break;
        }
        offset += n;
    }
    std::fclose(file);
    if (fault.empty() && whole && offset != size) {
        fault = "holds " + std::to_string(offset) + " of " + std::to_string(size) + " bytes";
    }
    return fault;
}

// Polls `done` every few milliseconds until it holds or `limit` has passed.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace vtest
