#include "repairs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "fake/fake_platform.h"
#include "messages.h"
#include "payload.h"
#include "process_state.h"

namespace sp {
namespace {

using fake::FakeMsi;
using fake::FakePlatform;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr wchar_t kCode[] = L"{A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6}";
constexpr wchar_t kPacked[] = L"4D3C2B1A6F5E8B7A9C0D1E2F3A4B5C6D";
constexpr wchar_t kHostPath[] =
    L"Software\\Corvane\\Mervolt\\R16.0\\Merv-5F6:7B8";
constexpr wchar_t kRegistrationPath[] =
    L"Installer\\Products\\4D3C2B1A6F5E8B7A9C0D1E2F3A4B5C6D";
constexpr wchar_t kModule[] = L"C:\\Mervolt\\desktop.mvx";

/// Registry data of `text` as UTF-16 little-endian bytes, no terminator.
std::vector<std::uint8_t> Utf16(const std::wstring& text) {
  std::vector<std::uint8_t> data;
  for (wchar_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
  }
  return data;
}

FixedFileInfo Version(Dword a, Dword b, Dword c, Dword d) {
  return {(a << 16) | b, (c << 16) | d, 0, 0};
}

/// True when no key or handle in `closed` was closed twice.
template <typename T>
bool ClosedOnce(const std::vector<T>& closed) {
  return std::set<T>(closed.begin(), closed.end()).size() == closed.size();
}

// ---------------------------------------------------------------- pure parts

TEST(PackProductCode, PacksTheExample) {
  EXPECT_EQ(PackProductCode(kCode), kPacked);
}

TEST(PackProductCode, TakesEveryCharacterFromItsPlace) {
  // Distinct characters show where each output character comes from; the
  // braces and dashes are not examined, and letter case stays.
  EXPECT_EQ(PackProductCode(L"{ABCDEFGH-IJKL-MNOP-QRST-UVWXYZabcdef}"),
            L"HGFEDCBALKJIPONMRQTSVUXWZYbadcfe");
  EXPECT_EQ(PackProductCode(L"#ABCDEFGH#IJKL#MNOP#QRST#UVWXYZabcdef#"),
            L"HGFEDCBALKJIPONMRQTSVUXWZYbadcfe");
  EXPECT_EQ(PackProductCode(L"{a1b2c3d4-e5f6-a7b8-c9d0-e1f2a3b4c5d6}"),
            L"4d3c2b1a6f5e8b7a9c0d1e2f3a4b5c6d");
}

TEST(PackProductCode, ShortCodeGivesNothing) {
  EXPECT_EQ(PackProductCode(L""), std::nullopt);
  EXPECT_EQ(PackProductCode(std::wstring(kCode).substr(0, 37)), std::nullopt);
}

TEST(HostKeyPath, PiecesFollowTheFirstDash) {
  struct Case {
    std::wstring code;
    std::optional<std::wstring> path;
  } cases[] = {
      {kCode, kHostPath},
      {L"{FDD175F8-B7FA-5A8E-A791-D0617CAF9FED}",
       L"Software\\Corvane\\Mervolt\\R16.0\\Merv-7FA:A8E"},
      // Not a braced code: the pieces still follow the first dash.
      {L"x-yABCdeDEF", L"Software\\Corvane\\Mervolt\\R16.0\\Merv-ABC:DEF"},
      // Too short for the second piece, or no dash at all.
      {L"x-yABCdeDE", std::nullopt},
      {L"{A1B2C3D4E5F6A7B8C9D0E1F2A3B4C5D6}", std::nullopt},
      {L"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HostKeyPath(c.code), c.path) << fake::Narrow(c.code);
  }
}

TEST(IsBracedGuid, AcceptsOnlyTheRegistryForm) {
  struct Case {
    std::wstring code;
    bool braced;
  } cases[] = {
      {kCode, true},
      {L"{a1b2c3d4-e5f6-a7b8-c9d0-e1f2a3b4c5d6}", true},
      {L"A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6", false},
      {L"{A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D}", false},
      {L"{A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6}x", false},
      {L"{A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5DG}", false},
      {L"{A1B2C3D4-E5F6-A7B8-C9D0E-1F2A3B4C5D6}", false},
      {L"(A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6)", false},
      {L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsBracedGuid(c.code), c.braced) << fake::Narrow(c.code);
  }
}

TEST(LocationText, TakesWholeTerminatedUtf16Only) {
  auto terminated = [](const std::wstring& text) {
    return Utf16(text + L'\0');
  };
  std::vector<std::uint8_t> odd = terminated(L"C:\\Mervolt");
  odd.push_back(0);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    std::optional<std::wstring> text;
  } cases[] = {
      {"terminated", terminated(L"C:\\Mervolt"), L"C:\\Mervolt"},
      {"stops at the first terminator", terminated(L"C:\\A\0B"), L"C:\\A"},
      {"unterminated, room left", Utf16(L"C:\\Mervolt"), L"C:\\Mervolt"},
      {"empty", {}, L""},
      {"1023 characters and terminator", terminated(std::wstring(1023, L'x')),
       std::wstring(1023, L'x')},
      {"2048 bytes, no terminator", Utf16(std::wstring(1024, L'x')),
       std::nullopt},
      {"odd byte count", odd, std::nullopt},
      {"more than 2048 bytes", terminated(std::wstring(1024, L'x')),
       std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LocationText(c.data), c.text) << c.name;
  }
}

TEST(ModulePath, KeepsTheLocationAsStored) {
  EXPECT_EQ(ModulePath(L"C:\\Mervolt"), L"C:\\Mervolt\\desktop.mvx");
  EXPECT_EQ(ModulePath(L"C:\\Mervolt\\"), L"C:\\Mervolt\\\\desktop.mvx");
  // 1011 + 12 characters fill the 1024 with the terminator; one more does not.
  EXPECT_EQ(ModulePath(std::wstring(1011, L'x'))->size(), 1023u);
  EXPECT_EQ(ModulePath(std::wstring(1012, L'x')), std::nullopt);
}

TEST(FileVersionText, HighWordBeforeLowWord) {
  EXPECT_EQ(FileVersionText(Version(16, 0, 1, 2)), L"16.0.1.2");
  EXPECT_EQ(FileVersionText(Version(65535, 1, 65535, 0)), L"65535.1.65535.0");
}

TEST(CallsForPackageRepair, TriggersAreCaseSensitive) {
  struct Case {
    std::wstring version;
    bool repair;
  } cases[] = {
      {L"9.0.43.0b", true},  {L"9.0.43.0c", true},  {L"9.0.34.0", true},
      {L"9.0.43.0rc", true}, {L"b", true},          {L"9.0.43.0", false},
      {L"9.0.43.0B", false}, {L"9.0.43.0C", false}, {L"9.0.34.0 ", false},
      {L" 9.0.34.0", false}, {L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CallsForPackageRepair(c.version), c.repair)
        << fake::Narrow(c.version);
  }
}

TEST(IsReplacedVersionValue, WholeTextCaseSensitive) {
  struct Case {
    std::wstring value;
    bool replaced;
  } cases[] = {
      {L"9.0.43.0b", true},   {L"9.0.43.0c", true},  {L"9.0.34.0", true},
      {L"9.0.43.0B", false},  {L"9.0.43.0C", false}, {L"9.0.43.0b ", false},
      {L" 9.0.43.0b", false}, {L"9.0.43.0", false},  {L"9.0.34.0b", false},
      {L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsReplacedVersionValue(c.value), c.replaced)
        << fake::Narrow(c.value);
  }
}

// ---------------------------------------------------------------- repair 1

/// A product whose host module (16.0.1.2) differs from its installed version
/// (9.0.43.0), with a "Transforms" value in its registration key.
void ArrangeProduct(FakePlatform& os, ProductRecord& record) {
  os.registry.SetString(kHkeyLocalMachine, kHostPath, L"MervLocation",
                        L"C:\\Mervolt");
  os.registry.SetString(kHkeyClassesRoot, kRegistrationPath, L"Transforms",
                        L":1033.mst");
  os.registry.SetString(kHkeyClassesRoot, kRegistrationPath, L"ProductName",
                        L"Mervolt");
  os.version.files[kModule] = Version(16, 0, 1, 2);
  record.product_code = kCode;
  record.version_string = L"9.0.43.0";
}

void RunTransformsRepair(FakePlatform& os, const ProductRecord& record) {
  Repairs(os.registry, os.version, os.msi)
      .RepairTransformsRegistration(record,
                                    ParseVersion(record.version_string));
}

bool HasTransforms(FakePlatform& os) {
  return os.registry.keys[{kHkeyClassesRoot, kRegistrationPath}].count(
             L"Transforms") != 0;
}

class TransformsRepairTest : public ::testing::Test {
 protected:
  TransformsRepairTest() { ArrangeProduct(os_, record_); }
  void Run() { RunTransformsRepair(os_, record_); }
  bool TransformsPresent() { return HasTransforms(os_); }
  FakePlatform os_;
  ProductRecord record_;
};

TEST_F(TransformsRepairTest, DifferentModuleVersionDeletesTransforms) {
  Run();
  EXPECT_FALSE(TransformsPresent());
  EXPECT_EQ((os_.registry.keys[{kHkeyClassesRoot, kRegistrationPath}].size()),
            1u);
  EXPECT_THAT(
      os_.log,
      ElementsAre(
          "RegOpenKeyExW 2147483650 " + fake::Narrow(kHostPath) + " 0 1",
          "RegQueryValueExW MervLocation 2048",
          "GetFileVersionInfoSizeW C:\\Mervolt\\desktop.mvx",
          "GetFileVersionInfoW C:\\Mervolt\\desktop.mvx 0 256",
          "VerQueryValueW \\",
          "RegOpenKeyExW 2147483648 " + fake::Narrow(kRegistrationPath) +
              " 0 131078",
          "RegDeleteValueW Transforms", "RegCloseKey", "RegCloseKey"));
  // The registration key (opened second) closes before the host key.
  ASSERT_EQ(os_.registry.closed.size(), 2u);
  EXPECT_GT(os_.registry.closed[0], os_.registry.closed[1]);
  EXPECT_EQ(os_.registry.open_keys(), 0);
}

TEST_F(TransformsRepairTest, LocationEndingInBackslashIsUsedUnchanged) {
  os_.registry.SetString(kHkeyLocalMachine, kHostPath, L"MervLocation",
                         L"C:\\Mervolt\\");
  os_.version.files.clear();
  os_.version.files[L"C:\\Mervolt\\\\desktop.mvx"] = Version(16, 0, 1, 2);
  Run();
  EXPECT_FALSE(TransformsPresent());
  EXPECT_EQ(os_.Calls("GetFileVersionInfoSizeW"),
            std::vector<std::string>{
                "GetFileVersionInfoSizeW C:\\Mervolt\\\\desktop.mvx"});
}

TEST_F(TransformsRepairTest, MissingTransformsValueIsNoFailure) {
  os_.registry.keys[{kHkeyClassesRoot, kRegistrationPath}].erase(L"Transforms");
  Run();
  EXPECT_EQ(os_.Calls("RegDeleteValueW").size(), 1u);
  EXPECT_EQ(os_.registry.closed.size(), 2u);
  EXPECT_EQ(os_.registry.open_keys(), 0);
}

TEST_F(TransformsRepairTest, EveryEarlyEndLeavesTransformsAndClosesKeys) {
  struct Case {
    const char* name;
    std::function<void(FakePlatform&, ProductRecord&)> arrange;
    /// Keys the repair opened (and must have closed once each).
    std::size_t keys_opened;
    /// The product code is refused before any platform call.
    bool code_rejected = false;
  } cases[] = {
      {"module version equal",
       [](FakePlatform& os, ProductRecord&) {
         os.version.files[kModule] = Version(9, 0, 43, 0);
       },
       1},
      {"installed 9.0.43.0b reads as the module's 9.0.43.0",
       [](FakePlatform& os, ProductRecord& r) {
         os.version.files[kModule] = Version(9, 0, 43, 0);
         r.version_string = L"9.0.43.0b";
       },
       1},
      {"no host key",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.keys.erase({kHkeyLocalMachine, kHostPath});
       },
       0},
      {"no MervLocation",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.keys[{kHkeyLocalMachine, kHostPath}].clear();
       },
       1},
      {"MervLocation over 2048 bytes",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.SetString(kHkeyLocalMachine, kHostPath, L"MervLocation",
                               std::wstring(1024, L'x'));
       },
       1},
      {"MervLocation filling 2048 bytes without terminator",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.keys[{kHkeyLocalMachine, kHostPath}][L"MervLocation"] = {
             1, Utf16(std::wstring(1024, L'x'))};
       },
       1},
      {"MervLocation of an odd byte count",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.keys[{kHkeyLocalMachine, kHostPath}][L"MervLocation"] = {
             3, {'C', 0, ':'}};
       },
       1},
      {"module path longer than 1023 characters",
       [](FakePlatform& os, ProductRecord&) {
         const std::wstring far = L"C:\\" + std::wstring(1009, L'x');
         os.registry.SetString(kHkeyLocalMachine, kHostPath, L"MervLocation",
                               far);
         os.version.files[far + L"\\desktop.mvx"] = Version(16, 0, 1, 2);
       },
       1},
      {"module missing",
       [](FakePlatform& os, ProductRecord&) { os.version.files.clear(); }, 1},
      {"module without a root version block",
       [](FakePlatform& os, ProductRecord&) {
         os.version.without_root.insert(kModule);
       },
       1},
      {"registration key missing",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.keys.erase({kHkeyClassesRoot, kRegistrationPath});
       },
       1},
      {"registration key not writable",
       [](FakePlatform& os, ProductRecord&) {
         os.registry.read_only.insert({kHkeyClassesRoot, kRegistrationPath});
       },
       1},
      {"product code without braces",
       [](FakePlatform&, ProductRecord& r) {
         r.product_code = L"A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6";
       },
       0, true},
      {"product code cut short",
       [](FakePlatform&, ProductRecord& r) { r.product_code = L"{A1B2-E5F6"; },
       0, true},
      {"product code with a character too many",
       [](FakePlatform&, ProductRecord& r) {
         r.product_code = std::wstring(kCode) + L"0";
       },
       0, true},
  };
  for (const auto& c : cases) {
    FakePlatform os;
    ProductRecord record;
    ArrangeProduct(os, record);
    c.arrange(os, record);
    RunTransformsRepair(os, record);
    // (With the registration key gone there is no value to look at.)
    if (os.registry.keys.count({kHkeyClassesRoot, kRegistrationPath}) != 0) {
      EXPECT_TRUE(HasTransforms(os)) << c.name;
    }
    EXPECT_TRUE(os.Calls("RegDeleteValueW").empty()) << c.name;
    EXPECT_EQ(os.registry.closed.size(), c.keys_opened) << c.name;
    EXPECT_TRUE(ClosedOnce(os.registry.closed)) << c.name;
    EXPECT_EQ(os.registry.open_keys(), 0) << c.name;
    if (c.code_rejected) {
      EXPECT_TRUE(os.log.empty()) << c.name << ": nothing is called";
    }
  }
}

