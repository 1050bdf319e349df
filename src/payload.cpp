#include "payload.h"

#include "msi.h"

namespace sp {

std::wstring TempFileName(const std::wstring& directory, Dword number) {
  std::wstring name = directory;
  if (!name.empty() && name.back() != L'\\' && name.back() != L'/') {
    name += L'\\';
  }
  return name + L"MSP" + std::to_wstring(number);
}

std::wstring Payload::TempDirectory(bool& ok) {
  std::wstring directory;
  const Dword length = files_.GetTempPathW(kTempPathCapacity, directory);
  ok = length != 0 && length < kTempPathCapacity;
  if (!ok) return L"";
  // TMP wins when it names an existing directory.
  std::wstring tmp;
  const Dword tmp_length =
      environment_.GetEnvironmentVariableW(L"TMP", tmp, kTempPathCapacity);
  if (tmp_length != 0 && tmp_length < kTempPathCapacity) {
    const Dword attributes = files_.GetFileAttributesW(tmp);
    if (attributes != kInvalidFileAttributes &&
        (attributes & kFileAttributeDirectory) != 0) {
      directory = tmp;
    }
  }
  return directory;
}

FileHandle Payload::CreateTempFile(std::wstring& path) {
  bool ok = false;
  const std::wstring directory = TempDirectory(ok);
  if (!ok) return kInvalidHandleValue;
  const Dword seed = files_.GetTickCount();
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::wstring name =
        TempFileName(directory, seed + static_cast<Dword>(attempt));
    const FileHandle file = files_.CreateFileW(
        name, kGenericWrite, kFileShareRead, kCreateNew, kFileAttributeNormal);
    if (file != kInvalidHandleValue) {
      path = name;
      return file;
    }
    // Only a name that is taken sends us on to the next one; a missing or
    // unwritable directory ends the search.
    if (files_.GetFileAttributesW(name) == kInvalidFileAttributes) break;
  }
  return kInvalidHandleValue;
}

bool Payload::ExtractPayload(std::wstring& path) {
  FileHandle file = kInvalidHandleValue;
  const bool temporary = path.empty();
  if (temporary) {
    file = CreateTempFile(path);
    if (file == kInvalidHandleValue) return false;
  }
  auto give_up = [&] {
    if (file != kInvalidHandleValue) {
      files_.CloseHandle(file);
      files_.DeleteFileW(path);
    }
    return false;
  };

  const ResourceHandle found =
      resources_.FindResourceW(module_, kPayloadName, kPayloadType);
  if (found == 0) return give_up();
  const Dword size = resources_.SizeofResource(module_, found);
  if (size == 0) return give_up();
  const ResourceData loaded = resources_.LoadResource(module_, found);
  if (loaded == 0) return give_up();
  const std::uint8_t* bytes = resources_.LockResource(loaded);
  if (bytes == nullptr) return give_up();

  if (!temporary) {
    file = files_.CreateFileW(path, kGenericWrite, kFileShareRead,
                              kCreateAlways, kFileAttributeNormal);
    if (file == kInvalidHandleValue) return false;
  }
  Dword written = 0;
  if (!files_.WriteFile(file, bytes, size, written) || written != size) {
    return give_up();
  }
  files_.CloseHandle(file);
  return true;
}

bool TargetListReader::ReadPatchTargetList(std::wstring path,
                                           std::wstring& text) {
  std::wstring full_path;
  const Dword length =
      files_.GetFullPathNameW(path, kFullPathCapacity, full_path);
  if (length == 0 || length >= kFullPathCapacity) return false;

  MsiHandleHolder summary(msi_);
  if (msi_.MsiGetSummaryInformationW(0, full_path, 0, summary.Receive()) !=
      kErrorSuccess) {
    return false;
  }
  Uint data_type = 0;
  int int_value = 0;
  FileTime time_value;
  std::wstring value;
  Dword capacity = kTargetListCapacity;
  Uint result =
      msi_.MsiSummaryInfoGetPropertyW(summary.get(), kPidTemplate, data_type,
                                      int_value, time_value, value, capacity);
  if (result == kErrorMoreData) {
    // One more try with exactly the room the installer asked for.
    capacity += 1;
    value.clear();
    result =
        msi_.MsiSummaryInfoGetPropertyW(summary.get(), kPidTemplate, data_type,
                                        int_value, time_value, value, capacity);
  }
  if (result != kErrorSuccess) return false;
  text = value.substr(0, value.find(L'\0'));
  return true;
}

}  // namespace sp
