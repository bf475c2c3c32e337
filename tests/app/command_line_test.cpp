#include "app/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/string_util.h"

namespace {

struct ParseCase {
  const wchar_t* text;
  std::map<std::wstring, std::wstring> switches;
  std::vector<std::wstring> loose;
};

TEST(CommandLineTest, ParseTable) {
  const ParseCase kCases[] = {
      {L"", {}, {}},
      {L"/target_dir=\"C:\\Program Files\\Game\" /S",
       {{L"target_dir", L"C:\\Program Files\\Game"}, {L"S", L""}}, {}},
      {L"/a=1 /a=2", {{L"a", L"2"}}, {}},
      {L"\"C:\\Program Files\\kzr.exe\" /k", {{L"k", L""}}, {L"\"C:\\Program Files\\kzr.exe\""}},
      // An unbalanced quote swallows the rest of the text, spaces included.
      {L"/x=\"a b /y", {{L"x", L"\"a b /y"}}, {}},
      {L"p \"open end", {}, {L"p", L"\"open end"}},
      // Inner quotes are kept; only a pair around the whole value goes.
      {L"/p=a\"b c\"d", {{L"p", L"a\"b c\"d"}}, {}},
      {L"-- /- - /", {}, {L"-", L"/"}},
      {L"a  b   /c", {{L"c", L""}}, {L"a", L"b"}},
      {L"-x /y --z /-w", {{L"x", L""}, {L"y", L""}, {L"z", L""}, {L"w", L""}}, {}},
      {L"/e= /f=\"\"", {{L"e", L""}, {L"f", L""}}, {}},
      // A value that is a lone quote has no pair to strip; it is kept.
      {L"/q=\"", {{L"q", L"\""}}, {}},
      // Tabs are ordinary characters.
      {L"/t=a\tb", {{L"t", L"a\tb"}}, {}},
      // The first equals sign splits, also inside quotes.
      {L"/u=\"x=y\"", {{L"u", L"x=y"}}, {}},
      {L"/=v -=w", {}, {}},
      // An escaped quote does not toggle quoting.
      {L"/m=a\\\" b", {{L"m", L"a\\\""}}, {L"b"}},
      {L"/from=desk_icon /pid=p1 /subpid=s2",
       {{L"from", L"desk_icon"}, {L"pid", L"p1"}, {L"subpid", L"s2"}}, {}},
      {L"  /uninstall  ", {{L"uninstall", L""}}, {}},
      {L"/名字=值 x", {{L"名字", L"值"}}, {L"x"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.text));
    CCommandLine cl;
    EXPECT_TRUE(cl.Parse(c.text));
    EXPECT_EQ(cl.switches(), c.switches);
    EXPECT_EQ(cl.loose_args(), c.loose);
    EXPECT_EQ(cl.text(), c.text);
  }
}

TEST(CommandLineTest, LookupsArePrefixTolerantAndCaseSensitive) {
  CCommandLine cl;
  cl.Parse(L"/uninstall /k=v -S");
  struct {
    const wchar_t* name;
    bool found;
    const wchar_t* value;
  } const kCases[] = {
      {L"uninstall", true, L""},  {L"/uninstall", true, L""}, {L"--uninstall", true, L""},
      {L"-uninstall", true, L""}, {L"/-uninstall", true, L""}, {L"Uninstall", false, L""},
      {L"k", true, L"v"},         {L"/k", true, L"v"},         {L"K", false, L""},
      {L"S", true, L""},          {L"s", false, L""},          {L"-", false, L""},
      {L"", false, L""},          {L"unin", false, L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUtf8(c.name));
    EXPECT_EQ(cl.HasSwitch(c.name), c.found);
    std::wstring value = L"stale";
    EXPECT_EQ(cl.GetSwitchValue(c.name, value), c.found);
    EXPECT_EQ(value, c.value);
  }
}

TEST(CommandLineTest, ResetEmptiesEverything) {
  CCommandLine cl;
  cl.Parse(L"a /b=c");
  cl.Reset();
  EXPECT_TRUE(cl.switches().empty());
  EXPECT_TRUE(cl.loose_args().empty());
  EXPECT_TRUE(cl.text().empty());
  EXPECT_FALSE(cl.HasSwitch(L"b"));
}

}  // namespace
