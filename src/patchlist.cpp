#include "patchlist.h"

namespace sp {

std::wstring PatchListName(const std::wstring& target_list) {
  std::wstring text = target_list;
  const std::size_t colon = text.find(L':');
  if (colon != std::wstring::npos) text.erase(0, colon + 1);
  const std::size_t dash = text.find(L'-');
  const std::size_t from = dash == std::wstring::npos ? 0 : dash + 1;
  return L"patchlist" + text.substr(from, 4) + L".txt";
}

std::wstring PatchInfoResourceName(Uint index) {
  return L"#" + std::to_wstring(kFirstPatchInfoId + index);
}

void PatchListWriter::ChooseDefaultName(std::wstring& path) {
  path = kFallbackPatchListName;
  // The copy of the payload is left in the temporary directory.
  std::wstring payload_path;
  if (!payload_.ExtractPayload(payload_path)) return;
  std::wstring target_list;
  if (!reader_.ReadPatchTargetList(payload_path, target_list)) return;
  path = PatchListName(target_list);
}

bool PatchListWriter::Write(FileHandle file, const std::uint8_t* data,
                            Dword size) {
  Dword written = 0;
  return files_.WriteFile(file, data, size, written);
}

bool PatchListWriter::GiveUpAfterFailedWrite(FileHandle file,
                                             std::int64_t length) {
  const Dword write_error = thread_.GetLastError();
  std::int64_t position = 0;
  if (files_.SetFilePointerEx(file, length, position, kFileBegin)) {
    files_.SetEndOfFile(file);
  }
  // The message shows the thread's last error: the write's, not the cut's.
  thread_.SetLastError(write_error);
  messages_.ShowMessage(kMsgInstallError);
  files_.CloseHandle(file);
  return false;
}

bool PatchListWriter::WritePatchList(std::wstring& path) {
  if (path.empty()) ChooseDefaultName(path);

  const FileHandle file =
      files_.CreateFileW(path, kGenericRead | kGenericWrite, kFileShareRead,
                         kOpenAlways, kFileAttributeNormal);
  if (file == kInvalidHandleValue) {
    messages_.ShowMessage(kMsgNoPatchList);
    return false;
  }
  // Blocks go after whatever the file holds; its length now is what a
  // failed write cuts it back to. Without the end, writing would overwrite
  // the list from its start, so nothing is written.
  std::int64_t start = 0;
  if (!files_.SetFilePointerEx(file, 0, start, kFileEnd)) {
    messages_.ShowMessage(kMsgInstallError);
    files_.CloseHandle(file);
    return false;
  }

  for (Uint index = 0;; ++index) {
    const ResourceHandle found = resources_.FindResourceW(
        module_, PatchInfoResourceName(index), kPatchInfoType);
    if (found == 0) {
      if (index == 0) messages_.ShowMessage(kMsgNoPatchList);
      break;
    }
    const Dword size = resources_.SizeofResource(module_, found);
    const ResourceData loaded = resources_.LoadResource(module_, found);
    const std::uint8_t* text =
        loaded == 0 ? nullptr : resources_.LockResource(loaded);
    if (size == 0 || text == nullptr) {
      messages_.ShowMessage(kMsgInstallError);
      break;
    }
    if (!Write(file, kPatchListSeparator, sizeof kPatchListSeparator) ||
        !Write(file, text, size) ||
        !Write(file, kPatchListLineEnd, sizeof kPatchListLineEnd)) {
      return GiveUpAfterFailedWrite(file, start);
    }
  }
  files_.CloseHandle(file);
  return true;
}

}  // namespace sp
