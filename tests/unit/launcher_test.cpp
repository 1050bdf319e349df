#include "launcher.h"

#include <gtest/gtest.h>

#include "fake/fake_platform.h"

namespace sp {
namespace {

using fake::FakePlatform;

struct ParseCase {
  std::vector<std::wstring> arguments;
  LauncherOptions expected;
};

bool operator==(const LauncherOptions& a, const LauncherOptions& b) {
  return a.quiet_mode == b.quiet_mode &&
         a.install_requested == b.install_requested &&
         a.extract_requested == b.extract_requested &&
         a.extract_path == b.extract_path &&
         a.patch_list_requested == b.patch_list_requested &&
         a.patch_list_path == b.patch_list_path &&
         a.list_requested == b.list_requested;
}

LauncherOptions Options(bool quiet, bool install, bool extract,
                        std::wstring extract_path, bool patch_list,
                        std::wstring patch_list_path, bool list) {
  return {quiet,      install,
          extract,    std::move(extract_path),
          patch_list, std::move(patch_list_path),
          list};
}

TEST(ParseArgumentsTest, Table) {
  const ParseCase cases[] = {
      {{}, Options(false, true, false, L"", false, L"", false)},
      {{L"sp.exe"}, Options(false, true, false, L"", false, L"", false)},
      {{L"sp.exe", L"/q"}, Options(true, true, false, L"", false, L"", false)},
      {{L"sp.exe", L"/E", L"x.msp"},
       Options(false, false, true, L"x.msp", false, L"", false)},
      {{L"sp.exe", L"/e"}, Options(false, false, true, L"", false, L"", false)},
      {{L"sp.exe", L"/e", L"/q"},
       Options(false, false, true, L"/q", false, L"", false)},
      {{L"sp.exe", L"/e", L"/p"},
       Options(false, false, true, L"/p", false, L"", false)},
      {{L"sp.exe", L"/p", L"out.txt", L"/e", L"pay.msp"},
       Options(false, false, true, L"pay.msp", true, L"out.txt", false)},
      {{L"sp.exe", L"/e", L"pay.msp", L"/i"},
       Options(false, false, true, L"pay.msp", false, L"", true)},
      {{L"sp.exe", L"/i", L"/e", L"pay.msp", L"/q"},
       Options(false, false, false, L"", false, L"", true)},
      {{L"sp.exe", L"/q", L"/I"},
       Options(true, false, false, L"", false, L"", true)},
      {{L"sp.exe", L"/x"}, Options(false, true, false, L"", false, L"", false)},
      {{L"sp.exe", L"-e"}, Options(false, true, false, L"", false, L"", false)},
      {{L"sp.exe", L"/qe"},
       Options(false, true, false, L"", false, L"", false)},
      {{L"sp.exe", L"/e", L"a", L"/e", L"b"},
       Options(false, false, true, L"b", false, L"", false)},
      {{L"sp.exe", L"/p", L""},
       Options(false, false, false, L"", true, L"", false)},
      // Letters outside A to Z are not folded.
      {{L"sp.exe", L"/\u0130"},
       Options(false, true, false, L"", false, L"", false)},
  };
  for (const auto& c : cases) {
    std::wstring joined;
    for (const auto& a : c.arguments) joined += a + L" ";
    EXPECT_TRUE(ParseArguments(c.arguments) == c.expected)
        << fake::Narrow(joined);
  }
}

class RunServicePackTest : public ::testing::Test {
 protected:
  RunServicePackTest() {
    os_.resources.Add(L"MSP", L"IDR_MSP", 1046, fake::Bytes("PATCHBYTES"));
    os_.files.tick_count = 7;
    // Whichever temporary file the payload goes to reads as a package.
    for (Dword n = 7; n < 10; ++n) {
      os_.msi.packages[L"C:\\Temp\\MSP" + std::to_wstring(n)]
          .text[kPidTemplate] = L"{A};{B}";
    }
  }
  int Run(std::vector<std::wstring> arguments) {
    os_.command_line.arguments = std::move(arguments);
    Platform platform = os_.platform();
    return RunServicePack(platform, fake::kModule);
  }
  FakePlatform os_;
};

TEST_F(RunServicePackTest, ListShowsTheTargetListAndKeepsThePayload) {
  EXPECT_EQ(Run({L"sp.exe", L"/q", L"/i"}), 0);
  ASSERT_EQ(os_.boxes.shown.size(), 1u);
  EXPECT_EQ(os_.boxes.shown[0].text, L"{A};{B}");
  EXPECT_EQ(os_.boxes.shown[0].caption, L"List of Products");
  EXPECT_EQ(os_.boxes.shown[0].type, 0x50000u);
  EXPECT_EQ(os_.files.Content(L"C:\\Temp\\MSP7"), "PATCHBYTES");
}

TEST_F(RunServicePackTest, ListWithoutPayloadShowsAnEmptyBox) {
  os_.resources.Remove(L"MSP", L"IDR_MSP");
  EXPECT_EQ(Run({L"sp.exe", L"/i"}), 0);
  ASSERT_EQ(os_.boxes.shown.size(), 1u);
  EXPECT_EQ(os_.boxes.shown[0].text, L"");
  EXPECT_EQ(os_.boxes.shown[0].caption, L"List of Products");
}

TEST_F(RunServicePackTest, ExtractThenListInFixedOrder) {
  EXPECT_EQ(Run({L"sp.exe", L"/i", L"/e", L"C:\\Work\\x.msp"}), 0);
  // Nothing after /i counts.
  EXPECT_FALSE(os_.files.Exists(L"C:\\Work\\x.msp"));

  os_.log.clear();
  EXPECT_EQ(Run({L"sp.exe", L"/e", L"C:\\Work\\x.msp", L"/i"}), 0);
  EXPECT_EQ(os_.files.Content(L"C:\\Work\\x.msp"), "PATCHBYTES");
  const auto creates = os_.Calls("CreateFileW");
  ASSERT_GE(creates.size(), 2u);
  EXPECT_NE(creates.front().find("C:\\Work\\x.msp"), std::string::npos);
  EXPECT_NE(creates.back().find("C:\\Temp\\MSP"), std::string::npos);
  ASSERT_EQ(os_.boxes.shown.size(), 2u);
  EXPECT_EQ(os_.boxes.shown[1].text, L"{A};{B}");
}

}  // namespace
}  // namespace sp
