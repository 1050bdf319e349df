// The /p action: appending the patch-information texts that the executable
// carries to a patch list file, one block per text.
#pragma once

#include <cstdint>
#include <string>

#include "messages.h"
#include "payload.h"
#include "platform/platform.h"

namespace sp {

/// The resource type of the patch-information texts.
inline constexpr wchar_t kPatchInfoType[] = L"TXT";
/// The id of the first patch-information text; the others follow without a
/// gap, and the first missing id ends them.
inline constexpr Uint kFirstPatchInfoId = 206;
/// The name used when no name can be derived from the target list.
inline constexpr wchar_t kFallbackPatchListName[] = L"patchlist.txt";
/// The line in front of every text: five asterisks and CR LF.
inline constexpr std::uint8_t kPatchListSeparator[] = {'*', '*',  '*', '*',
                                                       '*', '\r', '\n'};
/// The line end behind every text.
inline constexpr std::uint8_t kPatchListLineEnd[] = {'\r', '\n'};

/// The patch list name for a target list: "patchlist", four characters and
/// ".txt". The characters are taken from what follows the first ":" (the
/// whole text when there is none): the (at most) four after its first "-",
/// or, without a "-", its first four. For braced product codes joined by
/// ";" this is the second group of the first code: a list beginning
/// {0A1B2C3D-4E5F-... gives "patchlist4E5F.txt". A text that ends at its
/// first ":" gives "patchlist.txt".
std::wstring PatchListName(const std::wstring& target_list);

/// The resource name of patch-information text `index` (0 for the first):
/// "#206", "#207", ...
std::wstring PatchInfoResourceName(Uint index);

class PatchListWriter {
 public:
  PatchListWriter(ModuleResources& resources, Files& files, ThreadState& thread,
                  Payload& payload, TargetListReader& reader,
                  Messages& messages, ModuleHandle module)
      : resources_(resources),
        files_(files),
        thread_(thread),
        payload_(payload),
        reader_(reader),
        messages_(messages),
        module_(module) {}

  /// Appends one block per patch-information text, in id order, to the file
  /// at `path`, which is created when missing: the separator line, the
  /// text's bytes exactly as carried, CR LF. What the file held before stays
  /// as it was.
  ///
  /// An empty `path` first receives a name derived from the payload's target
  /// list (PatchListName), or "patchlist.txt" when the payload cannot be
  /// extracted or its list cannot be read; the extracted copy stays in the
  /// temporary directory.
  ///
  /// False when the file cannot be opened (message 310) or when a write
  /// fails: the file is then cut back to the length it had before, so that
  /// it never holds part of a block, and message 300 shows the write's error
  /// code. True otherwise, also when the executable carries no text (message
  /// 310, the file left as it was) or a text is empty or cannot be loaded
  /// (message 300; the blocks before it stay).
  bool WritePatchList(std::wstring& path);

 private:
  /// Sets `path` to the default name.
  void ChooseDefaultName(std::wstring& path);
  /// Writes `size` bytes at the file pointer; false when the write fails.
  bool Write(FileHandle file, const std::uint8_t* data, Dword size);
  /// After a failed write: cuts the file back to `length`, shows message
  /// 300 with the write's error code and closes the file. False.
  bool GiveUpAfterFailedWrite(FileHandle file, std::int64_t length);

  ModuleResources& resources_;
  Files& files_;
  ThreadState& thread_;
  Payload& payload_;
  TargetListReader& reader_;
  Messages& messages_;
  ModuleHandle module_;
};

}  // namespace sp
