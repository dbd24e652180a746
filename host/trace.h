// Tracing: four build-time switches, all off. A trace line is built only when its switch is on;
// run and start-up traces go to the host console, geometry and piece traces to module-wide
// streams that are never attached to a file.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <type_traits>

#include "host/text.h"

namespace foldra {

inline constexpr bool kStartupTrace = false;
inline constexpr bool kRunTrace = false;
inline constexpr bool kGeometryTrace = false;
inline constexpr bool kPieceTrace = false;

/// Prints one host text as one console line.
void consoleLine(const host::String& line);

inline host::String tracePart(const host::String& s) { return s; }
inline host::String tracePart(const char* s) { return host::String(s); }
template <std::integral T>
host::String tracePart(T value) {
  return host::String::fromInt(static_cast<std::int64_t>(value));
}
inline host::String tracePart(double value) { return host::String::fromReal(value); }

/// The parts concatenated; numbers are appended as decimal text without a separator.
template <typename... Parts>
host::String traceText(const Parts&... parts) {
  host::String line;
  ((line = line + tracePart(parts)), ...);
  return line;
}

/// One console line of the run trace.
template <typename... Parts>
void runTrace([[maybe_unused]] const Parts&... parts) {
  if constexpr (kRunTrace) consoleLine(traceText(parts...));
}

/// One console line of the start-up trace.
template <typename... Parts>
void startupTrace([[maybe_unused]] const Parts&... parts) {
  if constexpr (kStartupTrace) consoleLine(traceText(parts...));
}

}  // namespace foldra
