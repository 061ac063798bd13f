#include "kit/core/PathString.h"
#include "kit/net/URLEscape.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* path;
    const char* expected;
};

class PathExtensionTest : public testing::TestWithParam<PathCase> { };
TEST_P(PathExtensionTest, TextAfterTheLastDotOfTheLastComponent)
{
    EXPECT_EQ(kit::pathExtension(GetParam().path), GetParam().expected) << GetParam().path;
}
INSTANTIATE_TEST_SUITE_P(Cases, PathExtensionTest,
    testing::Values(PathCase { "a.torrent", "torrent" }, PathCase { "/d/a.b.c.torrent", "torrent" },
        PathCase { "/d/Movie", "" }, PathCase { "/d.x/Movie", "" }, PathCase { "/d/name.", "" },
        PathCase { "/d/.profile", "profile" }, PathCase { "/d/a.avi/", "avi" }, PathCase { "", "" },
        PathCase { "/", "" }, PathCase { "//bin", "" }, PathCase { "/d/a.TORRENT", "TORRENT" },
        PathCase { "/d/ünï.cödé", "cödé" }));

class DeleteLastComponentTest : public testing::TestWithParam<PathCase> { };
TEST_P(DeleteLastComponentTest, DropsTheLastComponent)
{
    EXPECT_EQ(kit::stringByDeletingLastPathComponent(GetParam().path), GetParam().expected) << GetParam().path;
}
INSTANTIATE_TEST_SUITE_P(Cases, DeleteLastComponentTest,
    testing::Values(PathCase { "/", "/" }, PathCase { "/var", "/" }, PathCase { "/var/mobile/Library", "/var/mobile" },
        PathCase { "/var/mobile/", "/var" }, PathCase { "//bin", "/" }, PathCase { "//bin/sub", "//bin" },
        PathCase { "/a//b", "/a" }, PathCase { "name", "" }, PathCase { "", "" }, PathCase { "a/b", "a" }));

struct AppendCase {
    const char* path;
    const char* component;
    const char* expected;
};
class AppendComponentTest : public testing::TestWithParam<AppendCase> { };
TEST_P(AppendComponentTest, JoinsWithOneSlash)
{
    auto& c = GetParam();
    EXPECT_EQ(kit::stringByAppendingPathComponent(c.path, c.component), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, AppendComponentTest,
    testing::Values(AppendCase { "/d", "x.torrent", "/d/x.torrent" }, AppendCase { "/d/", "x", "/d/x" },
        AppendCase { "/", "x", "/x" }, AppendCase { "", "x", "x" }, AppendCase { "/d", "sub/x.avi", "/d/sub/x.avi" },
        AppendCase { "/d", ".torrent", "/d/.torrent" }, AppendCase { "/d", "x/", "/d/x" }));

TEST(URLEscapeTest, EscapesWhatMayNotAppearAndKeepsTheURLsPunctuation)
{
    EXPECT_EQ(kit::stringByAddingPercentEscapes("mailto:?subject=A b&body=c,d;e@f$g+h/i#j"),
        "mailto:?subject=A%20b&body=c,d;e@f$g+h/i#j");
    EXPECT_EQ(kit::stringByAddingPercentEscapes("100% \"q\" <a> [b] {c} |\\^`"),
        "100%25%20%22q%22%20%3Ca%3E%20%5Bb%5D%20%7Bc%7D%20%7C%5C%5E%60");
    EXPECT_EQ(kit::stringByAddingPercentEscapes("é\n-_.!~*'()"), "%C3%A9%0A-_.!~*'()");
    EXPECT_EQ(kit::escapeQueryValue("/d/Tom & Jerry #1.avi"), "/d/Tom%20%26%20Jerry%20%231.avi");
}

TEST(URLEscapeTest, FileURLsRoundTrip)
{
    for (std::string path : { "/d/a b.avi", "/d/100%.mkv", "/d/#1?.mp4", "/d/ünï.ogg", "//bin/x" }) {
        auto url = kit::fileURLWithPath(path);
        EXPECT_EQ(url.rfind("file:///", 0), 0u) << url;
        EXPECT_EQ(url.find(' '), std::string::npos) << url;
        EXPECT_EQ(kit::fileURLPath(url), path) << url;
    }
    EXPECT_EQ(kit::fileURLPath("file://localhost/x%20y"), "/x y");
    EXPECT_EQ(kit::fileURLPath("file://elsewhere/x"), std::nullopt);
    EXPECT_EQ(kit::fileURLPath("http://host/x"), std::nullopt);
    EXPECT_EQ(kit::percentDecode("a%2"), "a%2");
    EXPECT_EQ(kit::percentDecode("a%zz%41"), "a%zzA");
}

} // namespace
