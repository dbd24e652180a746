// The one typeface of the pattern: every number, title and legend word is set in it, so that a
// PDF embeds a single font and every format measures text the same way.
#pragma once

#include <cairo.h>

#include <array>
#include <string>
#include <vector>

namespace pattern::detail {

/// A glyph of a set line of text: its index in the font and its pen position along the line,
/// in ems from the line's start.
struct Glyph {
  unsigned long index = 0;
  double x = 0;
};

/// A line of text set in the font, in ems: multiply by the font size for millimetres.
struct SetText {
  std::vector<Glyph> glyphs;
  /// Sum of the advances: the line's length.
  double width = 0;
};

class Font {
 public:
  /// The font, loaded on first use (fontconfig finds the face); safe to call from any thread.
  static const Font& get();

  /// The family name that SVG viewers are asked for, with fallbacks every viewer has.
  static constexpr const char* kSvgFamily = "'DejaVu Sans Condensed','DejaVu Sans','Arial Narrow',Arial,sans-serif";
  /// Weight of the face, for the same request in SVG.
  static constexpr const char* kSvgWeight = "bold";

  /// Lays out UTF-8 text without kerning; characters the font lacks take its missing glyph.
  SetText set(const std::string& utf8) const;
  /// Height of the digits above the baseline, in ems: the "size" that a label's height means.
  double digitHeight() const { return digitHeight_; }
  /// Height above and depth below the baseline of the tallest and deepest letters, in ems.
  double ascent() const { return ascent_; }
  double descent() const { return descent_; }
  /// The face for cairo; owned by the font.
  cairo_font_face_t* cairoFace() const { return cairo_; }
  /// The font file and the face's index in it, for embedding.
  const std::string& file() const { return file_; }
  int faceIndex() const { return index_; }
  /// The advance of a glyph, in ems.
  double glyphAdvance(unsigned long glyph) const;
  /// The face's PostScript name (for a PDF's font resource).
  std::string postscriptName() const;
  /// The bounding box of all glyphs, in ems: left, bottom, right, top.
  std::array<double, 4> bounds() const;

 private:
  Font();
  double advance(unsigned long glyph) const;

  std::string file_;
  int index_ = 0;
  /// The face our own measuring reads, under its lock; cairo draws with a face of its own.
  void* library_ = nullptr;
  void* face_ = nullptr;
  cairo_font_face_t* cairo_ = nullptr;
  double unitsPerEm_ = 1000;
  double digitHeight_ = 0.73, ascent_ = 0.93, descent_ = 0.24;
  std::vector<double> asciiAdvance_;
  std::vector<unsigned long> asciiGlyph_;
};

}  // namespace pattern::detail
