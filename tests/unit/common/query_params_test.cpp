#include "common/query_params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ambervox {
namespace {

std::string Value(const QueryParams& params, const char* name) { return params.Get(name).CStr(); }

TEST(QueryParamsTest, MissingNameReadsAsEmpty) {
  QueryParams params;
  EXPECT_EQ("", Value(params, "current"));
  EXPECT_FALSE(params.Contains("current"));
  params.Set("current", "25");
  params.Set("current", "50");
  EXPECT_EQ("50", Value(params, "current"));
  EXPECT_EQ(1, params.Size());
  EXPECT_EQ("", Value(params, "Current"));
}

TEST(ParseQueryStringTest, SplitsTheQueryIntoNamedValues) {
  QueryParams params;
  EXPECT_EQ(2, ParseQueryString("/playlist.cgi?current=25&&psearch=abc&current=50", &params));
  EXPECT_EQ("50", Value(params, "current"));
  EXPECT_EQ("abc", Value(params, "psearch"));
  EXPECT_EQ(2, params.Size());

  EXPECT_EQ(3, ParseQueryString("/admin.cgi?pass=secret&action=next&&&listpos=7&", &params));
  EXPECT_EQ("secret", Value(params, "pass"));
  EXPECT_EQ("next", Value(params, "action"));
  EXPECT_EQ("7", Value(params, "listpos"));
  EXPECT_FALSE(params.Contains("current"));
}

TEST(ParseQueryStringTest, FindsTheQueryAfterQuestionMarkOrFirstAmpersand) {
  QueryParams params;
  EXPECT_EQ(1, ParseQueryString("/playlist.cgi&current=25", &params));
  EXPECT_EQ("25", Value(params, "current"));
  // A "?" wins over an earlier "&".
  EXPECT_EQ(1, ParseQueryString("/x&y=1?z=2", &params));
  EXPECT_EQ("2", Value(params, "z"));
  EXPECT_FALSE(params.Contains("y"));
  // A later "?" is part of a value.
  EXPECT_EQ(1, ParseQueryString("/x?a=b?c", &params));
  EXPECT_EQ("b?c", Value(params, "a"));
}

TEST(ParseQueryStringTest, TargetWithoutQueryEmptiesTheMap) {
  QueryParams params;
  params.Set("stale", "1");
  EXPECT_EQ(0, ParseQueryString("/playlist.cgi", &params));
  EXPECT_TRUE(params.IsEmpty());
  params.Set("stale", "1");
  EXPECT_EQ(0, ParseQueryString("/playlist.cgi?", &params));
  EXPECT_TRUE(params.IsEmpty());
  EXPECT_EQ(0, ParseQueryString("", &params));
  EXPECT_EQ(0, ParseQueryString("/x?&&=&==", &params));
  EXPECT_TRUE(params.IsEmpty());
}

TEST(ParseQueryStringTest, SkipsEmptyPiecesAroundEqualsSigns) {
  QueryParams params;
  EXPECT_EQ(1, ParseQueryString("/x?=5", &params));
  EXPECT_TRUE(params.Contains("5"));
  EXPECT_EQ("", Value(params, "5"));

  EXPECT_EQ(1, ParseQueryString("/x?a==b", &params));
  EXPECT_EQ("b", Value(params, "a"));
  EXPECT_EQ(2, ParseQueryString("/x?a=b=c&flag", &params));
  EXPECT_EQ("b", Value(params, "a"));
  EXPECT_TRUE(params.Contains("flag"));
  EXPECT_EQ("", Value(params, "flag"));
}

TEST(ParseQueryStringTest, KeepsValuesUndecodedAndNamesCaseSensitive) {
  QueryParams params;
  EXPECT_EQ(3, ParseQueryString("/p?psearch=a%20b+c&b=\x82\xA0&B=2", &params));
  EXPECT_EQ("a%20b+c", Value(params, "psearch"));
  EXPECT_EQ("\x82\xA0", Value(params, "b"));
  EXPECT_EQ("2", Value(params, "B"));
  std::vector<std::string> names;
  for (const auto& entry : params) names.push_back(entry.first.CStr());
  EXPECT_EQ((std::vector<std::string>{"B", "b", "psearch"}), names);
}

TEST(ParseQueryStringTest, StopsAtAZeroByte) {
  QueryParams params;
  EXPECT_EQ(1, ParseQueryString(ByteString("/x?a=1\0b=2", 10), &params));
  EXPECT_EQ("1", Value(params, "a"));
  EXPECT_FALSE(params.Contains("b"));
}

}  // namespace
}  // namespace ambervox
