// One fetch against the local server: resume, rewrite, shortcut, failures, file times.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <string>

#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

class FetchTest : public ::testing::Test {
protected:
    // Aims `t` at the server's `target`, saving into the test folder's file "out".
    void Aim(VBRINDLEX& t, const std::string& target) {
        url_ = server_.Url(target);
        ASSERT_EQ(t.SetURL(url_.c_str()), 1);
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
    }

    std::uint64_t FileLength() {
        struct stat st {};
        return stat(out_.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }

    time_t FileTime() {
        struct stat st {};
        return stat(out_.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
    }

    void SetFileTime(time_t when) {
        const utimbuf times{when, when};
        ASSERT_EQ(utime(out_.c_str(), &times), 0);
    }

    vtest::TempDir dir_;
    TestServer server_;
    std::string out_ = dir_ / "out";
    std::string url_;
};

TEST_F(FetchTest, ResumesAPartialFileFromItsLength) {
    server_.Set("/f", Route{.size = 1000});
    WriteWholeFile(out_, Body(0, 500));
    VBRINDLEX t;
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_OK);

    const auto requests = server_.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=500-");
    EXPECT_EQ(t.received.load(), 1000u);
    EXPECT_EQ(t.totalSize.load(), 1000u);
    EXPECT_EQ(t.status.load(), STATUS_DONE);
    EXPECT_EQ(t.result.load(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
}

TEST_F(FetchTest, ServerWithoutRangesRewritesAndIsNeverAskedForARangeAgain) {
    server_.Set("/f", Route{.size = 1000, .acceptRanges = false});
    WriteWholeFile(out_, Body(0, 500));
    VBRINDLEX t;
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
    EXPECT_TRUE(t.GetFlags() & FLAG_NO_RANGE);

    WriteWholeFile(out_, Body(0, 300));
    EXPECT_EQ(t.Go(), RESULT_OK);
    const auto requests = server_.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=500-");
    EXPECT_FALSE(requests[1].HasHeader("Range"));
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
}

TEST_F(FetchTest, RestartOverALongerFileCutsItToTheNewBody) {
    server_.Set("/f", Route{.size = 1000, .acceptRanges = false});
    WriteWholeFile(out_, std::string(3000, 'x'));
    VBRINDLEX t;
    t.SetFlags(FLAG_TO_FILE | FLAG_NO_RANGE);
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
}

TEST_F(FetchTest, CompleteFileIsTakenAsDoneUntouched) {
    server_.Set("/f", Route{.size = 1000, .acceptRanges = false, .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT"});
    WriteWholeFile(out_, Body(0, 1000));
    SetFileTime(1000000000);
    VBRINDLEX t;
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(t.status.load(), STATUS_DONE);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
    EXPECT_EQ(FileTime(), 1000000000);
}

TEST_F(FetchTest, RefetchCompleteFlagFetchesAgain) {
    server_.Set("/f", Route{.size = 1000, .acceptRanges = false, .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT"});
    WriteWholeFile(out_, Body(0, 1000));
    VBRINDLEX t;
    t.SetFlags(FLAG_TO_FILE | FLAG_REFETCH_COMPLETE);
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
    EXPECT_EQ(FileTime(), 1445412480);
}

// Asked for bytes past its end, the server answers 416 "bytes */1000". A file of
// exactly that length is complete (a run that ended before its owner saw it end):
// done, untouched. A longer one can only be an older version of a file that got
// shorter: the same attempt fetches it again from 0.
TEST_F(FetchTest, FileAskedPastItsEndIsDoneOrFetchedAgain) {
    const struct {
        std::uint64_t length;
        std::size_t requests;
        time_t fileTime;
    } cases[] = {{1000, 1, 1000000000}, {1200, 2, 1445412480}};
    server_.Set("/f", Route{.size = 1000, .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        WriteWholeFile(out_, Body(0, 1000) + std::string(c.length - 1000, 'x'));
        SetFileTime(1000000000);
        const std::size_t before = server_.Requests().size();
        VBRINDLEX t;
        Aim(t, "/f");
        EXPECT_EQ(t.Go(), RESULT_OK);
        EXPECT_EQ(t.status.load(), STATUS_DONE);
        EXPECT_EQ(t.received.load(), 1000u);
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, 1000));
        EXPECT_EQ(FileTime(), c.fileTime);
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size() - before, c.requests);
        EXPECT_EQ(requests[before].Header("Range"), "bytes=" + std::to_string(c.length) + "-");
        if (c.requests == 2) {
            EXPECT_FALSE(requests.back().HasHeader("Range"));
        }
    }
}

// A failed attempt takes away the empty file it made, and only that one: an empty
// file that was there before (a name reserved for the download) stays.
TEST_F(FetchTest, FailedAttemptLeavesNoFileOfItsOwn) {
    server_.Set("/500", Route{.status = 500, .body = "oops", .acceptRanges = false});
    server_.Set("/nothing", Route{.raw = ""});
    server_.Set("/empty", Route{.acceptRanges = false});
    const struct {
        std::string url;
        unsigned long result;
    } cases[] = {{server_.Url("/missing"), 404},
                 {server_.Url("/500"), 500},
                 {server_.Url("/nothing"), RESULT_BAD_SEND_REQUEST},
                 {"ftp://127.0.0.1/file.bin", RESULT_UNSUPPORTED},
                 // A download that is really empty is an empty file.
                 {server_.Url("/empty"), RESULT_OK}};
    for (const auto& c : cases) {
        for (const bool reserved : {false, true}) {
            SCOPED_TRACE(c.url + (reserved ? " reserved" : ""));
            std::remove(out_.c_str());
            if (reserved) WriteWholeFile(out_, "");
            VBRINDLEX t;
            ASSERT_EQ(t.SetURL(c.url.c_str()), 1);
            t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
            EXPECT_EQ(t.Go(), c.result);
            EXPECT_EQ(vtest::FileExists(out_), reserved || c.result == RESULT_OK);
            EXPECT_EQ(FileLength(), 0u);
        }
    }
}

// The name is checked before the file goes: a file put in its place during the
// attempt is someone else's.
TEST_F(FetchTest, NeverRemovesAFileThatTookTheNameOver) {
    server_.Set("/f", Route{.neverAnswer = true});
    VBRINDLEX t;
    Aim(t, "/f");
    t.GoAsync();
    while (server_.Requests().empty() && VWait(t.thread, 10) == VWAIT_TIMEOUT) {
    }
    ASSERT_EQ(std::remove(out_.c_str()), 0);
    WriteWholeFile(out_, "");
    t.StopAsync();
    ASSERT_EQ(VWait(t.thread, V_INFINITE), VWAIT_SIGNALLED);
    EXPECT_EQ(t.result.load(), RESULT_INTERRUPTED);
    EXPECT_TRUE(vtest::FileExists(out_));
}

TEST_F(FetchTest, BodyWithoutLengthIsReadToItsEnd) {
    for (auto framing : {Route::Framing::Close, Route::Framing::Chunked}) {
        SCOPED_TRACE(static_cast<int>(framing));
        server_.Set("/f", Route{.size = 3000, .framing = framing});
        std::remove(out_.c_str());
        VBRINDLEX t;
        Aim(t, "/f");
        EXPECT_EQ(t.Go(), RESULT_OK);
        EXPECT_EQ(t.totalSize.load(), 3000u);
        EXPECT_EQ(t.received.load(), 3000u);
        EXPECT_EQ(ReadWholeFile(out_), Body(0, 3000));
    }
}

TEST_F(FetchTest, DroppedConnectionKeepsTheBytesSoFar) {
    server_.Set("/f", Route{.size = 5000, .dropAfter = 700});
    VBRINDLEX t;
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_DROPPED);
    EXPECT_EQ(t.status.load(), STATUS_FAILED);
    EXPECT_EQ(t.received.load(), 700u);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 700));
}

TEST_F(FetchTest, LengthAbove4GiBAnsweredByAShortBodyKeepsThe64BitTotal) {
    server_.Set("/f", Route{.size = 1000, .contentLength = "5368709120", .framing = Route::Framing::Close});
    VBRINDLEX t;
    Aim(t, "/f");
    EXPECT_EQ(t.Go(), RESULT_DROPPED);
    EXPECT_EQ(t.totalSize.load(), 5368709120u);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 1000));
}

