// Writing the pattern: one drawing of the pages, written into PDF, SVG or PNG files.
#include <cairo.h>

#include <libdeflate.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/files.h"
#include "pattern/drawing.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern {

namespace {

namespace fs = std::filesystem;
using detail::Drawing;
using detail::Page;

// The largest image cairo makes, in pixels a side.
constexpr long kMostPixels = 32767;

std::string lowercase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// NAME.svg -> NAME-1.svg, NAME-2.svg, ...
std::string sheetPath(const std::string& path, int sheet) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-" + std::to_string(sheet + 1) + p.extension().string())).string();
}

std::string overviewPath(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-overview" + p.extension().string())).string();
}

bool cannotWrite(const std::string& path, cairo_status_t status, std::string* error) {
  *error = path + ": cannot be written (" + cairo_status_to_string(status) + ")";
  return false;
}

// Draws a page on the surface, whose units are `perMm` to the millimetre. PNGs get white paper;
// on PDF the paper is the page itself.
cairo_status_t drawPage(cairo_surface_t* surface, double perMm, const Drawing& drawing, const Page& page, bool paper) {
  cairo_t* cr = cairo_create(surface);
  if (paper) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  cairo_scale(cr, perMm, perMm);
  detail::renderPage(cr, drawing, page);
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

// The pages in the order a document shows them: the overview first.
std::vector<const Page*> inOrder(const Drawing& drawing) {
  std::vector<const Page*> pages;
  if (drawing.overview >= 0) pages.push_back(&drawing.pages[drawing.overview]);
  for (size_t i = 0; i < drawing.pages.size(); ++i) {
    if (static_cast<int>(i) != drawing.overview) pages.push_back(&drawing.pages[i]);
  }
  return pages;
}

// Each format's writer takes the drawing and the files the path becomes (filesOf): one for a
// document of all pages, else one per page in the order inOrder gives.

bool writePdf(const Drawing& drawing, const PatternOptions&, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  std::ofstream out(staged->stage(paths[0]), std::ios::binary);
  out << detail::pdfDocument(drawing, inOrder(drawing));
  out.close();
  if (!out) {
    *error = paths[0] + ": cannot be written";
    return false;
  }
  return true;
}

bool writeSvg(const Drawing& drawing, const PatternOptions&, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  const std::vector<const Page*> pages = inOrder(drawing);
  for (size_t i = 0; i < pages.size(); ++i) {
    std::ofstream out(staged->stage(paths[i]), std::ios::binary);
    out << detail::svgPage(drawing, *pages[i]);
    out.close();
    if (!out) {
      *error = paths[i] + ": cannot be written";
      return false;
    }
  }
  return true;
}

bool pngSize(const PatternOptions& options, long* width, long* height, std::string* error) {
  const double perMm = options.dpi / 25.4;
  *width = std::lround(options.pageWidth * perMm);
  *height = std::lround(options.pageHeight * perMm);
  if (*width < 1 || *height < 1 || *width > kMostPixels || *height > kMostPixels) {
    *error = "a page of " + detail::formatNumber(options.pageWidth) + " x " + detail::formatNumber(options.pageHeight) +
             " mm at " + detail::formatNumber(options.dpi) + " dpi would be " + std::to_string(*width) + " x " +
             std::to_string(*height) + " pixels; a PNG sheet can have 1 to " + std::to_string(kMostPixels) + " pixels a side";
    return false;
  }
  return true;
}

bool pngFits(const PatternOptions& options, std::string* error) {
  long width = 0, height = 0;
  return pngSize(options, &width, &height, error);
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

bool writePng(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  long width = 0, height = 0;
  if (!pngSize(options, &width, &height, error)) return false;
  const double perMm = options.dpi / 25.4;
  const std::vector<const Page*> pages = inOrder(drawing);
  for (size_t i = 0; i < pages.size(); ++i) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_status_t status = drawPage(surface, perMm, drawing, *pages[i], true);
    std::string png;
    if (status == CAIRO_STATUS_SUCCESS) png = encodePng(surface);
    status = finish(surface, status);
    if (status != CAIRO_STATUS_SUCCESS) return cannotWrite(paths[i], status, error);
    std::ofstream out(staged->stage(paths[i]), std::ios::binary);
    out << png;
    out.close();
    if (!out) {
      *error = paths[i] + ": cannot be written";
      return false;
    }
  }
  return true;
}

/// A format of the pattern and how it is written. Another format is one more row here, with its
/// writer above.
struct FormatWriter {
  PatternFormat format;
  bool (*write)(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& files,
                formats::StagedFiles* staged, std::string* error);
  /// What keeps the options from being written in this format, tested before anything is drawn;
  /// null where nothing does.
  bool (*fits)(const PatternOptions& options, std::string* error);
};

const std::vector<FormatWriter>& formatWriters() {
  static const std::vector<FormatWriter> writers{
      {{".pdf", false}, writePdf, nullptr},
      {{".svg", true}, writeSvg, nullptr},
      {{".png", true}, writePng, pngFits},
  };
  return writers;
}

const FormatWriter* writerOf(const std::string& path) {
  const std::string extension = lowercase(fs::path(path).extension().string());
  for (const FormatWriter& writer : formatWriters()) {
    if (writer.format.extension == extension) return &writer;
  }
  return nullptr;
}

// ".pdf, .svg or .png"
std::string extensionList() {
  const std::vector<FormatWriter>& writers = formatWriters();
  std::string list;
  for (size_t i = 0; i < writers.size(); ++i) {
    if (i > 0) list += i + 1 == writers.size() ? " or " : ", ";
    list += writers[i].format.extension;
  }
  return list;
}

bool unknownType(const std::string& path, std::string* error) {
  *error = path + ": unknown file type; the pattern can be written as " + extensionList();
  return false;
}

// The files one path becomes: the path itself for a document of all pages, or one per page
// (the overview first, named NAME-overview).
std::vector<std::string> filesOf(const std::string& path, const PatternFormat& format, const Drawing& drawing) {
  if (!format.filePerPage) return {path};
  std::vector<std::string> files;
  if (drawing.overview >= 0) files.push_back(overviewPath(path));
  const int sheets = static_cast<int>(drawing.pages.size()) - (drawing.overview >= 0 ? 1 : 0);
  for (int sheet = 0; sheet < sheets; ++sheet) files.push_back(sheetPath(path, sheet));
  return files;
}

}  // namespace

