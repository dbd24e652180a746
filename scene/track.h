// Animation of an integer parameter: a track holding one value curve of keys.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/types.h"

namespace scene {

struct Key {
  Time time;
  std::int32_t value = 0;
  /// sdk::kInterpolationStep holds the value until the next key; other kinds interpolate
  /// linearly and round to the nearest integer.
  std::int32_t interpolation = 1;
};

struct Curve {
  /// Keys ordered by time, one per time.
  std::vector<std::unique_ptr<Key>> keys;

  /// The key at exactly this time, created when there is none.
  Key* keyAt(Time time);
  /// The curve's value at a time; before the first key the first key's value. No key: fallback.
  std::int32_t valueAt(Time time, std::int32_t fallback) const;
};

struct Track {
  /// The animated parameter (for example sdk::kObjectEditorVisibility).
  std::int32_t parameter = 0;
  /// The value curve, or null until it is asked for with creation.
  std::unique_ptr<Curve> curve;
};

}  // namespace scene
