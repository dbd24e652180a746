// JSON text written as it is produced: for scene files and glTF, whose size grows with the
// mesh, so that no tree of the whole document is built first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

/// How a list or object is laid out: one member per line, indented by its depth, or all on the
/// line where it starts. A container inside an inline one is inline too.
enum class JsonLayout { Lines, Inline };

/// Writes JSON text piece by piece. Members of a Lines container go on lines of their own with
/// "key": value; an Inline container is written without any space. Numbers take the shortest
/// form that reads back as the same value (a float as the same float). Text that is not UTF-8 is
/// written with U+FFFD in place of each maximal run of bytes that does not start a valid
/// character. The writer trusts its caller to open and close containers in order and to give
/// each object member a key.
class JsonWriter {
 public:
  /// Gathers the text in memory (text()).
  JsonWriter() = default;
  /// Writes the text to `file` as it goes, a megabyte at a time; failed() tells whether a write
  /// failed.
  explicit JsonWriter(std::FILE* file) : file_(file) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void beginObject(JsonLayout layout = JsonLayout::Lines) { open('{', layout); }
  void endObject() { close('}'); }
  void beginArray(JsonLayout layout = JsonLayout::Lines) { open('[', layout); }
  void endArray() { close(']'); }
  /// The next member's key (any text).
  void key(std::string_view name);

  void string(std::string_view text);
  void integer(std::int64_t value);
  void boolean(bool value);
  void null();
  /// A member and its value in one call.
  void textMember(std::string_view name, std::string_view text) {
    key(name);
    string(text);
  }
  void integerMember(std::string_view name, std::int64_t value) {
    key(name);
    integer(value);
  }
  void booleanMember(std::string_view name, bool value) {
    key(name);
    boolean(value);
  }
  /// Writes the number; NaN and infinities are written as null and answered false, so that
  /// the caller can report them (JSON has no such numbers, and no reader of ours accepts null).
  bool number(double value);
  bool number(float value);

  /// Ends the text with a line break and hands what is left to the file.
  void finish();
  /// The text so far (all of it when there is no file).
  const std::string& text() const { return out_; }
  std::string takeText() { return std::move(out_); }
  /// True when writing to the file failed.
  bool failed() const { return failed_; }

 private:
  struct Level {
    bool inlined;
    bool empty;
  };
  void open(char bracket, JsonLayout layout);
  void close(char bracket);
  /// The separator and line break before a member or list entry.
  void beforeValue();
  void newline(std::size_t depth);
  void flushIfLarge();
  /// number() for either width: the shortest text that reads back as the same value of its
  /// type (a float as a double would take up to 17 digits).
  template <class Real>
  bool shortestNumber(Real value);

  std::string out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

/// Appends `text` as a JSON string (quoted and escaped) to `out`, with U+FFFD for bytes that are
/// not UTF-8 (see JsonWriter).
void appendJsonString(std::string& out, std::string_view text);

}  // namespace formats