TEST_F(TransformsRepairTest, VersionTextIsNotWrittenWhenUnreadable) {
  Repairs repairs(os_.registry, os_.version, os_.msi);
  std::wstring text = L"before";
  EXPECT_FALSE(repairs.GetFileVersionText(L"C:\\Elsewhere\\x.dll", text));
  os_.version.without_root.insert(kModule);
  EXPECT_FALSE(repairs.GetFileVersionText(kModule, text));
  EXPECT_EQ(text, L"before");
  os_.version.without_root.clear();
  EXPECT_TRUE(repairs.GetFileVersionText(kModule, text));
  EXPECT_EQ(text, L"16.0.1.2");
}

// ---------------------------------------------------------------- repair 2

constexpr wchar_t kPackage[] = L"C:\\Windows\\Installer\\1a2b.msi";

class PackageRepairTest : public ::testing::Test {
 protected:
  PackageRepairTest() {
    record_.version_string = L"9.0.43.0b";
    record_.local_package = kPackage;
  }
  FakeMsi::Database& Db() { return os_.msi.databases[kPackage]; }
  void Run() {
    Repairs(os_.registry, os_.version, os_.msi)
        .RepairCachedPackageVersion(record_);
  }
  FakePlatform os_;
  ProductRecord record_;
};

TEST_F(PackageRepairTest, ReplacesTheMatchInTransactionAndCommits) {
  Db().property_values = {L"1046", L"9.0.43.0b", L"Corvane"};
  Run();
  EXPECT_THAT(Db().property_values,
              ElementsAre(L"1046", L"9.0.43.0", L"Corvane"));
  EXPECT_EQ(Db().commits, 1);
  // Handles in a fresh fake: database 1, view 2, records from 3 on.
  EXPECT_THAT(
      os_.log,
      ElementsAre("MsiOpenDatabaseW C:\\Windows\\Installer\\1a2b.msi 1",
                  "MsiDatabaseOpenViewW SELECT Value FROM Property",
                  "MsiViewExecute 0", "MsiViewFetch",
                  "MsiRecordGetStringW 1 260", "MsiCloseHandle 3",
                  "MsiViewFetch", "MsiRecordGetStringW 1 260",
                  "MsiRecordSetStringW 1 9.0.43.0", "MsiViewModify 4",
                  "MsiCloseHandle 4", "MsiViewFetch", "MsiCloseHandle 5",
                  "MsiDatabaseCommit", "MsiCloseHandle 2", "MsiCloseHandle 1"));
  EXPECT_EQ(os_.msi.open_handles(), 0);
  EXPECT_TRUE(ClosedOnce(os_.msi.closed));
}

