// A run's pattern as a viewer uses it: where each piece went (its printed number, sheet, box and
// size), which pieces are larger than the printable area and how much smaller the model would
// have to be for them to fit, and the pattern's files, each format drawn once when first asked
// for.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace job {

/// One piece on the pattern, in millimetres on its sheet measured from the sheet's top-left
/// corner (as the page is seen).
struct PlacedPiece {
  /// The number printed on the piece.
  int number = 0;
  /// The sheet it is on, from 0.
  int sheet = 0;
  double left = 0, top = 0, width = 0, height = 0;
  int triangles = 0;
  /// Larger than the printable area: it prints clipped.
  bool oversize = false;
};

struct PatternLayout {
  int sheets = 0;
  double pageWidth = 0, pageHeight = 0, margin = 0;
  /// One per piece of the pattern's input, in its order.
  std::vector<PlacedPiece> pieces;
  /// The factor (below 1) by which the model would have to shrink for every oversize piece to
  /// fit the printable area; 1 when every piece fits.
  double fit = 1;
  /// The packing's warnings but those about oversize pieces, which `pieces` tells.
  std::vector<std::string> warnings;
};

/// Where the packing put each piece.
PatternLayout patternLayout(const pattern::PatternInput& input, const pattern::Packing& packing,
                            const pattern::PatternOptions& options);

/// The pattern of one run, drawn into a folder of its own. Thread-safe: a request that asks for
/// a format being drawn waits for it.
class PatternFiles {
 public:
  PatternFiles(pattern::PatternInput input, pattern::PatternOptions options, std::string folder);

  /// The packing's view of the pieces (packs on first use).
  const PatternLayout& layout();
  /// Where each piece went on the sheets (packs on first use).
  const pattern::Packing& packing() {
    layout();
    return packing_;
  }
  /// The pieces as the pattern draws them, and how.
  const pattern::PatternInput& input() const { return input_; }
  const pattern::PatternOptions& options() const { return options_; }
  /// The files of one pattern format, by its extension (output_formats.h): one document with
  /// the overview page first, or one file per sheet; drawn from the layout's packing on first
  /// request (PNG sheets at the options' resolution). False with *error set when drawing fails,
  /// or once the drawing was abandoned.
  bool files(const std::string& extension, std::vector<std::string>* out, std::string* error);
  /// The sheets as PNG images at a resolution of their own, with or without their texts
  /// (thumbnails), drawn on first request like the formats: the overview first where there is one.
  bool pngAt(double dpi, bool texts, std::vector<std::string>* out, std::string* error);
  /// Lets go of the drawn pages once every format wanted soon is written: a format asked for
  /// later draws them again.
  void release();
  /// The overview page of a format drawn as a file per sheet, drawn with its sheets; "" when
  /// there is none.
  std::string overview(const std::string& extension);
  /// Work not yet begun is not begun: the run's result was replaced or its session ended.
  void abandon() { abandoned_ = true; }
  bool abandoned() const { return abandoned_; }

 private:
  struct Format {
    std::mutex mutex;
    bool done = false;
    bool ok = false;
    std::vector<std::string> files;
    std::string overview;
    std::string error;
  };
  /// The files of format `key` (an extension, or a PNG resolution): written from the drawn pages
  /// on first request, as `extension` with these options.
  bool written(const std::string& key, const std::string& extension, const pattern::PatternOptions& options,
               const std::string& stem, std::vector<std::string>* out, std::string* error);
  /// The pages drawn from the layout's packing, once until released; null with *error set.
  /// Without their texts (for images too small to read them) they are drawn apart, much
  /// sooner: no label is placed.
  std::shared_ptr<const pattern::DrawnPattern> drawn(bool texts, std::string* error);

  pattern::PatternInput input_;
  pattern::PatternOptions options_;
  std::string folder_;
  std::atomic<bool> abandoned_{false};
  std::mutex layoutMutex_;
  bool packed_ = false;
  pattern::Packing packing_;
  PatternLayout layout_;
  std::mutex drawnMutex_;
  std::shared_ptr<const pattern::DrawnPattern> drawn_, drawnLines_;
  std::mutex formatsMutex_;
  std::map<std::string, std::unique_ptr<Format>> formats_;
};

}  // namespace job
