#include "payload.h"

#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "msi.h"

namespace sp {
namespace {

using fake::FakePlatform;
using fake::kModule;

class PayloadTest : public ::testing::Test {
 protected:
  PayloadTest() {
    os_.resources.Add(L"MSP", L"IDR_MSP", 1046, fake::Bytes("MSPBYTES"));
    os_.files.tick_count = 41;
  }
  Payload payload() {
    return Payload(os_.resources, os_.files, os_.environment, kModule);
  }
  FakePlatform os_;
};

TEST_F(PayloadTest, TemporaryNameIsNewAndGivenBack) {
  std::wstring first;
  std::wstring second;
  ASSERT_TRUE(payload().ExtractPayload(first));
  ASSERT_TRUE(payload().ExtractPayload(second));
  EXPECT_EQ(first, L"C:\\Temp\\MSP41");
  EXPECT_EQ(second, L"C:\\Temp\\MSP42");
  EXPECT_EQ(os_.files.Content(first), "MSPBYTES");
  EXPECT_EQ(os_.files.Content(second), "MSPBYTES");
  EXPECT_EQ(os_.files.open_handles(), 0);
}

TEST_F(PayloadTest, TemporaryFileIsCreatedExclusively) {
  // MSP41 appears between the choice of the name and its creation; it is
  // neither opened nor overwritten.
  os_.files.created_by_others.insert(L"C:\\Temp\\MSP41");
  std::wstring path;
  ASSERT_TRUE(payload().ExtractPayload(path));
  EXPECT_EQ(path, L"C:\\Temp\\MSP42");
  EXPECT_EQ(os_.files.Content(L"C:\\Temp\\MSP41"), "");
  for (const auto& call : os_.Calls("CreateFileW")) {
    EXPECT_NE(call.find("disposition=1 "), std::string::npos) << call;
  }
}

TEST_F(PayloadTest, TmpWinsWhenItNamesADirectory) {
  os_.files.directories.insert(L"D:\\Scratch");
  os_.files.directories.insert(L"D:");
  os_.environment.variables[L"TMP"] = L"D:\\Scratch";
  std::wstring path;
  ASSERT_TRUE(payload().ExtractPayload(path));
  EXPECT_EQ(path, L"D:\\Scratch\\MSP41");

  os_.environment.variables[L"TMP"] = L"D:\\Missing";
  path.clear();
  ASSERT_TRUE(payload().ExtractPayload(path));
  EXPECT_EQ(path, L"C:\\Temp\\MSP41");
}

TEST_F(PayloadTest, TempDirectoryFailures) {
  struct Case {
    const char* name;
    std::wstring temp_path;
    Dword error;
  } cases[] = {
      {"GetTempPathW fails", L"C:\\Temp\\", kErrorAccessDenied},
      {"longer than 1023 characters", L"C:\\" + std::wstring(1100, L'd'), 0},
      {"directory missing", L"C:\\Gone\\", 0},
  };
  for (const auto& c : cases) {
    os_.files.temp_path = c.temp_path;
    os_.files.temp_path_error = c.error;
    std::wstring path;
    EXPECT_FALSE(payload().ExtractPayload(path)) << c.name;
    EXPECT_EQ(path, L"") << c.name;
  }
  EXPECT_EQ(os_.files.files.size(), 0u);
}

TEST_F(PayloadTest, MissingOrUnloadableResourceLeavesNoFile) {
  struct Case {
    const char* name;
    void (*arrange)(FakePlatform&);
  } cases[] = {
      {"missing",
       [](FakePlatform& os) { os.resources.Remove(L"MSP", L"IDR_MSP"); }},
      {"empty",
       [](FakePlatform& os) {
         os.resources.Remove(L"MSP", L"IDR_MSP");
         os.resources.Add(L"MSP", L"IDR_MSP", 1046, {});
       }},
      {"not loadable",
       [](FakePlatform& os) { os.resources.fail_load.insert(L"MSP/IDR_MSP"); }},
      {"not lockable",
       [](FakePlatform& os) { os.resources.fail_lock.insert(L"MSP/IDR_MSP"); }},
  };
  for (const auto& c : cases) {
    FakePlatform os;
    os.resources.Add(L"MSP", L"IDR_MSP", 1046, fake::Bytes("MSPBYTES"));
    c.arrange(os);
    Payload payload(os.resources, os.files, os.environment, kModule);
    std::wstring temp;
    EXPECT_FALSE(payload.ExtractPayload(temp)) << c.name;
    // The caller holds the chosen name, under which no file exists.
    EXPECT_EQ(temp.rfind(L"C:\\Temp\\MSP", 0), 0u) << c.name;
    EXPECT_FALSE(os.files.Exists(temp)) << c.name;
    std::wstring given = L"C:\\Work\\out.msp";
    EXPECT_FALSE(payload.ExtractPayload(given)) << c.name;
    EXPECT_FALSE(os.files.Exists(given)) << c.name;
    EXPECT_EQ(os.files.open_handles(), 0) << c.name;
  }
}

TEST_F(PayloadTest, GivenPathIsReplacedWhole) {
  os_.files.files[L"C:\\Work\\out.msp"] = fake::Bytes("A MUCH LONGER OLD FILE");
  std::wstring path = L"C:\\Work\\out.msp";
  ASSERT_TRUE(payload().ExtractPayload(path));
  EXPECT_EQ(path, L"C:\\Work\\out.msp");
  EXPECT_EQ(os_.files.Content(path), "MSPBYTES");
}

TEST_F(PayloadTest, GivenPathInMissingDirectoryCreatesNothing) {
  std::wstring path = L"C:\\Nowhere\\out.msp";
  EXPECT_FALSE(payload().ExtractPayload(path));
  EXPECT_EQ(path, L"C:\\Nowhere\\out.msp");
  EXPECT_TRUE(os_.files.files.empty());
}

TEST_F(PayloadTest, ShortOrFailedWriteLeavesNoPartialFile) {
  for (bool failing : {true, false}) {
    FakePlatform os;
    os.resources.Add(L"MSP", L"IDR_MSP", 1046, fake::Bytes("MSPBYTES"));
    (failing ? os.files.failing_writes : os.files.short_writes).insert(1);
    (failing ? os.files.failing_writes : os.files.short_writes).insert(2);
    Payload payload(os.resources, os.files, os.environment, kModule);
    std::wstring temp;
    EXPECT_FALSE(payload.ExtractPayload(temp));
    EXPECT_FALSE(os.files.Exists(temp));
    std::wstring given = L"C:\\Work\\out.msp";
    EXPECT_FALSE(payload.ExtractPayload(given));
    EXPECT_FALSE(os.files.Exists(given));
    EXPECT_EQ(os.files.open_handles(), 0);
  }
}

class TargetListTest : public ::testing::Test {
 protected:
  /// A package file whose summary property 7 holds `list`.
  void Package(const std::wstring& path, const std::wstring& list) {
    os_.files.files[path] = fake::Bytes("package");
    os_.msi.packages[path].text[kPidTemplate] = list;
  }
  TargetListReader reader() { return TargetListReader(os_.files, os_.msi); }
  FakePlatform os_;
};

TEST_F(TargetListTest, OneCallUpTo2047CharactersThenExactlyOneRetry) {
  struct Case {
    std::size_t length;
    std::vector<Dword> capacities;
  } cases[] = {
      {2047, {2048}},
      {2048, {2048, 2049}},
      {5000, {2048, 5001}},
  };
  for (const auto& c : cases) {
    FakePlatform os;
    const std::wstring list(c.length, L'x');
    os.files.files[L"C:\\Temp\\MSP1"] = fake::Bytes("package");
    os.msi.packages[L"C:\\Temp\\MSP1"].text[kPidTemplate] = list;
    std::wstring text;
    ASSERT_TRUE(TargetListReader(os.files, os.msi)
                    .ReadPatchTargetList(L"C:\\Temp\\MSP1", text))
        << c.length;
    EXPECT_EQ(text, list) << c.length;
    EXPECT_EQ(os.msi.summary_capacities, c.capacities) << c.length;
    EXPECT_EQ(os.msi.closed.size(), 1u) << c.length;
    EXPECT_EQ(os.msi.open_handles(), 0) << c.length;
  }
}

TEST_F(TargetListTest, RelativePathReadsTheSamePackage) {
  Package(L"C:\\Work\\pay.msp", L"{A}; {B};");
  std::wstring text;
  ASSERT_TRUE(reader().ReadPatchTargetList(L"pay.msp", text));
  EXPECT_EQ(text, L"{A}; {B};");
  EXPECT_EQ(os_.Calls("MsiGetSummaryInformationW"),
            std::vector<std::string>{
                "MsiGetSummaryInformationW 0 C:\\Work\\pay.msp 0"});
}

TEST_F(TargetListTest, FailuresLeaveTheTextAlone) {
  Package(L"C:\\Work\\" + std::wstring(300, L'p'), L"{A}");
  os_.files.files[L"C:\\Work\\plain.txt"] = fake::Bytes("text");
  struct Case {
    const char* name;
    std::wstring path;
  } cases[] = {
      {"empty path", L""},
      {"not a package", L"C:\\Work\\plain.txt"},
      {"full path does not fit 260 characters", std::wstring(300, L'p')},
  };
  for (const auto& c : cases) {
    std::wstring text = L"unchanged";
    EXPECT_FALSE(reader().ReadPatchTargetList(c.path, text)) << c.name;
    EXPECT_EQ(text, L"unchanged") << c.name;
  }
  EXPECT_EQ(os_.msi.open_handles(), 0);
}

TEST_F(TargetListTest, AbsentOrNonTextTemplateGivesEmptyText) {
  Package(L"C:\\Temp\\A", L"");
  os_.msi.packages[L"C:\\Temp\\A"].text.clear();  // no Template
  Package(L"C:\\Temp\\B", L"");
  os_.msi.packages[L"C:\\Temp\\B"].integer_properties.insert(kPidTemplate);
  for (const wchar_t* path : {L"C:\\Temp\\A", L"C:\\Temp\\B"}) {
    std::wstring text;
    EXPECT_TRUE(reader().ReadPatchTargetList(path, text));
    EXPECT_EQ(text, L"");
  }
  EXPECT_EQ(os_.msi.open_handles(), 0);
}

TEST(MsiHandleHolderTest, ClosesOnceAndNeverZero) {
  FakePlatform os;
  os.files.files[L"C:\\p"];
  os.msi.packages[L"C:\\p"];
  { MsiHandleHolder none(os.msi); }
  EXPECT_TRUE(os.msi.closed.empty());
  {
    MsiHandleHolder holder(os.msi);
    os.msi.MsiGetSummaryInformationW(0, L"C:\\p", 0, holder.Receive());
    os.msi.MsiGetSummaryInformationW(0, L"C:\\p", 0, holder.Receive());
    EXPECT_EQ(os.msi.closed.size(), 1u);  // the first, before the second
  }
  EXPECT_EQ(os.msi.closed.size(), 2u);
  EXPECT_EQ(os.msi.open_handles(), 0);
}

}  // namespace
}  // namespace sp
