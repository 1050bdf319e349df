// The message catalogue: loading its texts in the thread's language and
// showing its messages in message boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "process_state.h"

namespace sp {

// Message ids of the catalogue.
inline constexpr Uint kMsgInstallError = 300;
inline constexpr Uint kMsgInstalled = 301;
inline constexpr Uint kMsgUpToDate = 306;
inline constexpr Uint kMsgNoProduct = 307;
inline constexpr Uint kMsgWrongVersion = 308;
inline constexpr Uint kMsgBadCommandLine = 309;
inline constexpr Uint kMsgNoPatchList = 310;
inline constexpr Uint kCaptionError = 311;
inline constexpr Uint kCaptionSuccess = 312;
inline constexpr Uint kCaptionUnnecessary = 313;
// The version strings that the service pack carries.
inline constexpr Uint kStringTargetVersion = 700;
inline constexpr Uint kStringAcceptedVersions = 900;
/// Capacity of every string-table load, terminator included.
inline constexpr int kTextCapacity = 256;

/// String `index` (0 to 15) of a string-table block: sixteen counted UTF-16
/// strings. Nothing when the block ends before it.
std::optional<std::wstring> StringFromBlock(const std::uint8_t* data,
                                            Dword size, Uint index);

/// One argument of FormatText.
using FormatArg = std::variant<long, std::wstring>;

/// Formats like wsprintfW: "%d" and "%i" a signed, "%u" an unsigned number,
/// "%s" a text, "%%" a percent sign; any other character after '%' stands for
/// itself. The result holds at most `capacity` - 1 characters: the rest is
/// cut, as in a buffer of that many characters.
std::wstring FormatText(const std::wstring& format,
                        const std::vector<FormatArg>& args,
                        std::size_t capacity);

/// Loads string `id` of the string table in the language of the thread's
/// locale, or of the English (1033) table when the catalogue has none in
/// that language. At most `capacity` - 1 characters are loaded. Returns the
/// count loaded; 0 (and an empty `text`) when there is no such text.
int LoadText(ModuleResources& resources, ThreadState& thread,
             ModuleHandle module, Uint id, std::wstring& text, int capacity);

/// Shows the catalogue's messages, unless the process is quiet.
class Messages {
 public:
  Messages(ModuleResources& resources, ThreadState& thread, MessageBoxes& boxes,
           const ProcessState& process)
      : resources_(resources),
        thread_(thread),
        boxes_(boxes),
        process_(process) {}

  int LoadText(Uint id, std::wstring& text, int capacity = kTextCapacity) {
    return sp::LoadText(resources_, thread_, process_.module_instance, id, text,
                        capacity);
  }

  /// Shows message `id` with its caption and icon and waits until the box is
  /// closed. Message 300 shows the thread's last error code as it was when
  /// this was called; 301, 306 and 308 name the current product.
  void ShowMessage(Uint id);

 private:
  ModuleResources& resources_;
  ThreadState& thread_;
  MessageBoxes& boxes_;
  const ProcessState& process_;
};

}  // namespace sp