TEST_F(FetchTest, SchemesOtherThanHttpAreRefusedBeforeConnecting) {
    VBRINDLEX t;
    ASSERT_EQ(t.SetURL("ftp://127.0.0.1/file.bin"), 1);
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
    EXPECT_EQ(t.Go(), RESULT_UNSUPPORTED);
    EXPECT_EQ(t.status.load(), STATUS_FAILED);
    EXPECT_FALSE(vtest::FileExists(out_));
}

TEST_F(FetchTest, BadUrlAndMissingReceptor) {
    VBRINDLEX t;
    ASSERT_EQ(t.SetURL("not a url"), 1);
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
    EXPECT_EQ(t.Go(), RESULT_BAD_URL);

    VBRINDLEX noFile;
    ASSERT_EQ(noFile.SetURL(server_.Url("/f").c_str()), 1);
    EXPECT_EQ(noFile.Go(), RESULT_FILE_PROBLEM);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(FetchTest, OutputThatCannotBeOpenedIsAFileProblem) {
    server_.Set("/f", Route{.size = 100});
    VBRINDLEX t;
    const std::string folderName = dir_.path();
    ASSERT_EQ(t.SetURL(server_.Url("/f").c_str()), 1);
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(folderName.c_str()));
    EXPECT_EQ(t.Go(), RESULT_FILE_PROBLEM);

    const std::string inMissingFolder = dir_ / "no/such/folder/out";
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(inMissingFolder.c_str()));
    EXPECT_EQ(t.Go(), RESULT_FILE_PROBLEM);
}

