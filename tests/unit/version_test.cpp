// The pure decisions of the install run: version texts, the version gate,
// the walk of the target list, and the texts handed to the platform.
#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "install.h"

namespace sp {
namespace {

using fake::Narrow;

VersionQuad Quad(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                 std::uint16_t d) {
  return VersionQuad{{a, b, c, d}};
}

std::string Show(const VersionQuad& v) {
  return std::to_string(v.parts[0]) + "." + std::to_string(v.parts[1]) + "." +
         std::to_string(v.parts[2]) + "." + std::to_string(v.parts[3]);
}

TEST(ParseVersionTest, Table) {
  const struct {
    std::wstring text;
    VersionQuad expected;
  } cases[] = {
      {L"9.1.0.6", Quad(9, 1, 0, 6)},
      {L"9,1,0,6", Quad(9, 1, 0, 6)},
      {L"9, 0, 43, 0", Quad(9, 0, 43, 0)},
      {L"9.0.43.0b", Quad(9, 0, 43, 0)},
      {L"9.1.5", Quad(9, 1, 0, 0)},
      {L"9.1", Quad(9, 0, 0, 0)},
      {L"9", Quad(0, 0, 0, 0)},
      {L"", Quad(0, 0, 0, 0)},
      {L"1.2.3.4.5", Quad(1, 2, 3, 4)},
      {L"9..1.2", Quad(9, 0, 1, 2)},
      {L"70000.1.2.3", Quad(4464, 1, 2, 3)},
      {L"-1.0.0.0", Quad(65535, 0, 0, 0)},
      {L"+7.\t8.x9.10 ", Quad(7, 8, 0, 10)},
      {L"65536.65535.4294967297.0", Quad(0, 65535, 1, 0)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(ParseVersion(c.text)), Show(c.expected)) << Narrow(c.text);
  }
}

TEST(ReadNumberTest, ReadsLikeTheRuntimeConversion) {
  const struct {
    std::wstring text;
    std::int32_t expected;
  } cases[] = {
      {L"1046", 1046},    {L"  \t1046", 1046}, {L"+12ab", 12}, {L"-3", -3},
      {L"", 0},           {L"abc", 0},         {L"- 5", 0},    {L"1 2", 1},
      {L"4294967296", 0},  // no overflow check: wraps in 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadNumber(c.text), c.expected) << Narrow(c.text);
  }
}

TEST(VersionsTest, EqualAndDifferAreOpposites) {
  EXPECT_TRUE(VersionsEqual(Quad(9, 0, 43, 0), ParseVersion(L"9,0,43,0")));
  EXPECT_FALSE(VersionsDiffer(Quad(9, 0, 43, 0), ParseVersion(L"9,0,43,0")));
  for (int part = 0; part < 4; ++part) {
    VersionQuad other = Quad(9, 0, 43, 0);
    other.parts[part] += 1;
    EXPECT_TRUE(VersionsDiffer(Quad(9, 0, 43, 0), other)) << part;
    EXPECT_FALSE(VersionsEqual(Quad(9, 0, 43, 0), other)) << part;
  }
}

TEST(ClassifyVersionTest, Table) {
  using enum GateOutcome;
  const struct {
    std::wstring installed;
    std::wstring target;
    std::wstring accepted;
    GateOutcome expected;
  } cases[] = {
      // The shipped strings.
      {L"9.1.0.6", L"9.1.0.6", L"9.0.43.0,", kAlreadyCurrent},
      {L"9.0.43.0", L"9.1.0.6", L"9.0.43.0,", kPatchable},
      {L"8.0.0.0", L"9.1.0.6", L"9.0.43.0,", kNotAccepted},
      // Written differently, equal all the same.
      {L"9,1,0,6", L"9.1.0.6", L"9.0.43.0,", kAlreadyCurrent},
      {L"9.0.43.0b", L"9.1.0.6", L"9.0.43.0,", kPatchable},
      // No closing ',': no entry at all.
      {L"9.0.43.0", L"9.1.0.6", L"9.0.43.0", kNotAccepted},
      {L"9.1.0.6", L"9.1.0.6", L"", kAlreadyCurrent},
      // Text after the last ',' is no entry.
      {L"9.0.43.0", L"9.1.0.6", L"9.0.43.0,9.0.44.0", kPatchable},
      {L"9.0.44.0", L"9.1.0.6", L"9.0.43.0,9.0.44.0", kNotAccepted},
      // An empty entry reads as 0.0.0.0, as does an empty version.
      {L"", L"9.1.0.6", L"9.0.43.0,,", kPatchable},
      {L"1.0.0.0", L"9.1.0.6", L"9.0.43.0,,", kNotAccepted},
      // The first entry equal to either version decides.
      {L"9.0.43.0", L"9.1.0.6", L"9.1.0.6,9.0.43.0,", kEndRun},
      {L"9.0.43.0", L"9.1.0.6", L"9.0.43.0,9.1.0.6,", kPatchable},
      {L"8.0.0.0", L"9.1.0.6", L"9.0.43.0,9.1.0.6,", kEndRun},
      {L"8.0.0.0", L"9.1.0.6", L"8.0.0.0,9.1.0.6,", kPatchable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyVersion(ParseVersion(c.installed), c.target, c.accepted),
              c.expected)
        << Narrow(c.installed) << " / " << Narrow(c.target) << " / "
        << Narrow(c.accepted);
  }
}

TEST(SplitTargetListTest, StopsAtTheFirstEmptyEntry) {
  using Codes = std::vector<std::wstring>;
  const struct {
    std::wstring list;
    Codes expected;
  } cases[] = {
      {L"A;B", {L"A", L"B"}},
      {L"A;B;", {L"A", L"B"}},
      {L"A;;B", {L"A"}},
      {L";A", {}},
      {L"", {}},
      {L";", {}},
      {L"A; B", {L"A", L" B"}},
      {L"A;A", {L"A", L"A"}},
      {L"{x y}", {L"{x y}"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitTargetList(c.list), c.expected) << Narrow(c.list);
  }
}

TEST(PatchSucceededTest, RestartResultsCountAsSuccess) {
  for (Uint result : {0u, 3010u, 1641u}) {
    EXPECT_TRUE(PatchSucceeded(result)) << result;
  }
  for (Uint result : {1u, 1603u, 1642u, 1605u, 3011u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(PatchSucceeded(result)) << result;
  }
}

TEST(PatchCommandLineTest, QuotesThePathWholeWhateverItsLength) {
  EXPECT_EQ(PatchCommandLine(L"C:\\Temp\\MSP5"), L"PATCH=\"C:\\Temp\\MSP5\"");
  EXPECT_EQ(PatchCommandLine(L"C:\\Documents and Settings\\a b\\MSP9"),
            L"PATCH=\"C:\\Documents and Settings\\a b\\MSP9\"");
  const std::wstring long_path = L"C:\\" + std::wstring(3000, L'd') + L"\\MSP1";
  EXPECT_EQ(PatchCommandLine(long_path), L"PATCH=\"" + long_path + L"\"");
}

TEST(SharedComponentsFileTest, PathOrNothingWhenItWouldNotFit) {
  EXPECT_EQ(SharedComponentsFile("C:\\Program Files\\Common Files"),
            "C:\\Program Files\\Common Files\\Corvane Shared\\ "
            "B1E56000plu.cfg");
  // The suffix "\Corvane Shared\ B1E56000plu.cfg" has 32 characters; the
  // path and its terminator must fit in 1024 bytes.
  const std::size_t suffix = 32;
  const std::string longest(1023 - suffix, 'c');
  ASSERT_TRUE(SharedComponentsFile(longest).has_value());
  EXPECT_EQ(SharedComponentsFile(longest)->size(), 1023u);
  EXPECT_FALSE(SharedComponentsFile(longest + "c").has_value());
}

}  // namespace
}  // namespace sp
