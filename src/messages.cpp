#include "messages.h"

namespace sp {

std::optional<std::wstring> StringFromBlock(const std::uint8_t* data,
                                            Dword size, Uint index) {
  std::size_t at = 0;
  auto unit = [&](std::size_t offset) {
    return static_cast<wchar_t>(data[offset] | (data[offset + 1] << 8));
  };
  for (Uint i = 0; i <= index; ++i) {
    if (at + 2 > size) return std::nullopt;
    const std::size_t length = static_cast<std::uint16_t>(unit(at));
    at += 2;
    if (at + 2 * length > size) return std::nullopt;
    if (i == index) {
      std::wstring text(length, L'\0');
      for (std::size_t c = 0; c < length; ++c) text[c] = unit(at + 2 * c);
      return text;
    }
    at += 2 * length;
  }
  return std::nullopt;
}

std::wstring FormatText(const std::wstring& format,
                        const std::vector<FormatArg>& args,
                        std::size_t capacity) {
  std::wstring out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    const wchar_t conversion = format[++i];
    const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
    switch (conversion) {
      case L'd':
      case L'i':
      case L'u':
      case L's':
        ++next;
        if (arg == nullptr) break;
        if (const auto* number = std::get_if<long>(arg)) {
          out += conversion == L'u'
                     ? std::to_wstring(static_cast<unsigned long>(
                           static_cast<std::uint32_t>(*number)))
                     : std::to_wstring(*number);
        } else {
          out += std::get<std::wstring>(*arg);
        }
        break;
      default:
        out += conversion;
    }
  }
  if (capacity == 0) return L"";
  if (out.size() > capacity - 1) out.resize(capacity - 1);
  return out;
}

int LoadText(ModuleResources& resources, ThreadState& thread,
             ModuleHandle module, Uint id, std::wstring& text, int capacity) {
  text.clear();
  if (capacity <= 0) return 0;
  const std::wstring block = L"#" + std::to_wstring(id / 16 + 1);
  const std::wstring kStringType = L"#6";
  const LangId language = LangIdFromLcid(thread.GetThreadLocale());
  ResourceHandle found =
      resources.FindResourceExW(module, kStringType, block, language);
  if (found == 0 && language != kLangEnglishUs) {
    found =
        resources.FindResourceExW(module, kStringType, block, kLangEnglishUs);
  }
  if (found == 0) return 0;
  const Dword size = resources.SizeofResource(module, found);
  const ResourceData loaded = resources.LoadResource(module, found);
  const std::uint8_t* data =
      loaded == 0 ? nullptr : resources.LockResource(loaded);
  if (data == nullptr || size == 0) return 0;
  auto string = StringFromBlock(data, size, id % 16);
  if (!string) return 0;
  text = string->substr(0, static_cast<std::size_t>(capacity - 1));
  return static_cast<int>(text.size());
}

namespace {

/// What a message box of the catalogue fills in, its caption and its icon.
struct Presentation {
  enum class Value { kNone, kErrorCode, kProductName } value;
  Uint caption;
  Uint icon;
};

std::optional<Presentation> PresentationOf(Uint id) {
  using Value = Presentation::Value;
  switch (id) {
    case kMsgInstallError:
      return Presentation{Value::kErrorCode, kCaptionError, kMbIconError};
    case kMsgInstalled:
      return Presentation{Value::kProductName, kCaptionSuccess,
                          kMbIconInformation};
    case kMsgUpToDate:
      return Presentation{Value::kProductName, kCaptionUnnecessary,
                          kMbIconError};
    case kMsgWrongVersion:
      return Presentation{Value::kProductName, kCaptionError, kMbIconError};
    case kMsgNoProduct:
    case kMsgBadCommandLine:
    case kMsgNoPatchList:
      return Presentation{Value::kNone, kCaptionError, kMbIconError};
    default:
      return std::nullopt;
  }
}

}  // namespace

void Messages::ShowMessage(Uint id) {
  if (process_.quiet_mode) return;
  const Dword saved_error = thread_.GetLastError();
  std::wstring text;
  std::wstring caption = L"Error";
  LoadText(id, text);
  const std::size_t capacity = text.size() + 512;
  Uint flags = kMbOk | kMbTopmost | kMbSetForeground;
  const auto presentation = PresentationOf(id);
  std::vector<FormatArg> args;
  if (presentation) {
    if (presentation->value == Presentation::Value::kErrorCode) {
      args.emplace_back(
          static_cast<long>(static_cast<std::int32_t>(saved_error)));
    } else if (presentation->value == Presentation::Value::kProductName) {
      args.emplace_back(process_.current_product_name);
    }
    flags |= presentation->icon;
  }
  // Every text passes through the formatter, also those without a value.
  const std::wstring formatted = FormatText(text, args, capacity);
  if (presentation) LoadText(presentation->caption, caption);
  boxes_.MessageBoxW(formatted, caption, flags);
}

}  // namespace sp
