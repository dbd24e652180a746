#include "host/text.h"

#include "host/host.h"

namespace foldra::host {

String String::fromInt(std::int64_t value) { return String(api().intToText(value)); }

String String::fromReal(double value) { return String(api().realToText(value, -1, -1, false, '0')); }

int String::compare(const String& other) const { return api().compareText(text_, other.text_); }

double String::toReal(bool* error) const {
  bool failed = false;
  const double value = api().textToReal(text_, 10, &failed);
  if (error) *error = failed;
  return value;
}

}  // namespace foldra::host
