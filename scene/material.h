// A material of a document: a name and its settings.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "sdk/host_api.h"

namespace scene {

class Document;

struct Material {
  /// Shown to the user; not part of the settings comparison.
  std::string name = "Material";
  /// Material type number (sdk::kMaterialStandard).
  std::int32_t type = sdk::kMaterialStandard;
  /// Diffuse colour, each channel 0..1.
  std::array<double, 3> color{0.8, 0.8, 0.8};
  /// Texture image file; empty for none. Relative paths are relative to the scene file.
  std::string texture;
  /// Further numeric settings by name (for example "specular").
  std::map<std::string, double> values;
  /// The document whose material list holds this material; null while free.
  Document* document = nullptr;

  /// The host's comparison of two materials: equal type and settings, names not compared.
  bool settingsEqual(const Material& other) const {
    return type == other.type && color == other.color && texture == other.texture &&
           values == other.values;
  }
  static const char* typeName(std::int32_t type) {
    return type == sdk::kMaterialStandard ? "Standard material" : "Material";
  }
};

}  // namespace scene
