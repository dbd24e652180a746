#include "job/pattern_files.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "job/output_formats.h"

namespace job {

PatternLayout patternLayout(const pattern::PatternInput& input, const pattern::Packing& packing,
                            const pattern::PatternOptions& options) {
  PatternLayout layout;
  layout.sheets = packing.sheets;
  layout.pageWidth = options.pageWidth;
  layout.pageHeight = options.pageHeight;
  layout.margin = options.margin;
  const double printableWidth = options.pageWidth - 2 * options.margin;
  const double printableHeight = options.pageHeight - 2 * options.margin;
  std::vector<std::string> oversizeNames;
  for (std::size_t i = 0; i < input.pieces.size() && i < packing.positions.size(); ++i) {
    const pattern::Piece& piece = input.pieces[i];
    const pattern::Position& position = packing.positions[i];
    double minX = std::numeric_limits<double>::max(), minY = minX;
    double maxX = std::numeric_limits<double>::lowest(), maxY = maxX;
    auto add = [&](pattern::Point2 p) {
      const pattern::Point2 q = pattern::sheetPoint(position, options.scale, p);
      minX = std::min(minX, q.x);
      maxX = std::max(maxX, q.x);
      minY = std::min(minY, q.y);
      maxY = std::max(maxY, q.y);
    };
    for (const pattern::Triangle& t : piece.triangles) {
      for (const pattern::Point2& p : t.p) add(p);
    }
    for (const pattern::Tab& t : piece.tabs) {
      for (const pattern::Point2& p : t.corners) add(p);
    }
    PlacedPiece placed;
    // The number printed on the sheets, which the packing gives in reading order.
    placed.number = i < packing.numbers.size() ? packing.numbers[i] : piece.number;
    placed.sheet = position.sheet;
    placed.triangles = static_cast<int>(piece.triangles.size());
    placed.oversize = position.oversize;
    if (minX <= maxX && minY <= maxY) {
      placed.left = minX;
      placed.top = options.pageHeight - maxY;
      placed.width = maxX - minX;
      placed.height = maxY - minY;
    }
    if (placed.oversize && placed.width > 0 && placed.height > 0) {
      layout.fit = std::min({layout.fit, printableWidth / placed.width, printableHeight / placed.height});
      // The packing's warnings name a piece by its number in the input.
      oversizeNames.push_back("piece " + std::to_string(piece.number) + " is ");
    }
    layout.pieces.push_back(placed);
  }
  // The oversize pieces are told through `pieces`, with their fixes in a person's words.
  for (const std::string& warning : packing.warnings) {
    const bool oversize = std::any_of(oversizeNames.begin(), oversizeNames.end(),
                                      [&](const std::string& name) { return warning.rfind(name, 0) == 0; });
    if (!oversize) layout.warnings.push_back(warning);
  }
  return layout;
}

PatternFiles::PatternFiles(pattern::PatternInput input, pattern::PatternOptions options, std::string folder)
    : input_(std::move(input)), options_(std::move(options)), folder_(std::move(folder)) {}

const PatternLayout& PatternFiles::layout() {
  std::lock_guard<std::mutex> lock(layoutMutex_);
  if (!packed_) {
    packing_ = pattern::packPattern(input_, options_);
    layout_ = patternLayout(input_, packing_, options_);
    packed_ = true;
  }
  return layout_;
}

std::shared_ptr<const pattern::DrawnPattern> PatternFiles::drawn(bool texts, std::string* error) {
  std::lock_guard<std::mutex> lock(drawnMutex_);
  std::shared_ptr<const pattern::DrawnPattern>& slot = texts ? drawn_ : drawnLines_;
  if (!slot) {
    layout();
    pattern::PatternOptions options = options_;
    options.texts = texts;
    auto pages = std::make_shared<pattern::DrawnPattern>();
    if (!pattern::drawPattern(input_, options, packing_, pages.get(), error)) return nullptr;
    slot = std::move(pages);
  }
  return slot;
}

void PatternFiles::release() {
  std::lock_guard<std::mutex> lock(drawnMutex_);
  drawn_.reset();
  drawnLines_.reset();
}

bool PatternFiles::written(const std::string& key, const std::string& extension, const pattern::PatternOptions& options,
                           const std::string& stem, std::vector<std::string>* out, std::string* error) {
  Format* format = nullptr;
  {
    std::lock_guard<std::mutex> lock(formatsMutex_);
    auto& slot = formats_[key];
    if (!slot) slot = std::make_unique<Format>();
    format = slot.get();
  }
  std::lock_guard<std::mutex> lock(format->mutex);
  if (!format->done) {
    if (abandoned_) {
      *error = "the pattern is no longer drawn: the result was replaced";
      return false;
    }
    const std::string path = (std::filesystem::path(folder_) / (stem + extension)).string();
    pattern::PatternReport report;
    // Every format is written from the one drawing of the one packing the layout was read from.
    const std::shared_ptr<const pattern::DrawnPattern> pages = drawn(options.texts, &format->error);
    format->ok = pages && pattern::writeDrawn(*pages, options, {path}, &report, &format->error);
    format->files = report.byPath.empty() ? std::vector<std::string>{} : report.byPath.front();
    // A sheet's files only: the overview page, when there is one, stands first.
    const OutputFormat* kind = formatOfExtension(extension);
    if (format->ok && kind && kind->perSheet && report.overview && !format->files.empty()) {
      format->overview = format->files.front();
      format->files.erase(format->files.begin());
    }
    format->done = true;
  }
  *out = format->files;
  if (!format->ok) *error = format->error;
  return format->ok;
}

bool PatternFiles::files(const std::string& extension, std::vector<std::string>* out, std::string* error) {
  return written(extension, extension, options_, "pattern", out, error);
}

bool PatternFiles::pngAt(double dpi, bool texts, std::vector<std::string>* out, std::string* error) {
  pattern::PatternOptions options = options_;
  options.dpi = dpi;
  options.texts = texts;
  const std::string name = std::to_string(std::lround(dpi)) + "dpi" + (texts ? "" : "-lines");
  return written("png@" + name, ".png", options, "pattern-" + name, out, error);
}

std::string PatternFiles::overview(const std::string& extension) {
  std::vector<std::string> sheets;
  std::string error;
  if (!files(extension, &sheets, &error)) return "";
  std::lock_guard<std::mutex> lock(formatsMutex_);
  return formats_[extension]->overview;
}

}  // namespace job
