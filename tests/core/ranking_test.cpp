// The ranking answer check, the rating arithmetic, the request and the search-mode readings.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "core/plist/codec.h"
#include "core/system/ranking.h"

namespace vl {
namespace {

pl::Dict entry(pl::Value acc, pl::Value sen, pl::Value qty) {
  pl::Dict d;
  if (!acc.isNull()) d["Acc"] = std::move(acc);
  if (!sen.isNull()) d["Sen"] = std::move(sen);
  if (!qty.isNull()) d["Qty"] = std::move(qty);
  return d;
}

RankingAnswer checkXml(const pl::Array& entries, bool searchMode = false) {
  std::string xml = pl::writeXml(pl::Value(entries));
  return checkRankingAnswer({reinterpret_cast<const uint8_t*>(xml.data()), xml.size()}, searchMode);
}

TEST(RankingAnswer, AcceptedListRanksAndRates) {
  pl::Array a{entry(0.6875, 1600.0, 40), entry(1.5, 1500, 19), entry(0, 5.0, 1)};
  a.back().asDict()->emplace("Tot", 60);
  // A "Tot" on an earlier entry is not the total.
  a.front().asDict()->emplace("Tot", 999);
  RankingAnswer r = checkXml(a);
  ASSERT_EQ(r.outcome, RankingOutcome::Listed) << r.why;
  ASSERT_EQ(r.list.size(), 3u);
  EXPECT_EQ(r.list[0].ran, 1);
  EXPECT_EQ(r.list[2].ran, 3);
  EXPECT_EQ(r.list[0].rat, 5);
  EXPECT_EQ(r.list[1].rat, 2);  // 19 × 4 ÷ 40 + 1
  EXPECT_EQ(r.list[2].rat, 1);
  EXPECT_DOUBLE_EQ(r.list[0].accValue(), 0.6875);
  EXPECT_DOUBLE_EQ(r.list[1].senValue(), 1500);
  EXPECT_EQ(rankingTotalText(r.total), "60");
  EXPECT_EQ(rankingNumberText(r.list[0].acc), "0.6875");

  RankingAnswer search = checkXml(a, true);
  ASSERT_EQ(search.outcome, RankingOutcome::Listed);
  EXPECT_EQ(search.list[0].ran, 40);
  EXPECT_EQ(search.list[1].ran, 19);
  EXPECT_EQ(search.list[1].rat, 2);
}

TEST(RankingAnswer, EveryBrokenRuleDiscardsTheWholeAnswer) {
  const pl::Dict good = entry(1.0, 1000.0, 10);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    pl::Dict second;
  } cases[] = {
      {"Acc missing", entry(nullptr, 1000.0, 5)},
      {"Sen missing", entry(1.0, nullptr, 5)},
      {"Qty missing", entry(1.0, 1000.0, nullptr)},
      {"Acc below 0", entry(-0.01, 1000.0, 5)},
      {"Acc above 20", entry(20.01, 1000.0, 5)},
      {"Sen below 5", entry(1.0, 4.99, 5)},
      {"Sen above 1990", entry(1.0, 1991, 5)},
      {"Qty zero", entry(1.0, 1000.0, 0)},
      {"Qty negative", entry(1.0, 1000.0, -3)},
      {"Qty above the first", entry(1.0, 1000.0, 11)},
      {"Acc a string", entry("1", 1000.0, 5)},
      {"Sen a string", entry(1.0, "1000", 5)},
      {"Qty a string", entry(1.0, 1000.0, "5")},
      {"Acc NaN", entry(nan, 1000.0, 5)},
      {"Sen infinite", entry(1.0, std::numeric_limits<double>::infinity(), 5)},
  };
  for (const auto& c : cases) {
    RankingAnswer r = checkXml({good, c.second, good});
    EXPECT_EQ(r.outcome, RankingOutcome::Wrong) << c.what;
    EXPECT_TRUE(r.list.empty()) << c.what;
    EXPECT_FALSE(r.why.empty()) << c.what;
  }
  // The bounds themselves are allowed.
  EXPECT_EQ(checkXml({entry(20.0, 1990, 10), entry(0, 5, 10)}).outcome, RankingOutcome::Listed);
}

TEST(RankingAnswer, ShapesOfTheWholeAnswer) {
  auto check = [](std::string_view text) {
    return checkRankingAnswer({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, false);
  };
  EXPECT_EQ(check("<html><body>Internal Server Error</body></html>").outcome, RankingOutcome::Wrong);
  EXPECT_EQ(check("").outcome, RankingOutcome::Wrong);
  EXPECT_EQ(check(pl::writeXml(pl::Value(pl::Dict{{"Acc", 1}}))).outcome, RankingOutcome::Wrong);
  EXPECT_EQ(check(pl::writeXml(pl::Value(pl::Array{pl::Value("x")}))).outcome, RankingOutcome::Wrong);
  EXPECT_EQ(check(pl::writeXml(pl::Value(pl::Array{}))).outcome, RankingOutcome::Empty);

  pl::Array hundred(100, pl::Value(entry(1.0, 1000.0, 7)));
  EXPECT_EQ(checkXml(hundred).outcome, RankingOutcome::Listed);
  hundred.push_back(entry(1.0, 1000.0, 7));
  EXPECT_EQ(checkXml(hundred).outcome, RankingOutcome::Wrong);

  // The binary form is a property list as well.
  pl::Data binary = pl::writeBinary(pl::Value(pl::Array{entry(1.0, 1000.0, 7)}));
  EXPECT_EQ(checkRankingAnswer(binary, false).outcome, RankingOutcome::Listed);

  // Oversized answers are refused before parsing.
  std::string big(kMaxRankingAnswerBytes + 1, ' ');
  EXPECT_EQ(check(big).outcome, RankingOutcome::Wrong);
}

TEST(RankingAnswer, RatingHasNoOverflowAtTheTopOfTheRange) {
  const int64_t top = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(rankingRating(top, top), 5);
  EXPECT_EQ(rankingRating(top - 1, top), 4);
  EXPECT_EQ(rankingRating(1, top), 1);
  EXPECT_EQ(rankingRating(3, 4), 4);
  EXPECT_EQ(rankingRating(1, 4), 2);
  EXPECT_EQ(rankingRating(19, 40), 2);
}

TEST(RankingRequest, QueryAndSystemRange) {
  RankingIdentity id{0x46D, 0xC52B, 0x4041, "USB"};
  EXPECT_EQ(rankingQuery(id, rankingOsRange({10, 15, 7})),
            "VID=1133&PID=50475&MID=16449&Tra=USB&OS0=101200&OS1=0&Cnt=20");
  EXPECT_EQ(rankingQuery({1, 2, 0, "Bluetooth Low Energy"}, rankingOsRange({10, 11, 6})),
            "VID=1&PID=2&MID=0&Tra=Bluetooth%20Low%20Energy&OS0=0&OS1=101199&Cnt=20");
  EXPECT_EQ(rankingOsRange({11, 0, 0}).os0, 101200);
  EXPECT_EQ(rankingOsRange({10, 12, 0}).os0, 101200);
  // The transport cannot smuggle in further query keys.
  EXPECT_EQ(rankingQuery({1, 2, 3, "USB&Cnt=100"}, {101200, 0}).find("&Cnt=100"), std::string::npos);
}

TEST(SearchMode, FieldReadings) {
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"1133", 1133}, {"c52b", 0xC52B}, {"C52B", 0xC52B}, {"0xc52b", 0xC52B}, {" 42", 42},
      {"12ab", 12},  // decimal digits first: no hexadecimal reading
      {"", 0},       {"zz", 0},         {"0", 0},         {"-5", 0},            {"99999999999", 0xFFFFFFFF},
      {"fffffffff", 0xFFFFFFFF},
  };
  for (const auto& c : cases) EXPECT_EQ(searchFieldValue(c.text), c.value) << c.text;

  EXPECT_EQ(searchTransport(""), "USB");
  EXPECT_EQ(searchTransport("u"), "USB");
  EXPECT_EQ(searchTransport("b"), "Bluetooth");
  EXPECT_EQ(searchTransport("U"), "U");
  EXPECT_EQ(searchTransport("Bluetooth Low Energy"), "Bluetooth Low Energy");
}

}  // namespace
}  // namespace vl
