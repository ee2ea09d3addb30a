// A disk that fills up under a run: the run ends with 3, the file keeps exactly
// the bytes counted in `received` (no half-written block), and a later run
// resumes from there to a byte-identical file.
//
// Tests run as root, where permissions do not stop a write. A file size limit
// does: the fetch runs in a child process with RLIMIT_FSIZE set and SIGXFSZ
// ignored, so a write past the limit fails with EFBIG (after writing what still
// fits) just as a full disk fails with ENOSPC. /dev/full gives ENOSPC itself.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "brindlex/vbrindlex.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

constexpr std::uint64_t kSize = 30000;

struct Outcome {
    unsigned long result = 99;
    std::uint64_t received = 0;
    int fileError = -1;
};

Outcome FetchInThisProcess(const std::string& url, const std::string& out) {
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    Outcome outcome;
    outcome.result = t.Go();
    outcome.received = t.received.load();
    outcome.fileError = t.fileError.load();
    return outcome;
}

// A child process that fetches one URL into `out` with its file size limited to
// `limit` bytes. It is forked at construction, before the test starts a server,
// so it starts out with a single thread; it then waits for the URL.
class LimitedChild {
public:
    LimitedChild(const std::string& out, rlim_t limit) {
        if (pipe(toChild_) != 0 || pipe(fromChild_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) RunChild(out, limit);
        close(toChild_[0]);
        close(fromChild_[1]);
    }
    ~LimitedChild() {
        close(toChild_[1]);
        close(fromChild_[0]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    LimitedChild(const LimitedChild&) = delete;
    LimitedChild& operator=(const LimitedChild&) = delete;

    bool started() const { return pid_ > 0; }

    // Hands the child the URL and returns what its run ended with.
    Outcome Fetch(const std::string& url) {
        Outcome outcome;
        const bool sent =
            write(toChild_[1], url.data(), url.size()) == static_cast<ssize_t>(url.size());
        close(toChild_[1]);
        toChild_[1] = -1;
        if (!sent || read(fromChild_[0], &outcome, sizeof outcome) != sizeof outcome) {
            ADD_FAILURE() << "the child gave no outcome";
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid_, &status, 0), pid_);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        pid_ = -1;
        return outcome;
    }

private:
    [[noreturn]] void RunChild(const std::string& out, rlim_t limit) {
        close(toChild_[1]);
        close(fromChild_[0]);
        std::string url;
        char buf[256];
        for (ssize_t n; (n = read(toChild_[0], buf, sizeof buf)) > 0;) url.append(buf, n);
        const rlimit fileLimit{limit, limit};
        std::signal(SIGXFSZ, SIG_IGN);
        Outcome outcome;
        if (!url.empty() && setrlimit(RLIMIT_FSIZE, &fileLimit) == 0) {
            outcome = FetchInThisProcess(url, out);
        }
        const bool told = write(fromChild_[1], &outcome, sizeof outcome) == sizeof outcome;
        // No exit handlers: they belong to the parent's test run.
        _exit(told ? 0 : 1);
    }

    int toChild_[2] = {-1, -1};
    int fromChild_[2] = {-1, -1};
    pid_t pid_ = -1;
};

std::uint64_t FileLength(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// Whether the file holds exactly the first `length` bytes of the resource; says
// where it differs, not the whole content.
::testing::AssertionResult HoldsBody(const std::string& path, std::uint64_t length) {
    const std::string bytes = ReadWholeFile(path);
    const std::string expected = Body(0, length);
    if (bytes == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < bytes.size() && at < expected.size() && bytes[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << "the file has " << bytes.size() << " bytes, expected "
                                         << length << "; first difference at " << at;
}

TEST(DiskFull, FileSizeLimitMidBodyKeepsTheCountedBytesAndResumes) {
    const struct {
        const char* name;
        std::uint64_t partial;  // bytes of the resource in the file before the run
        rlim_t limit;
    } cases[] = {
        {"limit inside a block", 0, 10100},
        {"limit on a block boundary", 0, 10240},
        {"limit during a resumed body", 5000, 12345},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vtest::TempDir dir;
        const std::string out = dir / "out";
        WriteWholeFile(out, Body(0, c.partial));
        LimitedChild child(out, c.limit);
        ASSERT_TRUE(child.started());
        TestServer server;
        server.Set("/f", Route{.size = kSize});
        const std::string url = server.Url("/f");

        const Outcome limited = child.Fetch(url);
        EXPECT_EQ(limited.result, RESULT_FILE_PROBLEM);
        // The block that did not fit is gone whole; every block before it is kept.
        EXPECT_LE(limited.received, c.limit);
        EXPECT_GT(limited.received + 256, c.limit);
        EXPECT_EQ(FileLength(out), limited.received);
        EXPECT_TRUE(HoldsBody(out, limited.received));

        const Outcome later = FetchInThisProcess(url, out);
        EXPECT_EQ(later.result, RESULT_OK);
        EXPECT_TRUE(HoldsBody(out, kSize));
        const auto requests = server.RequestsFor("/f");
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(limited.received) + "-");
    }
}

// A device that is always full: the first write fails with ENOSPC.
TEST(DiskFull, DeviceWithNoSpaceFailsTheFirstWrite) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full";
    TestServer server;
    server.Set("/f", Route{.size = kSize});
    const Outcome outcome = FetchInThisProcess(server.Url("/f"), "/dev/full");
    EXPECT_EQ(outcome.result, RESULT_FILE_PROBLEM);
    EXPECT_EQ(outcome.received, 0u);
    EXPECT_EQ(outcome.fileError, ENOSPC);  // the reason the window names
    // A file that cannot be made names its reason too; a good run leaves none.
    const Outcome missing = FetchInThisProcess(server.Url("/f"), "/nonexistent-folder/x");
    EXPECT_EQ(missing.result, RESULT_FILE_PROBLEM);
    EXPECT_EQ(missing.fileError, ENOENT);
    vtest::TempDir temp;
    const Outcome good = FetchInThisProcess(server.Url("/f"), temp / "f");
    EXPECT_EQ(good.result, RESULT_OK);
    EXPECT_EQ(good.fileError, 0);
}

}  // namespace
