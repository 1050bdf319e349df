#include "res_file.h"

#include <fstream>
#include <iterator>

namespace sp::test {
namespace {

/// Little-endian field reader over a byte range; every read checks bounds.
class Cursor {
 public:
  Cursor(const std::vector<uint8_t>& bytes, size_t pos, size_t end)
      : bytes_(bytes), pos_(pos), end_(end) {}

  size_t pos() const { return pos_; }

  bool Word(uint16_t* out) {
    if (end_ - pos_ < 2) return false;
    *out = static_cast<uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }

  bool Dword(uint32_t* out) {
    uint16_t lo, hi;
    if (!Word(&lo) || !Word(&hi)) return false;
    *out = lo | static_cast<uint32_t>(hi) << 16;
    return true;
  }

  /// A type or name field: 0xFFFF and an id, or a null-terminated string.
  bool Id(ResId* out) {
    uint16_t first;
    if (!Word(&first)) return false;
    if (first == 0xFFFF) {
      *out = ResId{true, 0, {}};
      return Word(&out->number);
    }
    *out = ResId{};
    for (uint16_t c = first; c != 0;) {
      out->text.push_back(static_cast<char16_t>(c));
      if (!Word(&c)) return false;
    }
    return true;
  }

  /// Skips to the next DWORD boundary (relative to the start of the file).
  bool Align() {
    size_t aligned = (pos_ + 3) & ~size_t{3};
    if (aligned > end_) return false;
    pos_ = aligned;
    return true;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_;
  size_t end_;
};

}  // namespace

std::optional<std::vector<ResEntry>> ParseResFile(
    const std::vector<uint8_t>& bytes, std::string* error) {
  std::vector<ResEntry> entries;
  size_t pos = 0;
  bool first = true;
  auto fail = [&](const std::string& why) {
    *error = "record at offset " + std::to_string(pos) + ": " + why;
    return std::nullopt;
  };
  while (pos < bytes.size()) {
    Cursor header(bytes, pos, bytes.size());
    uint32_t data_size, header_size;
    if (!header.Dword(&data_size) || !header.Dword(&header_size)) {
      return fail("truncated sizes");
    }
    if (header_size < 32 || header_size > bytes.size() - pos ||
        data_size > bytes.size() - pos - header_size) {
      return fail("sizes run past the end of the file");
    }
    Cursor fields(bytes, header.pos(), pos + header_size);
    ResEntry entry;
    uint32_t data_version, version, characteristics;
    uint16_t memory_flags;
    if (!fields.Id(&entry.type) || !fields.Id(&entry.name) || !fields.Align() ||
        !fields.Dword(&data_version) || !fields.Word(&memory_flags) ||
        !fields.Word(&entry.language) || !fields.Dword(&version) ||
        !fields.Dword(&characteristics) || fields.pos() != pos + header_size) {
      return fail("malformed header");
    }
    const size_t data_begin = pos + header_size;
    entry.data.assign(bytes.begin() + data_begin,
                      bytes.begin() + data_begin + data_size);
    if (first) {
      // The marker record of a 32-bit .res file: no data, type and name 0.
      if (data_size != 0 || entry.type != ResId::Number(0) ||
          entry.name != ResId::Number(0)) {
        return fail("not a 32-bit resource file (no empty first record)");
      }
      first = false;
    } else {
      entries.push_back(std::move(entry));
    }
    pos = (data_begin + data_size + 3) & ~size_t{3};
  }
  if (first) {
    *error = "empty file";
    return std::nullopt;
  }
  return entries;
}

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::array<std::u16string, 16>> DecodeStringBlock(
    const std::vector<uint8_t>& data) {
  std::array<std::u16string, 16> strings;
  Cursor cursor(data, 0, data.size());
  for (std::u16string& s : strings) {
    uint16_t length;
    if (!cursor.Word(&length)) return std::nullopt;
    for (uint16_t i = 0; i < length; ++i) {
      uint16_t c;
      if (!cursor.Word(&c)) return std::nullopt;
      s.push_back(static_cast<char16_t>(c));
    }
  }
  if (cursor.pos() != data.size()) return std::nullopt;
  return strings;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace sp::test
