#include "transfers/StatusCut.h"

#include <gtest/gtest.h>

namespace {

struct CutCase {
    const char* name;
    std::string text;
    std::optional<StatusFields> fields;
};

class StatusCutTest : public ::testing::TestWithParam<CutCase> { };

TEST_P(StatusCutTest, Cuts)
{
    EXPECT_EQ(cutStatusLine(GetParam().text), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(Texts, StatusCutTest,
    ::testing::Values(
        CutCase { "WorkedExample", "x [a] b,c|d,eK/s | f", StatusFields { "x", "d", "e" } },
        CutCase { "RealStatusLineOnAPipe", "\n| 0/0/2 [64/64/64] 4MB,0MB | 0,0K/s | 0,0K E:0,1 ",
            StatusFields { "\n|", " 0", "0" } },
        CutCase { "DownloadingLine", "\n/ 1/3/5 [10/64/12] 1MB,2MB | 120,5K/s | 33,1K E:0,1 ",
            StatusFields { "\n/", " 120", "5" } },
        CutCase { "LeadingBlankGivesEmptyProg", " x [a] b,c|d,e", StatusFields { "", "d", "e" } },
        CutCase { "UpToTheEndWithoutASecondBarOrRateSeparator", "p [q] ,|down,up", StatusFields { "p", "down", "up" } },
        CutCase { "EmptyPiecesCount", "[]," "|," , StatusFields { "", "", "" } },
        CutCase { "TwoStatusLines", "a [1] x,y|z,w\nb [2] x,y|z,w", std::nullopt },
        CutCase { "NoBracket", "Connecting to tracker", std::nullopt },
        CutCase { "Empty", "", std::nullopt },
        CutCase { "NoClosingBracket", "a [b, c|d, e", std::nullopt },
        CutCase { "TooFewCommas", "a [b] c,d|e", std::nullopt },
        CutCase { "NoBarInSecondPiece", "a [b] c,d,e", std::nullopt }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitEveryTest, KeepsEmptyPiecesAndSplitsAtEveryOccurrence)
{
    auto pieces = splitEvery(",a,,b,", ",");
    EXPECT_EQ(pieces, (std::vector<std::string_view> { "", "a", "", "b", "" }));
    EXPECT_EQ(splitEvery("1K/s | 2K/s | 3", "K/s | ").size(), 3u);
    EXPECT_EQ(splitEvery("", "["), std::vector<std::string_view> { "" });
}

} // namespace