TEST_F(PackageRepairTest, EachListedValueIsReplacedUnderEachTrigger) {
  const std::wstring triggers[] = {L"9.0.43.0b", L"9.0.43.0c", L"9.0.34.0",
                                   L"9.0.43.0rc"};
  const std::wstring values[] = {L"9.0.43.0b", L"9.0.43.0c", L"9.0.34.0"};
  for (const auto& trigger : triggers) {
    for (const auto& value : values) {
      FakeMsi::Database& db = Db();
      db = {};
      db.property_values = {L"1.0", value, L"9.0.43.0"};
      record_.version_string = trigger;
      Run();
      EXPECT_THAT(db.property_values,
                  ElementsAre(L"1.0", L"9.0.43.0", L"9.0.43.0"))
          << fake::Narrow(trigger) << " " << fake::Narrow(value);
      EXPECT_EQ(db.commits, 1);
    }
  }
  EXPECT_EQ(os_.msi.open_handles(), 0);
  EXPECT_TRUE(ClosedOnce(os_.msi.closed));
}

TEST_F(PackageRepairTest, OnlyTheFirstMatchInViewOrderIsReplaced) {
  Db().property_values = {L"9.0.43.0c", L"9.0.43.0b", L"9.0.34.0"};
  Run();
  EXPECT_THAT(Db().property_values,
              ElementsAre(L"9.0.43.0", L"9.0.43.0b", L"9.0.34.0"));
  EXPECT_EQ(os_.Calls("MsiViewModify").size(), 1u);
  EXPECT_EQ(os_.Calls("MsiRecordGetStringW").size(), 1u);
  EXPECT_EQ(Db().commits, 1);
}

