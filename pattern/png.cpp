// A page as a PNG image: drawn by cairo on white paper at the options' resolution, each row
// filtered against the one above and compressed by libdeflate.
#include <cairo.h>

#include <libdeflate.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "pattern/drawing.h"
#include "pattern/sheet.h"

namespace pattern::detail {

namespace {

// The largest image cairo makes, in pixels a side.
constexpr long kMostPixels = 32767;

// Draws a page on the surface, whose units are `perMm` to the millimetre, over white paper.
cairo_status_t drawPage(cairo_surface_t* surface, double perMm, const Drawing& drawing, const Page& page, bool texts) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, perMm, perMm);
  renderPage(cr, drawing, page, texts);
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  return status;
}

// Finishes and releases the surface; its first error, if any.
cairo_status_t finish(cairo_surface_t* surface, cairo_status_t drawn) {
  cairo_surface_finish(surface);
  const cairo_status_t status = drawn != CAIRO_STATUS_SUCCESS ? drawn : cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  return status;
}

// PNG from an RGB image surface: each row's bytes as differences to the row above (which line
// art and flat fills turn into long runs of zeros), compressed at a fast level.
std::string encodePng(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  std::string raw;
  raw.reserve((rowBytes + 1) * height);
  std::string previous(rowBytes, '\0'), row(rowBytes, '\0');
  for (int y = 0; y < height; ++y) {
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<char>((pixels[x] >> 16) & 255);
      row[3 * x + 1] = static_cast<char>((pixels[x] >> 8) & 255);
      row[3 * x + 2] = static_cast<char>(pixels[x] & 255);
    }
    raw.push_back(2);  // "up"
    for (size_t i = 0; i < rowBytes; ++i) raw.push_back(static_cast<char>(row[i] - previous[i]));
    previous.swap(row);
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(1);
  std::string packed(libdeflate_zlib_compress_bound(compressor, raw.size()), '\0');
  packed.resize(libdeflate_zlib_compress(compressor, raw.data(), raw.size(), packed.data(), packed.size()));
  libdeflate_free_compressor(compressor);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  auto chunk = [&](const char* type, const std::string& body) {
    auto be32 = [&](std::uint32_t v) {
      for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>((v >> shift) & 255));
    };
    be32(static_cast<std::uint32_t>(body.size()));
    const size_t start = png.size();
    png.append(type, 4);
    png += body;
    be32(libdeflate_crc32(0, png.data() + start, png.size() - start));
  };
  std::string header;
  for (const int v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<char>((v >> shift) & 255));
  }
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, standard filters, no interlace
  chunk("IHDR", header);
  chunk("IDAT", packed);
  chunk("IEND", "");
  return png;
}

}  // namespace

bool pngSize(const PatternOptions& options, long* width, long* height, std::string* error) {
  const double perMm = options.dpi / 25.4;
  *width = std::lround(options.pageWidth * perMm);
  *height = std::lround(options.pageHeight * perMm);
  if (*width < 1 || *height < 1 || *width > kMostPixels || *height > kMostPixels) {
    *error = "a page of " + formatNumber(options.pageWidth) + " x " + formatNumber(options.pageHeight) +
             " mm at " + formatNumber(options.dpi) + " dpi would be " + std::to_string(*width) + " x " +
             std::to_string(*height) + " pixels; a PNG sheet can have 1 to " + std::to_string(kMostPixels) + " pixels a side";
    return false;
  }
  return true;
}

bool pngPage(const Drawing& drawing, const Page& page, const PatternOptions& options, std::string* png,
             std::string* problem) {
  long width = 0, height = 0;
  if (!pngSize(options, &width, &height, problem)) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_status_t status = drawPage(surface, options.dpi / 25.4, drawing, page, options.texts);
  if (status == CAIRO_STATUS_SUCCESS) *png = encodePng(surface);
  status = finish(surface, status);
  if (status == CAIRO_STATUS_SUCCESS) return true;
  *problem = cairo_status_to_string(status);
  return false;
}

}  // namespace pattern::detail
