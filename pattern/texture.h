// Texture images of the materials, loaded once per pattern and drawn through cairo.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace pattern::detail {

struct SurfaceRelease {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceRelease>;

/// One image per material, or none where the material has no texture or its file cannot be read
/// (each such file adds a warning: the material's colour is used instead).
class Textures {
 public:
  Textures(const std::vector<Material>& materials, std::vector<std::string>* warnings);
  /// The image of material `index`, or null.
  cairo_surface_t* operator[](int index) const;

 private:
  std::vector<SurfacePtr> images_;
};

}  // namespace pattern::detail
