// Reader of compiled 32-bit resource files (.res) and of string-table blocks,
// for tests that check what the resource compiler produced.
#ifndef SP_TESTS_UNIT_RES_FILE_H_
#define SP_TESTS_UNIT_RES_FILE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sp::test {

/// Resource type id of string-table blocks.
inline constexpr uint16_t kRtString = 6;

/// A resource type or name: either an integer id or a string.
struct ResId {
  /// True when the id is an integer (0xFFFF form in the file).
  bool is_number = false;
  /// The integer id; meaningful only when is_number.
  uint16_t number = 0;
  /// The string name as stored (no case folding); empty when is_number.
  std::u16string text;

  static ResId Number(uint16_t n) { return {true, n, {}}; }
  static ResId Text(std::u16string_view s) {
    return {false, 0, std::u16string(s)};
  }
  bool operator==(const ResId&) const = default;
};

/// One resource of a .res file.
struct ResEntry {
  ResId type;
  ResId name;
  /// Windows language identifier (e.g. 1033).
  uint16_t language = 0;
  /// The resource's bytes, without the alignment padding that follows them.
  std::vector<uint8_t> data;
};

/// The resources of a .res file in file order, without the empty record that
/// marks a 32-bit resource file. nullopt when the bytes are not a well-formed
/// .res file (truncated record, bad sizes, missing marker); *error then says
/// why.
std::optional<std::vector<ResEntry>> ParseResFile(
    const std::vector<uint8_t>& bytes, std::string* error);

/// The whole content of a file; nullopt when it cannot be read.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path);

/// The sixteen strings of one string-table block (string i has id
/// (block - 1) * 16 + i; an absent id is an empty string). nullopt when the
/// data is not exactly sixteen counted UTF-16 strings.
std::optional<std::array<std::u16string, 16>> DecodeStringBlock(
    const std::vector<uint8_t>& data);

/// UTF-8 form of UTF-16 text, for failure messages (unpaired surrogates
/// become U+FFFD).
std::string ToUtf8(std::u16string_view text);

}  // namespace sp::test

#endif  // SP_TESTS_UNIT_RES_FILE_H_
