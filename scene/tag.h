// A tag of an object. One record serves every tag type; the fields that a type does not use
// stay at their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/selection.h"
#include "scene/types.h"

namespace scene {

struct Material;

struct Tag {
  std::int32_t type = sdk::kTagAnnotation;
  std::string name;
  /// Texture tag: the linked material of the tag's document, or null.
  Material* material = nullptr;
  /// Texture tag: name of the polygon-selection tag it is restricted to; empty: unrestricted.
  std::string restriction;
  /// Texture-coordinate tag: one entry per polygon.
  std::vector<UVWEntry> uvw;
  /// Polygon-selection tag: the selected polygons. Edge-selection tag: the selected edges,
  /// 4 x polygon + side.
  PolygonSelection selection;
  /// Smoothing tag: the angle in degrees below which edges are shaded smooth.
  double angle = 80.0;
  /// Annotation tag: free text.
  std::string text;

  static const char* typeWord(std::int32_t type);
};

}  // namespace scene
