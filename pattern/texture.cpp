#include "pattern/texture.h"

#include <cstdint>

// Private to this file, so that programs linking the pattern library may bring their own copy.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb_image.h>

namespace pattern::detail {

namespace {

struct PixelsRelease {
  void operator()(unsigned char* p) const { stbi_image_free(p); }
};

// Decodes the file into a cairo image: RGB24 when it is opaque (smaller in a PDF), otherwise
// ARGB32, which cairo wants premultiplied by alpha.
SurfacePtr loadImage(const std::string& path, std::string* problem) {
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<unsigned char, PixelsRelease> pixels(stbi_load(path.c_str(), &width, &height, &channels, 4));
  if (!pixels) {
    *problem = stbi_failure_reason();
    return nullptr;
  }
  const bool opaque = channels == 1 || channels == 3;
  SurfacePtr image(cairo_image_surface_create(opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) {
    *problem = cairo_status_to_string(cairo_surface_status(image.get()));
    return nullptr;
  }
  cairo_surface_flush(image.get());
  unsigned char* data = cairo_image_surface_get_data(image.get());
  const int stride = cairo_image_surface_get_stride(image.get());
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    const unsigned char* in = pixels.get() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x, in += 4) {
      const uint32_t a = opaque ? 255 : in[3];
      auto premultiply = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = a << 24 | premultiply(in[0]) << 16 | premultiply(in[1]) << 8 | premultiply(in[2]);
    }
  }
  cairo_surface_mark_dirty(image.get());
  return image;
}

}  // namespace

Textures::Textures(const std::vector<Material>& materials, std::vector<std::string>* warnings) {
  for (const Material& m : materials) {
    SurfacePtr image;
    if (!m.texture.empty()) {
      std::string problem;
      image = loadImage(m.texture, &problem);
      if (!image) {
        warnings->push_back("material " + m.name + ": the texture " + m.texture + " cannot be read (" +
                            problem + "); its colour is used instead");
      }
    }
    images_.push_back(std::move(image));
  }
}

cairo_surface_t* Textures::operator[](int index) const {
  return index >= 0 && index < static_cast<int>(images_.size()) ? images_[index].get() : nullptr;
}

}  // namespace pattern::detail
