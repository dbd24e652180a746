#include "formats/json_writer.h"

#include <charconv>
#include <cmath>

namespace formats {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

/// The length of the valid UTF-8 character at the start of `s`, or 0 with *bad set to the
/// length of the maximal prefix that could have started one (at least 1), which is replaced
/// as a whole.
std::size_t utf8Length(std::string_view s, std::size_t* bad) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;  // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;  // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const bool fits = i < s.size() && byte(i) >= (i == 1 ? low : 0x80) && byte(i) <= (i == 1 ? high : 0xBF);
    if (!fits) {
      *bad = i;
      return 0;
    }
  }
  return length;
}

void appendNumberText(std::string& out, const char* first, const char* last) {
  // "-0" would read back as the integer 0; the fraction keeps the sign.
  if (last - first == 2 && first[0] == '-' && first[1] == '0') {
    out += "-0.0";
  } else {
    out.append(first, last);
  }
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      // Runs of plain characters go in one piece.
      std::size_t end = i + 1;
      while (end < text.size()) {
        const auto d = static_cast<unsigned char>(text[end]);
        if (d < 0x20 || d >= 0x80 || d == '"' || d == '\\') break;
        ++end;
      }
      out.append(text.data() + i, end - i);
      i = end;
      continue;
    }
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
      }
      ++i;
      continue;
    }
    std::size_t bad = 0;
    const std::size_t length = utf8Length(text.substr(i), &bad);
    if (length) {
      out.append(text.data() + i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      i += bad;
    }
  }
  out += '"';
}

void JsonWriter::open(char bracket, JsonLayout layout) {
  beforeValue();
  const bool inlined = layout == JsonLayout::Inline || (!levels_.empty() && levels_.back().inlined);
  levels_.push_back({inlined, true});
  out_ += bracket;
}

void JsonWriter::close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.inlined && !level.empty) newline(levels_.size());
  out_ += bracket;
  flushIfLarge();
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) out_ += ',';
  level.empty = false;
  if (!level.inlined) newline(levels_.size());
}

void JsonWriter::newline(std::size_t depth) {
  out_ += '\n';
  out_.append(depth, ' ');
}

void JsonWriter::key(std::string_view name) {
  beforeValue();
  appendJsonString(out_, name);
  out_ += levels_.back().inlined ? ":" : ": ";
  afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
  beforeValue();
  appendJsonString(out_, text);
}

void JsonWriter::integer(std::int64_t value) {
  beforeValue();
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out_.append(buffer, r.ptr);
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  beforeValue();
  out_ += "null";
}

template <class Real>
bool JsonWriter::shortestNumber(Real value) {
  if (!std::isfinite(value)) {
    null();
    return false;
  }
  beforeValue();
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  appendNumberText(out_, buffer, r.ptr);
  return true;
}

bool JsonWriter::number(double value) { return shortestNumber(value); }

bool JsonWriter::number(float value) { return shortestNumber(value); }

void JsonWriter::finish() {
  out_ += '\n';
  if (file_) {
    if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), file_) != out_.size()) failed_ = true;
    out_.clear();
  }
}

void JsonWriter::flushIfLarge() {
  if (!file_ || out_.size() < kFlushSize) return;
  if (std::fwrite(out_.data(), 1, out_.size(), file_) != out_.size()) failed_ = true;
  out_.clear();
}

}  // namespace formats
