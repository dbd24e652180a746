#include "pattern/font.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <mutex>
#include <stdexcept>

namespace pattern::detail {

namespace {

// A condensed bold face: numbers stay short along small edges and dark enough to read at 2 mm.
constexpr const char* kPattern = "DejaVu Sans Condensed:style=Condensed Bold";

// Guards FreeType calls after loading: glyphs outside ASCII are looked up on demand, and the
// outputs of a run may set text from several threads.
std::mutex& faceLock() {
  static std::mutex lock;
  return lock;
}

std::string matchFile(int* index) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kPattern));
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  std::string file;
  if (match) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return file;
}

// Decodes one UTF-8 sequence at text[*at]; malformed bytes read as U+FFFD.
char32_t nextCodePoint(const std::string& text, size_t* at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(*at);
  int length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
  if (length == 0 || *at + length > text.size()) {
    ++*at;
    return 0xFFFD;
  }
  char32_t c = length == 1 ? first : first & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if ((byte(*at + k) & 0xC0) != 0x80) {
      ++*at;
      return 0xFFFD;
    }
    c = (c << 6) | (byte(*at + k) & 0x3F);
  }
  *at += length;
  return c;
}

}  // namespace

const Font& Font::get() {
  // Kept for the life of the process: cairo's font caches may refer to the face until exit.
  static const Font* font = new Font();
  return *font;
}

Font::Font() {
  int index = 0;
  const std::string file = matchFile(&index);
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0) throw std::runtime_error("cannot start FreeType");
  if (file.empty() || FT_New_Face(library, file.c_str(), index, &face) != 0) {
    throw std::runtime_error("no font found for the pattern (" + std::string(kPattern) + "); install fonts-dejavu");
  }
  library_ = library;
  face_ = face;
  file_ = file;
  index_ = index;
  unitsPerEm_ = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  // cairo gets a face of its own: it guards its face with its own lock, which our measuring
  // does not take, and patterns are drawn on several threads at once (the studio draws one
  // session's sheets while another runs).
  FT_Library cairoLibrary = nullptr;
  FT_Face cairoFace = nullptr;
  if (FT_Init_FreeType(&cairoLibrary) != 0 || FT_New_Face(cairoLibrary, file.c_str(), index, &cairoFace) != 0) {
    throw std::runtime_error("cannot load the pattern's font " + file);
  }
  cairo_ = cairo_ft_font_face_create_for_ft_face(cairoFace, 0);
  asciiAdvance_.resize(128);
  asciiGlyph_.resize(128);
  for (unsigned c = 0; c < 128; ++c) {
    asciiGlyph_[c] = FT_Get_Char_Index(face, c);
    asciiAdvance_[c] = advance(asciiGlyph_[c]);
  }
  auto inkTop = [&](char32_t c) {
    if (FT_Load_Glyph(face, FT_Get_Char_Index(face, c), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return 0.0;
    return face->glyph->metrics.horiBearingY / unitsPerEm_;
  };
  digitHeight_ = inkTop('0');
  ascent_ = face->ascender / unitsPerEm_;
  descent_ = -face->descender / unitsPerEm_;
}

double Font::advance(unsigned long glyph) const {
  auto* face = static_cast<FT_Face>(face_);
  if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return 0.5;
  return face->glyph->metrics.horiAdvance / unitsPerEm_;
}

double Font::glyphAdvance(unsigned long glyph) const {
  std::lock_guard<std::mutex> lock(faceLock());
  return advance(glyph);
}

std::string Font::postscriptName() const {
  const char* name = FT_Get_Postscript_Name(static_cast<FT_Face>(face_));
  return name ? name : "Foldra";
}

std::array<double, 4> Font::bounds() const {
  const FT_BBox& b = static_cast<FT_Face>(face_)->bbox;
  return {b.xMin / unitsPerEm_, b.yMin / unitsPerEm_, b.xMax / unitsPerEm_, b.yMax / unitsPerEm_};
}

SetText Font::set(const std::string& utf8) const {
  SetText line;
  for (size_t at = 0; at < utf8.size();) {
    const char32_t c = nextCodePoint(utf8, &at);
    Glyph g{0, line.width};
    double step = 0;
    if (c < 128) {
      g.index = asciiGlyph_[c];
      step = asciiAdvance_[c];
    } else {
      std::lock_guard<std::mutex> lock(faceLock());
      g.index = FT_Get_Char_Index(static_cast<FT_Face>(face_), c);
      step = advance(g.index);
    }
    line.glyphs.push_back(g);
    line.width += step;
  }
  return line;
}

}  // namespace pattern::detail