// A pattern without pieces is an error rather than an empty sheet: there is nothing to print,
// and an existing file of that name is better left as it was.
bool writePattern(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                  const std::vector<std::string>& paths, PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  std::vector<const FormatWriter*> writers;
  for (const std::string& path : paths) {
    writers.push_back(writerOf(path));
    if (!writers.back()) return unknownType(path, error);
  }
  if (std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    *error = problem;
    return false;
  }
  if (input.pieces.empty()) {
    *error = "the pattern has no pieces: there is nothing to print";
    return false;
  }
  if (packing.positions.size() != input.pieces.size() || packing.numbers.size() != input.pieces.size()) {
    *error = packing.warnings.empty() ? "the packing does not belong to these pieces" : packing.warnings.front();
    return false;
  }
  for (const FormatWriter* writer : writers) {
    if (writer->fits && !writer->fits(options, error)) return false;
  }

  Drawing drawing;
  drawing.width = options.pageWidth;
  drawing.height = options.pageHeight;
  drawing.warnings = packing.warnings;
  const detail::Textures textures(options.fill ? input.materials : std::vector<Material>{}, &drawing.warnings);
  for (size_t m = 0; m < input.materials.size(); ++m) {
    cairo_surface_t* image = textures[static_cast<int>(m)];
    drawing.images.push_back(image ? cairo_surface_reference(image) : nullptr);
  }
  try {
    detail::drawSheets(input, options, packing, textures, &drawing);
    if (options.overview) detail::drawOverview(input, options, packing, &drawing);
  } catch (const std::exception& e) {
    // The font could not be loaded: nothing can be measured or drawn.
    *error = e.what();
    return false;
  }

  std::vector<std::vector<std::string>> files;
  for (size_t i = 0; i < paths.size(); ++i) {
    files.push_back(filesOf(paths[i], writers[i]->format, drawing));
    for (const std::string& file : files.back()) {
      std::error_code ec;
      if (fs::is_directory(file, ec)) {
        *error = file + ": cannot be written, it is a folder";
        return false;
      }
    }
  }
  formats::StagedFiles staged;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!writers[i]->write(drawing, options, files[i], &staged, error)) return false;
  }
  if (!staged.commit(error)) return false;
  if (report) {
    report->packing = packing;
    report->files.clear();
    for (const auto& list : files) report->files.insert(report->files.end(), list.begin(), list.end());
    report->byPath = files;
    report->overview = drawing.overview >= 0;
    report->warnings = std::move(drawing.warnings);
  }
  return true;
}

bool writePattern(const PatternInput& input, const PatternOptions& options, const std::string& path,
                  PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  if (!writerOf(path)) return unknownType(path, error);
  if (std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    *error = problem;
    return false;
  }
  return writePattern(input, options, packPattern(input, options), {path}, report, error);
}

const std::vector<PatternFormat>& patternFormats() {
  static const std::vector<PatternFormat> formats = [] {
    std::vector<PatternFormat> list;
    for (const FormatWriter& writer : formatWriters()) list.push_back(writer.format);
    return list;
  }();
  return formats;
}

const PatternFormat* patternFormatOf(const std::string& path) {
  const FormatWriter* writer = writerOf(path);
  return writer ? &patternFormats()[static_cast<size_t>(writer - formatWriters().data())] : nullptr;
}

}  // namespace pattern
