// Writing the sheets to PDF, SVG or PNG files.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/files.h"
#include "pattern/draw.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern {

namespace {

namespace fs = std::filesystem;
using detail::SheetSource;

constexpr double kPointsPerMm = 72.0 / 25.4;
// A PDF records when it was made; a fixed date makes the same pattern give the same bytes.
constexpr const char* kCreationDate = "2000-01-01T00:00:00";
// The largest image cairo makes, in pixels a side.
constexpr long kMostPixels = 32767;

enum class Format { Pdf, Svg, Png };

std::string lowercase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::optional<Format> formatOf(const std::string& path) {
  const std::string extension = lowercase(fs::path(path).extension().string());
  if (extension == ".pdf") return Format::Pdf;
  if (extension == ".svg") return Format::Svg;
  if (extension == ".png") return Format::Png;
  return std::nullopt;
}

// NAME.svg -> NAME-1.svg, NAME-2.svg, ...
std::string sheetPath(const std::string& path, int sheet) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-" + std::to_string(sheet + 1) + p.extension().string())).string();
}

bool cannotWrite(const std::string& path, cairo_status_t status, std::string* error) {
  *error = path + ": cannot be written (" + cairo_status_to_string(status) + ")";
  return false;
}

// Draws a sheet on the surface, whose units are `perMm` to the millimetre. PNGs get white paper;
// on PDF and SVG the paper is the page itself.
cairo_status_t drawPage(cairo_surface_t* surface, double perMm, const SheetSource& src, int sheet, bool paper) {
  cairo_t* cr = cairo_create(surface);
  if (paper) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  cairo_scale(cr, perMm, perMm);
  detail::drawSheet(cr, src, sheet);
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

bool writePdf(const SheetSource& src, const std::string& path, formats::StagedFiles* staged, std::string* error) {
  const std::string temporary = staged->stage(path);
  cairo_surface_t* surface = cairo_pdf_surface_create(temporary.c_str(), src.options.pageWidth * kPointsPerMm,
                                                      src.options.pageHeight * kPointsPerMm);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, kCreationDate);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Foldra");
  cairo_status_t drawn = CAIRO_STATUS_SUCCESS;
  for (int sheet = 0; sheet < src.packing.sheets && drawn == CAIRO_STATUS_SUCCESS; ++sheet) {
    drawn = drawPage(surface, kPointsPerMm, src, sheet, false);
    cairo_surface_show_page(surface);
  }
  const cairo_status_t status = finish(surface, drawn);
  return status == CAIRO_STATUS_SUCCESS || cannotWrite(path, status, error);
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// cairo names the images and the page group of an SVG after a counter that the whole process
// shares, so the same sheet drawn twice would get other names. Renumbering those names in the
// order they first appear makes them depend on the sheet alone.
std::string stableIds(const std::string& svg) {
  static const std::string prefixes[] = {"image", "surface"};
  std::map<std::string, std::string> renamed;
  std::map<std::string, int> used;
  std::string out;
  out.reserve(svg.size());
  for (size_t i = 0; i < svg.size();) {
    bool done = false;
    for (const std::string& prefix : prefixes) {
      const size_t digits = i + prefix.size();
      if (i == 0 || (svg[i - 1] != '#' && svg[i - 1] != '"') || svg.compare(i, prefix.size(), prefix) != 0 ||
          digits >= svg.size() || !std::isdigit(static_cast<unsigned char>(svg[digits]))) {
        continue;
      }
      size_t end = digits;
      while (end < svg.size() && std::isdigit(static_cast<unsigned char>(svg[end]))) ++end;
      auto [it, added] = renamed.try_emplace(svg.substr(i, end - i));
      if (added) it->second = prefix + std::to_string(++used[prefix]);
      out += it->second;
      i = end;
      done = true;
      break;
    }
    if (!done) out += svg[i++];
  }
  return out;
}

bool writeSvg(const SheetSource& src, const std::vector<std::string>& paths, formats::StagedFiles* staged,
              std::string* error) {
  for (int sheet = 0; sheet < src.packing.sheets; ++sheet) {
    std::string svg;
    cairo_surface_t* surface = cairo_svg_surface_create_for_stream(
        append, &svg, src.options.pageWidth * kPointsPerMm, src.options.pageHeight * kPointsPerMm);
    cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PT);
    const cairo_status_t status = finish(surface, drawPage(surface, kPointsPerMm, src, sheet, false));
    if (status != CAIRO_STATUS_SUCCESS) return cannotWrite(paths[sheet], status, error);
    std::ofstream out(staged->stage(paths[sheet]), std::ios::binary);
    out << stableIds(svg);
    out.close();
    if (!out) {
      *error = paths[sheet] + ": cannot be written";
      return false;
    }
  }
  return true;
}

bool writePng(const SheetSource& src, const std::vector<std::string>& paths, formats::StagedFiles* staged,
              std::string* error) {
  const double perMm = src.options.dpi / 25.4;
  const long width = std::lround(src.options.pageWidth * perMm), height = std::lround(src.options.pageHeight * perMm);
  if (width < 1 || height < 1 || width > kMostPixels || height > kMostPixels) {
    *error = "a page of " + detail::formatNumber(src.options.pageWidth) + " x " +
             detail::formatNumber(src.options.pageHeight) + " mm at " + detail::formatNumber(src.options.dpi) +
             " dpi would be " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; a PNG sheet can have 1 to " + std::to_string(kMostPixels) + " pixels a side";
    return false;
  }
  for (int sheet = 0; sheet < src.packing.sheets; ++sheet) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_status_t status = drawPage(surface, perMm, src, sheet, true);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png(surface, staged->stage(paths[sheet]).c_str());
    status = finish(surface, status);
    if (status != CAIRO_STATUS_SUCCESS) return cannotWrite(paths[sheet], status, error);
  }
  return true;
}

}  // namespace

// A pattern without pieces is an error rather than an empty sheet: there is nothing to print,
// and an existing file of that name is better left as it was.
bool writePattern(const PatternInput& input, const PatternOptions& options, const std::string& path,
                  PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  const std::optional<Format> format = formatOf(path);
  if (!format) {
    *error = path + ": unknown file type; the pattern can be written as .pdf, .svg or .png";
    return false;
  }
  if (std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    *error = problem;
    return false;
  }
  if (input.pieces.empty()) {
    *error = "the pattern has no pieces: there is nothing to print";
    return false;
  }

  Packing packing = packPattern(input, options);
  std::vector<std::string> warnings = packing.warnings;
  const detail::Textures textures(options.fill ? input.materials : std::vector<Material>{}, &warnings);
  std::vector<std::string> files;
  if (*format == Format::Pdf) {
    files.push_back(path);
  } else {
    for (int sheet = 0; sheet < packing.sheets; ++sheet) files.push_back(sheetPath(path, sheet));
  }
  for (const std::string& file : files) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
      *error = file + ": cannot be written, it is a folder";
      return false;
    }
  }

  const SheetSource source{input, options, packing, textures};
  formats::StagedFiles staged;
  const bool written = *format == Format::Pdf ? writePdf(source, path, &staged, error)
                       : *format == Format::Svg ? writeSvg(source, files, &staged, error)
                                                : writePng(source, files, &staged, error);
  if (!written || !staged.commit(error)) return false;
  if (report) {
    report->packing = std::move(packing);
    report->files = std::move(files);
    report->warnings = std::move(warnings);
  }
  return true;
}

}  // namespace pattern
