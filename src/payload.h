// The patch package the executable carries: writing it to a file, and reading
// the list of products it targets.
#pragma once

#include <string>

#include "platform/platform.h"

namespace sp {

/// Where the package lives among the module's resources.
inline constexpr wchar_t kPayloadName[] = L"IDR_MSP";
inline constexpr wchar_t kPayloadType[] = L"MSP";
/// Capacity for the temporary directory, terminator included.
inline constexpr Dword kTempPathCapacity = 1024;
/// How many names in a row may already be taken before extraction gives up.
inline constexpr int kTempNameAttempts = 10000;

/// The temporary file name for `number` in `directory`: "MSP" and the
/// decimal number, no extension, behind a backslash unless the directory
/// already ends in one.
std::wstring TempFileName(const std::wstring& directory, Dword number);

class Payload {
 public:
  Payload(ModuleResources& resources, Files& files, Environment& environment,
          ModuleHandle module)
      : resources_(resources),
        files_(files),
        environment_(environment),
        module_(module) {}

  /// Writes the package byte for byte to `path`; an existing file there is
  /// replaced. With an empty `path` the file is a new one in the temporary
  /// directory, created exclusively, and `path` receives its name as soon as
  /// it is chosen. True when the whole package was written. A file that could
  /// not be written whole is deleted again.
  bool ExtractPayload(std::wstring& path);

 private:
  /// Creates a new, empty temporary file; kInvalidHandleValue when none can
  /// be created.
  FileHandle CreateTempFile(std::wstring& path);
  std::wstring TempDirectory(bool& ok);

  ModuleResources& resources_;
  Files& files_;
  Environment& environment_;
  ModuleHandle module_;
};

/// Capacity for the absolute package path, terminator included.
inline constexpr Dword kFullPathCapacity = 260;
/// Capacity of the first read of the target list.
inline constexpr Dword kTargetListCapacity = 2048;

/// Reads the package's target list: the text of its summary property 7
/// (Template), the product codes separated by ';', exactly as stored.
class TargetListReader {
 public:
  TargetListReader(Files& files, WindowsInstaller& msi)
      : files_(files), msi_(msi) {}

  /// False when the package cannot be opened or the property cannot be
  /// read; `text` is then left as it was. A package without the property
  /// gives an empty text.
  bool ReadPatchTargetList(std::wstring path, std::wstring& text);

 private:
  Files& files_;
  WindowsInstaller& msi_;
};

}  // namespace sp
