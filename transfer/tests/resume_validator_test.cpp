// Resuming only the version a partial file holds: the validator kept beside the
// file, If-Range on the resume, and the whole new resource when it changed.
#include "resume_validator.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "attribute_folder.h"
#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;

namespace {

using vtest::AttributeFolder;

constexpr char kDate[] = "Tue, 01 Dec 2026 10:00:00 GMT";

// The attribute's value, or none.
std::optional<std::string> Attribute(const std::string& path) {
    char value[1024];
    const ssize_t n = getxattr(path.c_str(), brindlex::kValidatorAttribute, value, sizeof value);
    if (n < 0) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(n));
}

// Runs `url` into `out` and returns the result.
unsigned long Fetch(const std::string& url, const std::string& out) {
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    return t.Go();
}

struct Version {
    std::string etag;
    std::string lastModified;
    std::optional<std::string> body;  // the generated 1000 bytes when none
};

struct ResumeCase {
    const char* name;
    Version first;   // cut off after 500 bytes
    Version second;  // what the server has when the download resumes
    bool noAttributes;
    std::string ifRange;   // expected on the resume; "" for none
    std::string expected;  // the file afterwards
};

void PrintTo(const ResumeCase& c, std::ostream* os) { *os << c.name; }

class ResumeValidatorTest : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(ResumeValidatorTest, ResumesOnlyTheSameVersion) {
    const ResumeCase& c = GetParam();
    const std::string base = AttributeFolder();
    if (base.empty()) GTEST_SKIP() << "no folder here takes user extended attributes";
    vtest::TempDir dir(base);
    const std::string out = dir / "out";
    TestServer server;
    auto route = [](const Version& v) {
        Route r;
        r.size = 1000;
        r.body = v.body;
        r.etag = v.etag;
        r.lastModified = v.lastModified;
        return r;
    };
    Route cut = route(c.first);
    cut.dropAfter = 500;
    server.SetSequence("/f", {cut, route(c.second)});
    brindlex::seams::extendedAttributesFail = c.noAttributes;

    EXPECT_EQ(Fetch(server.Url("/f"), out), RESULT_DROPPED);
    const auto kept = Attribute(out);
    if (c.ifRange.empty()) {
        EXPECT_FALSE(kept.has_value()) << *kept;
    } else {
        EXPECT_EQ(kept.value_or(""), server.Url("") + " " + c.ifRange);
    }
    EXPECT_EQ(Fetch(server.Url("/f"), out), RESULT_OK);
    brindlex::seams::extendedAttributesFail = false;

    const auto requests = server.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=500-");
    EXPECT_EQ(requests[1].Header("If-Range"), c.ifRange);
    EXPECT_EQ(requests[1].HasHeader("If-Range"), !c.ifRange.empty());
    EXPECT_TRUE(ReadWholeFile(out) == c.expected);
    EXPECT_FALSE(Attribute(out).has_value()) << "a complete file keeps no validator";
}

