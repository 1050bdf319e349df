#include "launcher.h"

#include <new>

#include "install.h"
#include "messages.h"
#include "patchlist.h"
#include "payload.h"
#include "repairs.h"

namespace sp {

namespace {

bool IsOption(const std::wstring& argument, wchar_t letter) {
  if (argument.size() != 2 || argument[0] != L'/') return false;
  wchar_t c = argument[1];
  if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return c == letter;
}

/// The /i action: the payload goes to a new temporary file, which stays, and
/// its target list is shown as it stands, also in quiet mode.
void ShowTargetList(Payload& payload, TargetListReader& reader,
                    MessageBoxes& boxes) {
  std::wstring payload_path;
  std::wstring list;
  payload.ExtractPayload(payload_path);
  reader.ReadPatchTargetList(payload_path, list);
  boxes.MessageBoxW(list, kListCaption, kMbOk | kMbTopmost | kMbSetForeground);
}

}  // namespace

LauncherOptions ParseArguments(const std::vector<std::wstring>& arguments) {
  LauncherOptions options;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (IsOption(argument, L'q')) {
      options.quiet_mode = true;
    } else if (IsOption(argument, L'e') || IsOption(argument, L'p')) {
      const bool extract = IsOption(argument, L'e');
      (extract ? options.extract_requested : options.patch_list_requested) =
          true;
      options.install_requested = false;
      if (i + 1 < arguments.size()) {
        ++i;
        try {
          (extract ? options.extract_path : options.patch_list_path) =
              arguments[i];
        } catch (const std::bad_alloc&) {
          break;  // the flags stand, the path keeps its earlier value
        }
      }
    } else if (IsOption(argument, L'i')) {
      options.install_requested = false;
      options.list_requested = true;
      break;
    }
  }
  return options;
}

int RunServicePack(Platform& platform, ModuleHandle module) {
  ProcessState process;
  process.module_instance = module;

  const auto arguments = platform.command_line.CommandLineToArgvW(
      platform.command_line.GetCommandLineW());
  const LauncherOptions options =
      arguments ? ParseArguments(*arguments) : LauncherOptions{};
  process.quiet_mode = options.quiet_mode;

  Messages messages(platform.resources, platform.thread, platform.boxes,
                    process);
  Payload payload(platform.resources, platform.files, platform.environment,
                  module);
  TargetListReader reader(platform.files, platform.msi);

  if (options.install_requested) {
    Repairs repairs(platform.registry, platform.version, platform.msi);
    Installer installer(platform.thread, platform.environment, platform.files,
                        platform.msi, payload, reader, messages, process,
                        repairs);
    installer.InstallRun();
    process.product_list.clear();
    return 0;
  }
  if (options.extract_requested) {
    std::wstring path = options.extract_path;
    payload.ExtractPayload(path);
  }
  if (options.patch_list_requested) {
    std::wstring path = options.patch_list_path;
    PatchListWriter writer(platform.resources, platform.files, platform.thread,
                           payload, reader, messages, module);
    writer.WritePatchList(path);
  }
  if (options.list_requested) {
    ShowTargetList(payload, reader, platform.boxes);
  }
  return 0;
}

}  // namespace sp