TEST_F(PackageRepairTest, VersionWithoutTriggerOpensNothing) {
  for (const std::wstring version :
       {L"9.0.43.0", L"9.0.43.0B", L"9.0.43.0C", L"9.0.34.0 ", L""}) {
    Db().property_values = {L"9.0.43.0b"};
    record_.version_string = version;
    Run();
    EXPECT_TRUE(os_.log.empty()) << fake::Narrow(version);
    EXPECT_THAT(Db().property_values, ElementsAre(L"9.0.43.0b"));
  }
}

TEST_F(PackageRepairTest, ValuesThatAreNotWholeMatchesStay) {
  const std::vector<std::wstring> values = {L"9.0.43.0b ", L"9.0.43.0B",
                                            L"9.0.43.0", L"x9.0.34.0",
                                            std::wstring(300, L'9')};
  Db().property_values = values;
  Run();
  EXPECT_THAT(Db().property_values, ElementsAreArray(values));
  EXPECT_TRUE(os_.Calls("MsiViewModify").empty());
  EXPECT_EQ(
      os_.Calls("MsiRecordGetStringW"),
      std::vector<std::string>(values.size(), "MsiRecordGetStringW 1 260"));
  EXPECT_EQ(Db().commits, 1);
}

TEST_F(PackageRepairTest, EarlyEndsCommitOnlyOnceTheViewIsOpen) {
  struct Case {
    const char* name;
    std::function<void(FakeMsi::Database&)> arrange;
    int commits;
    /// The calls after MsiOpenDatabaseW, in order.
    std::vector<std::string> calls;
  } cases[] = {
      {"package missing", nullptr, 0, {}},
      {"package not openable",
       [](FakeMsi::Database& db) { db.open_result = 1627; },
       0,
       {}},
      {"view not opened",
       [](FakeMsi::Database& db) { db.view_result = 1615; },
       0,
       {"MsiDatabaseOpenViewW SELECT Value FROM Property", "MsiCloseHandle 1"}},
      {"execution failed",
       [](FakeMsi::Database& db) { db.execute_result = 1627; },
       1,
       {"MsiDatabaseOpenViewW SELECT Value FROM Property", "MsiViewExecute 0",
        "MsiDatabaseCommit", "MsiCloseHandle 2", "MsiCloseHandle 1"}},
      {"empty table",
       [](FakeMsi::Database& db) { db.property_values.clear(); },
       1,
       {"MsiDatabaseOpenViewW SELECT Value FROM Property", "MsiViewExecute 0",
        "MsiViewFetch", "MsiDatabaseCommit", "MsiCloseHandle 2",
        "MsiCloseHandle 1"}},
      {"write-back refused",
       [](FakeMsi::Database& db) { db.modify_result = 1627; },
       1,
       {"MsiDatabaseOpenViewW SELECT Value FROM Property", "MsiViewExecute 0",
        "MsiViewFetch", "MsiRecordGetStringW 1 260",
        "MsiRecordSetStringW 1 9.0.43.0", "MsiViewModify 4", "MsiCloseHandle 3",
        "MsiViewFetch", "MsiCloseHandle 4", "MsiDatabaseCommit",
        "MsiCloseHandle 2", "MsiCloseHandle 1"}},
  };
  for (const auto& c : cases) {
    FakePlatform os;
    if (c.arrange) {
      FakeMsi::Database& db = os.msi.databases[kPackage];
      db.property_values = {L"9.0.43.0b", L"9.0.43.0c"};
      c.arrange(db);
    }
    Repairs(os.registry, os.version, os.msi)
        .RepairCachedPackageVersion(record_);
    std::vector<std::string> expected = {
        "MsiOpenDatabaseW C:\\Windows\\Installer\\1a2b.msi 1"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(os.log, expected) << c.name;
    if (c.arrange) {
      EXPECT_EQ(os.msi.databases[kPackage].commits, c.commits) << c.name;
    }
    EXPECT_EQ(os.msi.open_handles(), 0) << c.name;
    EXPECT_TRUE(ClosedOnce(os.msi.closed)) << c.name;
  }
}

// ---------------------------------------------------------------- in the run

TEST(RepairsInTheRun, PatchableProductIsRepairedThenPatched) {
  FakePlatform os;
  ProductRecord unused;
  ArrangeProduct(os, unused);
  os.resources.Add(L"MSP", L"IDR_MSP", 1033, fake::Bytes("PATCH"));
  os.resources.AddString(1033, kStringTargetVersion, L"9.1.0.6");
  os.resources.AddString(1033, kStringAcceptedVersions, L"9.0.43.0,");
  os.msi.packages[L"C:\\Temp\\MSP5000"].text[kPidTemplate] = kCode;
  auto& product = os.msi.products[kCode];
  product.properties = {{L"VersionString", L"9.0.43.0b"},
                        {L"LocalPackage", kPackage},
                        {L"ProductName", L"Mervolt"},
                        {L"Language", L"1033"}};
  os.msi.databases[kPackage].property_values = {L"9.0.43.0b"};

  ProcessState process;
  process.module_instance = fake::kModule;
  Messages messages(os.resources, os.thread, os.boxes, process);
  Payload payload(os.resources, os.files, os.environment, fake::kModule);
  TargetListReader reader(os.files, os.msi);
  Repairs repairs(os.registry, os.version, os.msi);
  Installer installer(os.thread, os.environment, os.files, os.msi, payload,
                      reader, messages, process, repairs);
  EXPECT_TRUE(installer.InstallRun());

  // The installed version 9.0.43.0b reads as 9.0.43.0, unlike the module.
  EXPECT_FALSE(HasTransforms(os));
  EXPECT_THAT(os.msi.databases[kPackage].property_values,
              ElementsAre(L"9.0.43.0"));
  ASSERT_EQ(os.msi.configured.size(), 1u);
  const auto at = [&](const std::string& prefix) {
    return std::find_if(os.log.begin(), os.log.end(),
                        [&](const std::string& line) {
                          return line.rfind(prefix, 0) == 0;
                        }) -
           os.log.begin();
  };
  EXPECT_LT(at("RegOpenKeyExW"), at("RegDeleteValueW"));
  EXPECT_LT(at("RegDeleteValueW"), at("MsiOpenDatabaseW"));
  EXPECT_LT(at("MsiDatabaseCommit"), at("MsiConfigureProductExW"));
  EXPECT_LT(at("MsiConfigureProductExW"), static_cast<long>(os.log.size()));
  EXPECT_EQ(os.registry.open_keys(), 0);
  EXPECT_EQ(os.msi.open_handles(), 0);
}

}  // namespace
}  // namespace sp