TEST_F(FetchTest, EveryRequestCarriesOneRefererWithItsOwnUrl) {
    server_.Set("/f", Route{.size = 10});
    VBRINDLEX t;
    Aim(t, "/f");
    ASSERT_EQ(t.Go(), RESULT_OK);
    ASSERT_EQ(t.SetReferer("http://127.0.0.1/elsewhere"), 1);
    std::remove(out_.c_str());
    ASSERT_EQ(t.Go(), RESULT_OK);

    for (const auto& request : server_.RequestsFor("/f")) {
        int referers = 0;
        for (const auto& [name, value] : request.headers) {
            if (strcasecmp(name.c_str(), "Referer") == 0) ++referers;
        }
        EXPECT_EQ(referers, 1);
        EXPECT_EQ(request.Header("Referer"), url_);
        EXPECT_EQ(request.Header("User-Agent"), "Vantorel 1.0");
        EXPECT_EQ(request.method, "GET");
    }
}

TEST_F(FetchTest, FileIsStampedWithLastModified) {
    server_.Set("/f", Route{.size = 10, .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT"});
    VBRINDLEX t;
    Aim(t, "/f");
    ASSERT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(FileTime(), 1445412480);
}

TEST_F(FetchTest, ObjectWithQueryAndFragmentIsRequestedAsWritten) {
    server_.Set("/dir/a.cgi", Route{.size = 10});
    VBRINDLEX t;
    Aim(t, "/dir/a.cgi?id=5#top");
    ASSERT_EQ(t.Go(), RESULT_OK);
    const auto requests = server_.RequestsFor("/dir/a.cgi");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/dir/a.cgi?id=5#top");
}

}  // namespace

namespace {

// Escapes in the URL reach the server as written: a decoded "%26" or "%2F" would
// name another resource.
TEST_F(FetchTest, EscapesInTheUrlAreSentAsWritten) {
    server_.Set("/a%2Fb", Route{.size = 10});
    VBRINDLEX t;
    Aim(t, "/a%2Fb?sig=x%2By%3D&n=a%26b");
    ASSERT_EQ(t.Go(), RESULT_OK);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/a%2Fb?sig=x%2By%3D&n=a%26b");
}

// Signed links run to several KiB: a URL of 8 KiB goes through the split, the
// request line, the Referer and a redirect whole; a longer one is refused.
TEST(LongUrl, Of8KiBIsTakenWholeAndALongerOneRefused) {
    vtest::TempDir dir;
    TestServer server;
    const std::string head = server.Url("/start?sig=x%2By");
    const std::string tail = std::string(8192 - head.size(), 'q');
    const std::string url = head + tail, out = dir / "out";
    ASSERT_EQ(url.size(), 8192u);
    server.Set("/start", Route{.status = 302, .location = "/next?sig=" + tail});
    server.Set("/next", Route{.size = 10});
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    ASSERT_EQ(t.Go(), RESULT_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/start?sig=x%2By" + tail);
    EXPECT_EQ(requests[1].target, "/next?sig=" + tail);
    for (const auto& request : requests) EXPECT_EQ(request.Header("Referer"), url);

    const std::string longer = url + "q";
    t.SetURL(longer.c_str());
    EXPECT_EQ(t.Go(), RESULT_BAD_URL);
    EXPECT_EQ(server.Requests().size(), 2u);
}

}  // namespace

namespace {

// A second run on a file another run is writing refuses to start rather than
// interleave its bytes with the first one's.
TEST_F(FetchTest, SecondRunOnABusyFileIsAFileProblem) {
    server_.Set("/slow", Route{.size = 100000, .bytesPerSecond = 200000});
    server_.Set("/f", Route{.size = 100});
    VBRINDLEX first;
    Aim(first, "/slow");
    first.GoAsync();
    while (first.status.load() < 1000 && VWait(first.thread, 10) == VWAIT_TIMEOUT) {
    }
    VBRINDLEX second;
    Aim(second, "/f");
    EXPECT_EQ(second.Go(), RESULT_FILE_PROBLEM);
    ASSERT_EQ(VWait(first.thread, V_INFINITE), VWAIT_SIGNALLED);
    EXPECT_EQ(first.result.load(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out_), Body(0, 100000));
}

}  // namespace

namespace {

// A symbolic link named like the download, planted in the save folder, is never
// followed: the file it points to stays as it was, or is never created.
TEST_F(FetchTest, OutputThatIsASymbolicLinkIsAFileProblem) {
    server_.Set("/f", Route{.size = 100});
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists);
        const std::string target = dir_ / "users-file";
        std::remove(target.c_str());
        std::remove(out_.c_str());
        if (targetExists) WriteWholeFile(target, "precious");
        ASSERT_EQ(symlink(target.c_str(), out_.c_str()), 0);
        VBRINDLEX t;
        Aim(t, "/f");
        EXPECT_EQ(t.Go(), RESULT_FILE_PROBLEM);
        EXPECT_EQ(vtest::FileExists(target), targetExists);
        if (targetExists) {
            EXPECT_EQ(ReadWholeFile(target), "precious");
        }
    }
    EXPECT_TRUE(server_.Requests().empty());
}

// The Referer names the page without its credentials, however the URL writes its
// authority (libcurl takes `http:/` and `http:///` too); another origin learns
// only the page's origin, never its path, query (a signed link's token) or
// #fragment.
TEST(RedirectReferer, CarriesNoSecretsToOtherServers) {
    for (const char* slashes : {"//", "/", "///"}) {
        for (const bool otherOrigin : {false, true}) {
            SCOPED_TRACE(std::string(slashes) + (otherOrigin ? " other origin" : ""));
            vtest::TempDir dir;
            TestServer server, other;
            const std::string port = std::to_string(server.Port());
            server.Set("/start", Route{.status = 302,
                                       .location = otherOrigin ? other.Url("/next") : "/next"});
            server.Set("/next", Route{.size = 10});
            other.Set("/next", Route{.size = 10});
            const std::string out = dir / "out";
            const std::string page = "127.0.0.1:" + port + "/start?token=t0k#frag";
            const std::string url = std::string("http:") + slashes + "user:secret@" + page;
            VBRINDLEX t;
            t.SetURL(url.c_str());
            t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
            ASSERT_EQ(t.Go(), RESULT_OK);
            const auto first = server.RequestsFor("/start");
            ASSERT_EQ(first.size(), 1u);
            EXPECT_EQ(first[0].target, "/start?token=t0k#frag");
            EXPECT_EQ(first[0].Header("Referer"), "http://" + page);
            const auto next = (otherOrigin ? other : server).RequestsFor("/next");
            ASSERT_EQ(next.size(), 1u);
            EXPECT_EQ(next[0].Header("Referer"),
                      otherOrigin ? "http://127.0.0.1:" + port + "/" : "http://" + page);
        }
    }
}

// What was asked for over HTTPS never continues over plain HTTP: the attempt
// fails like a certificate that cannot be trusted, and nothing reaches the
// plain server.
TEST(RedirectReferer, HttpsNeverRedirectsToHttp) {
    vtest::TempDir dir;
    TestServer secure(TestServer::Mode::Https), plain;
    brindlex::seams::SetTrustedCaFile(secure.CaFile());
    secure.Set("/start", Route{.status = 302, .location = plain.Url("/next")});
    plain.Set("/next", Route{.size = 10});
    const std::string out = dir / "out", url = secure.Url("/start");
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    EXPECT_EQ(t.Go(), RESULT_BAD_SEND_REQUEST);
    brindlex::seams::SetTrustedCaFile("");
    EXPECT_EQ(secure.RequestsFor("/start").size(), 1u);
    EXPECT_TRUE(plain.Requests().empty());
}

}  // namespace