const std::string kV1 = "\"v1\"", kV2 = "\"v2\"", kWeak = "W/\"v1\"";
const std::string kNew(1000, 'n'), kShort(500, 'n'), kBody = Body(0, 1000);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Versions, ResumeValidatorTest,
    ::testing::Values(
        //         name                             first (cut off)     second (now)
        //                                          no xattrs  If-Range  file afterwards
        ResumeCase{"unchanged",                     {kV1, kDate, {}},   {kV1, kDate, {}},
                                                    false,     kV1,      kBody},
        ResumeCase{"changed_etag",                  {kV1, kDate, {}},   {kV2, kDate, kNew},
                                                    false,     kV1,      kNew},
        // As long as the partial file: without the validator it would pass for complete.
        ResumeCase{"changed_to_the_partial_length", {kV1, "", {}},      {kV2, "", kShort},
                                                    false,     kV1,      kShort},
        ResumeCase{"weak_etag_takes_the_date",      {kWeak, kDate, {}}, {kWeak, kDate, {}},
                                                    false,     kDate,    kBody},
        ResumeCase{"no_validator",                  {"", "", {}},       {"", "", {}},
                                                    false,     "",       kBody},
        ResumeCase{"no_extended_attributes",        {kV1, kDate, {}},   {kV1, kDate, {}},
                                                    true,      "",       kBody}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A download done in one attempt keeps none either: the validator set as its
// first byte arrived goes with its last.
TEST(ResumeValidatorFresh, ACompleteFileKeepsNone) {
    const std::string base = AttributeFolder();
    if (base.empty()) GTEST_SKIP() << "no folder here takes user extended attributes";
    vtest::TempDir dir(base);
    const std::string out = dir / "out";
    TestServer server;
    server.Set("/f", Route{.size = 1000, .etag = "\"v1\""});
    EXPECT_EQ(Fetch(server.Url("/f"), out), RESULT_OK);
    EXPECT_TRUE(ReadWholeFile(out) == Body(0, 1000));
    EXPECT_FALSE(Attribute(out).has_value()) << *Attribute(out);
}

// The validator belongs to the server that sent the body: after a redirect only
// that server gets it, the one that redirected does not.
TEST(ResumeValidatorRedirect, GoesOnlyToTheOriginThatGaveIt) {
    const std::string base = AttributeFolder();
    if (base.empty()) GTEST_SKIP() << "no folder here takes user extended attributes";
    vtest::TempDir dir(base);
    const std::string out = dir / "out";
    TestServer front, store;
    front.Set("/r", Route{.status = 302, .location = store.Url("/f")});
    const Route whole{.size = 1000, .etag = "\"v1\""};
    Route cut = whole;
    cut.dropAfter = 500;
    store.SetSequence("/f", {cut, whole});

    EXPECT_EQ(Fetch(front.Url("/r"), out), RESULT_DROPPED);
    EXPECT_EQ(Attribute(out).value_or(""), store.Url("") + " \"v1\"");
    EXPECT_EQ(Fetch(front.Url("/r"), out), RESULT_OK);
    EXPECT_TRUE(ReadWholeFile(out) == Body(0, 1000));
    const auto first = front.RequestsFor("/r");
    const auto second = store.RequestsFor("/f");
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_FALSE(first[1].HasHeader("If-Range"));
    EXPECT_EQ(second[1].Header("If-Range"), "\"v1\"");
}

// A resume sent on to a mirror of another origin goes without If-Range, so the
// mirror's range is appended only when its ETag or Last-Modified is the version
// the file holds. Any other answer (another version, or one that does not say)
// has the same attempt fetch the whole file again from the mirror.
TEST(ResumeValidatorRedirect, MirrorRangeOfAnotherVersionIsNeverAppended) {
    const std::string base = AttributeFolder();
    if (base.empty()) GTEST_SKIP() << "no folder here takes user extended attributes";
    const std::string kOtherDate = "Wed, 02 Dec 2026 10:00:00 GMT";
    const struct {
        const char* name;
        Version held;    // what the file was cut from, on the first server
        Version mirror;  // what the mirror has
        std::size_t mirrorRequests;
    } cases[] = {
        {"same_etag", {kV1, kDate, {}}, {kV1, "", {}}, 1},
        {"same_date", {kWeak, kDate, {}}, {kWeak, kDate, {}}, 1},
        {"other_etag", {kV1, kDate, {}}, {kV2, kDate, kNew}, 2},
        {"other_date", {"", kDate, {}}, {"", kOtherDate, kNew}, 2},
        {"neither", {kV1, kDate, {}}, {"", "", kNew}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vtest::TempDir dir(base);
        const std::string out = dir / "out";
        TestServer first, mirror;
        Route cut{.size = 1000,
                  .dropAfter = 500,
                  .lastModified = c.held.lastModified,
                  .etag = c.held.etag};
        first.SetSequence("/f", {cut, Route{.status = 302, .location = mirror.Url("/f")}});
        mirror.Set("/f", Route{.size = 1000,
                               .body = c.mirror.body,
                               .lastModified = c.mirror.lastModified,
                               .etag = c.mirror.etag});

        EXPECT_EQ(Fetch(first.Url("/f"), out), RESULT_DROPPED);
        ASSERT_TRUE(Attribute(out).has_value());
        EXPECT_EQ(Fetch(first.Url("/f"), out), RESULT_OK);
        EXPECT_TRUE(ReadWholeFile(out) == c.mirror.body.value_or(kBody));
        const auto requests = mirror.RequestsFor("/f");
        ASSERT_EQ(requests.size(), c.mirrorRequests);
        EXPECT_EQ(requests[0].Header("Range"), "bytes=500-");
        EXPECT_FALSE(requests[0].HasHeader("If-Range"));
        EXPECT_FALSE(requests.back().HasHeader("Range") && c.mirrorRequests == 2);
    }
}

}  // namespace
