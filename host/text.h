// Host text: the host's strings, with its conversions and its comparison.
#pragma once

#include <cstdint>
#include <string>

namespace foldra::host {

class String {
 public:
  String() = default;
  String(const char* text) : text_(text ? text : "") {}
  explicit String(std::string text) : text_(std::move(text)) {}

  /// An integer as decimal text.
  static String fromInt(std::int64_t value);
  /// A number as the host writes it with its default digits and '0' as fill character.
  static String fromReal(double value);

  String operator+(const String& other) const { return String(text_ + other.text_); }
  /// The host's comparison: 0 means equal.
  int compare(const String& other) const;
  /// The text read as a number in base 10; *error tells whether the host could read it.
  double toReal(bool* error) const;

  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

}  // namespace foldra::host
