#include "patchlist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "launcher.h"
#include "messages.h"
#include "payload.h"

namespace sp {
namespace {

using fake::Bytes;
using fake::kModule;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr wchar_t kCodes[] =
    L"{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D};"
    L"{11111111-2222-3333-4444-555555555555}";
// Where the fake's first temporary payload copy goes.
constexpr wchar_t kPayloadCopy[] = L"C:\\Temp\\MSP5000";
constexpr Uint kErrorBoxFlags = 0x50010;

TEST(PatchListNameTest, TakesFourCharactersAfterColonAndDash) {
  struct Case {
    std::wstring list;
    std::wstring name;
  };
  const Case cases[] = {
      {kCodes, L"patchlist4E5F.txt"},
      {L"{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}", L"patchlist4E5F.txt"},
      {L"{A-B:C-DEFGH}", L"patchlistDEFG.txt"},  // only after the first ":"
      {L"x:y:z-12345", L"patchlist1234.txt"},    // the first ":" counts
      {L"abc:", L"patchlist.txt"},               // nothing after the ":"
      {L"abcdefg", L"patchlistabcd.txt"},        // no "-": the first four
      {L"ab", L"patchlistab.txt"},               // shorter than four
      {L"abcdef-gh", L"patchlistgh.txt"},        // fewer than four after "-"
      {L"abc-", L"patchlist.txt"},
      {L"a-b-cdef", L"patchlistb-cd.txt"},  // the first "-" counts
      {L"", L"patchlist.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PatchListName(c.list), c.name) << fake::Narrow(c.list);
  }
}

/// A fake machine with the catalogue texts the writer shows, a payload and
/// the writer over them.
class World {
 public:
  World() {
    fp.resources.AddString(kLangEnglishUs, kMsgInstallError,
                           L"Problem. \n\n Error Code: %d");
    fp.resources.AddString(kLangEnglishUs, kMsgNoPatchList,
                           L"Supply a patch list.");
    fp.resources.AddString(kLangEnglishUs, kCaptionError,
                           L"Installation Error");
    fp.resources.Add(L"MSP", L"IDR_MSP", 1046, Bytes("MSP"));
    process.module_instance = kModule;
  }

  void AddText(Uint id, const std::string& text) {
    fp.resources.Add(L"TXT", L"#" + std::to_wstring(id), 1046, Bytes(text));
  }

  bool Run(std::wstring& path) {
    Payload payload(fp.resources, fp.files, fp.environment, kModule);
    TargetListReader reader(fp.files, fp.msi);
    Messages messages(fp.resources, fp.thread, fp.boxes, process);
    PatchListWriter writer(fp.resources, fp.files, fp.thread, payload, reader,
                           messages, kModule);
    return writer.WritePatchList(path);
  }
  bool Run(const std::wstring& path) {
    std::wstring copy = path;
    return Run(copy);
  }

  std::string FileAt(const std::wstring& path) {
    return fp.files.Content(path).value_or("<missing>");
  }

  /// The texts looked up, in order.
  std::vector<std::string> Lookups() { return fp.Calls("FindResourceW #"); }

  /// The texts of the boxes shown, in order.
  std::vector<std::wstring> Boxes() {
    std::vector<std::wstring> texts;
    for (const auto& box : fp.boxes.shown) {
      EXPECT_EQ(box.caption, L"Installation Error");
      EXPECT_EQ(box.type, kErrorBoxFlags);
      texts.push_back(box.text);
    }
    return texts;
  }

  fake::FakePlatform fp;
  ProcessState process;
};

const std::wstring kWriteError =
    L"Problem. \n\n Error Code: " + std::to_wstring(kErrorDiskFull);

TEST(PatchListTest, AppendsOneBlockToAnExistingFileAndKeepsItsContent) {
  World w;
  // Line ends and bytes of every kind pass unchanged.
  const std::string text("Key=Value\r\nLF\nnul\0high\xff\r\n", 26);
  w.AddText(206, text);
  w.fp.files.files[L"C:\\Work\\out.txt"] = Bytes("old line\r\n");

  EXPECT_TRUE(w.Run(L"out.txt"));

  EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"),
            "old line\r\n*****\r\n" + text + "\r\n");
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_EQ(w.fp.files.open_handles(), 0);
  // Opened for reading and writing, shared for reading only, kept when it
  // exists; the pointer goes to the end before anything is written.
  EXPECT_THAT(w.fp.Calls("CreateFileW"),
              ElementsAre("CreateFileW out.txt access=3221225472 share=1 "
                          "disposition=4 attributes=128"));
  EXPECT_THAT(w.fp.Calls("SetFilePointerEx"),
              ElementsAre("SetFilePointerEx 0 2"));
  EXPECT_THAT(w.Lookups(),
              ElementsAre("FindResourceW #206 TXT", "FindResourceW #207 TXT"));
}

TEST(PatchListTest, TheSamePathTwiceHoldsTheBlockTwice) {
  World w;
  w.AddText(206, "A=1\r\n");
  EXPECT_TRUE(w.Run(L"C:\\Work\\list.txt"));
  EXPECT_TRUE(w.Run(L"C:\\Work\\list.txt"));
  EXPECT_EQ(w.FileAt(L"C:\\Work\\list.txt"),
            "*****\r\nA=1\r\n\r\n*****\r\nA=1\r\n\r\n");
}

TEST(PatchListTest, WritesEveryTextInIdOrderUntilTheFirstMissingId) {
  World w;
  w.AddText(207, "second");  // added first: the order is the ids'
  w.AddText(206, "first");
  w.AddText(209, "after a gap");

  EXPECT_TRUE(w.Run(L"out.txt"));

  EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"),
            "*****\r\nfirst\r\n*****\r\nsecond\r\n");
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_THAT(w.Lookups(),
              ElementsAre("FindResourceW #206 TXT", "FindResourceW #207 TXT",
                          "FindResourceW #208 TXT"));
}

TEST(PatchListTest, WithoutText206ShowsMessage310AndWritesNothing) {
  World w;
  w.AddText(207, "never read");
  w.fp.files.files[L"C:\\Work\\kept.txt"] = Bytes("kept");

  EXPECT_TRUE(w.Run(L"new.txt"));
  EXPECT_TRUE(w.Run(L"kept.txt"));

  EXPECT_EQ(w.FileAt(L"C:\\Work\\new.txt"), "");  // created, left empty
  EXPECT_EQ(w.FileAt(L"C:\\Work\\kept.txt"), "kept");
  EXPECT_THAT(w.Lookups(),
              ElementsAre("FindResourceW #206 TXT", "FindResourceW #206 TXT"));
  EXPECT_THAT(w.Boxes(),
              ElementsAre(L"Supply a patch list.", L"Supply a patch list."));
  EXPECT_EQ(w.fp.files.open_handles(), 0);
}

TEST(PatchListTest, AnUnusableTextShowsMessage300AndKeepsTheBlocksBefore) {
  enum class Flaw { kEmpty, kLoadFails, kLockFails };
  for (Flaw flaw : {Flaw::kEmpty, Flaw::kLoadFails, Flaw::kLockFails}) {
    SCOPED_TRACE(static_cast<int>(flaw));
    World w;
    w.AddText(206, "good");
    w.AddText(207, flaw == Flaw::kEmpty ? "" : "unreadable");
    w.AddText(208, "never reached");
    if (flaw == Flaw::kLoadFails) w.fp.resources.fail_load.insert(L"TXT/#207");
    if (flaw == Flaw::kLockFails) w.fp.resources.fail_lock.insert(L"TXT/#207");

    EXPECT_TRUE(w.Run(L"out.txt"));

    EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"), "*****\r\ngood\r\n");
    EXPECT_THAT(w.Lookups(), ElementsAre("FindResourceW #206 TXT",
                                         "FindResourceW #207 TXT"));
    EXPECT_THAT(w.Boxes(), ElementsAre(L"Problem. \n\n Error Code: 0"));
    EXPECT_EQ(w.fp.files.open_handles(), 0);
  }
}

TEST(PatchListTest, AFileThatCannotBeOpenedShowsMessage310) {
  World w;
  w.AddText(206, "text");
  w.fp.files.files[L"C:\\Work\\busy.txt"] = Bytes("theirs");
  w.fp.files.locked.insert(L"C:\\Work\\busy.txt");

  EXPECT_FALSE(w.Run(L"C:\\Missing\\out.txt"));
  EXPECT_FALSE(w.Run(L"busy.txt"));

  EXPECT_FALSE(w.fp.files.Exists(L"C:\\Missing\\out.txt"));
  EXPECT_EQ(w.FileAt(L"C:\\Work\\busy.txt"), "theirs");
  EXPECT_TRUE(w.Lookups().empty());
  EXPECT_THAT(w.Boxes(),
              ElementsAre(L"Supply a patch list.", L"Supply a patch list."));
}

TEST(PatchListTest, AFailedWriteCutsTheFileBackAndShowsTheWriteError) {
  // Six writes: separator, text and line end of 206, then of 207. The
  // fake's failing write leaves part of its bytes in the file.
  for (int failing = 1; failing <= 6; ++failing) {
    SCOPED_TRACE(failing);
    World w;
    w.AddText(206, "first");
    w.AddText(207, "second");
    w.fp.files.files[L"C:\\Work\\out.txt"] = Bytes("before\r\n");
    w.fp.files.failing_writes = {failing};

    EXPECT_FALSE(w.Run(L"out.txt"));

    EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"), "before\r\n");
    EXPECT_THAT(w.Boxes(), ElementsAre(kWriteError));
    // The walk stops at the block whose write failed.
    EXPECT_EQ(w.Lookups().size(), failing <= 3 ? 1u : 2u);
    EXPECT_EQ(w.fp.files.open_handles(), 0);
  }
}

TEST(PatchListTest, WithoutTheEndOfTheFileNothingIsOverwritten) {
  World w;
  w.AddText(206, "text");
  w.fp.files.files[L"C:\\Work\\out.txt"] = Bytes("earlier blocks\r\n");
  w.fp.files.seek_error = kErrorAccessDenied;

  EXPECT_FALSE(w.Run(L"out.txt"));

  EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"), "earlier blocks\r\n");
  EXPECT_TRUE(w.fp.Calls("WriteFile").empty());
  EXPECT_THAT(w.Boxes(), ElementsAre(L"Problem. \n\n Error Code: " +
                                     std::to_wstring(kErrorAccessDenied)));
  EXPECT_EQ(w.fp.files.open_handles(), 0);
}

TEST(PatchListTest, Message300ShowsTheWriteErrorEvenWhenTheCutFails) {
  World w;
  w.AddText(206, "text");
  w.fp.files.failing_writes = {2};
  w.fp.files.set_end_of_file_error = kErrorAccessDenied;

  EXPECT_FALSE(w.Run(L"out.txt"));

  EXPECT_THAT(w.Boxes(), ElementsAre(kWriteError));
}

TEST(PatchListTest, QuietModeShowsNoBoxInAnyCase) {
  World w;
  w.process.quiet_mode = true;
  EXPECT_TRUE(w.Run(L"none.txt"));  // no text 206 yet
  w.AddText(206, "text");
  EXPECT_FALSE(w.Run(L"C:\\Missing\\out.txt"));
  w.fp.files.failing_writes = {w.fp.files.write_calls + 1};
  EXPECT_FALSE(w.Run(L"failing.txt"));
  EXPECT_EQ(w.FileAt(L"C:\\Work\\failing.txt"), "");
  EXPECT_TRUE(w.Boxes().empty());
}

TEST(PatchListTest, WithoutAPathTheNameComesFromTheTargetList) {
  struct Case {
    const char* what;
    bool payload;
    bool package;
    std::wstring list;
    std::wstring name;
  };
  const Case cases[] = {
      {"codes", true, true, kCodes, L"patchlist4E5F.txt"},
      {"colon last", true, true, L"{A-B}:", L"patchlist.txt"},
      {"no payload", false, true, kCodes, L"patchlist.txt"},
      {"no readable list", true, false, kCodes, L"patchlist.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.AddText(206, "text");
    if (!c.payload) w.fp.resources.Remove(L"MSP", L"IDR_MSP");
    if (c.package) w.fp.msi.packages[kPayloadCopy].text[kPidTemplate] = c.list;

    std::wstring path;
    EXPECT_TRUE(w.Run(path));

    EXPECT_EQ(path, c.name);
    EXPECT_EQ(w.FileAt(L"C:\\Work\\" + c.name), "*****\r\ntext\r\n");
    // The copy of the payload stays in the temporary directory.
    if (c.payload) {
      EXPECT_EQ(w.FileAt(kPayloadCopy), "MSP");
    }
  }
}

TEST(PatchListTest, AGivenPathIsUsedWithoutLookingAtThePayload) {
  World w;
  w.AddText(206, "text");
  std::wstring path = L"given.txt";
  EXPECT_TRUE(w.Run(path));
  EXPECT_EQ(path, L"given.txt");
  EXPECT_TRUE(w.fp.Calls("FindResourceW IDR_MSP").empty());
  EXPECT_TRUE(w.fp.Calls("MsiGetSummaryInformationW").empty());
}

TEST(PatchListTest, TheCommandLineRunsItAfterTheExtraction) {
  World w;
  w.AddText(206, "text");
  w.fp.command_line.arguments =
      std::vector<std::wstring>{L"sp.exe", L"/p", L"out.txt", L"/e", L"p.msp"};
  auto platform = w.fp.platform();

  EXPECT_EQ(RunServicePack(platform, kModule), 0);

  EXPECT_THAT(w.fp.Calls("CreateFileW"),
              ElementsAre(HasSubstr("CreateFileW p.msp "),
                          HasSubstr("CreateFileW out.txt ")));
  EXPECT_EQ(w.FileAt(L"C:\\Work\\out.txt"), "*****\r\ntext\r\n");
}

}  // namespace
}  // namespace sp
