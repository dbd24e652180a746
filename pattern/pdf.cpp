// The page marks written as a PDF document: one content stream per page in millimetres, the
// font embedded once as a subset of the glyphs the pages use, each image once. Streams are
// compressed at a fast level: the pages are mostly numbers, which a slower level shrinks by
// little more while taking several times as long.
#include <hb-subset.h>
#include <hb.h>
#include <libdeflate.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "pattern/drawing.h"

namespace pattern::detail {

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr int kFastLevel = 1;
constexpr int kSmallLevel = 6;
// A repeated texture is drawn tile by tile; beyond this many tiles for one triangle (texture
// coordinates far outside 0..1) the triangle keeps only its veil.
constexpr int kMostTiles = 64;
constexpr double kBackdropAlpha = 0.75;

// A number to a hundredth, without trailing zeros.
void number(std::string* out, double v, int decimals = 2) {
  const double scale = decimals == 2 ? 100 : decimals == 4 ? 10000 : 1000000;
  long long n = std::llround(v * scale);
  if (n < 0) {
    out->push_back('-');
    n = -n;
  }
  char buffer[32];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, n / static_cast<long long>(scale));
  out->append(buffer, r.ptr);
  long long frac = n % static_cast<long long>(scale);
  if (frac == 0) return;
  out->push_back('.');
  for (long long unit = static_cast<long long>(scale) / 10; unit > 0 && frac > 0; unit /= 10) {
    out->push_back(static_cast<char>('0' + frac / unit));
    frac %= unit;
  }
}

void numbers(std::string* out, std::initializer_list<double> values, int decimals = 2) {
  for (const double v : values) {
    number(out, v, decimals);
    out->push_back(' ');
  }
}

std::string deflate(const std::string& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::string out(libdeflate_zlib_compress_bound(c, data.size()), '\0');
  const size_t size = libdeflate_zlib_compress(c, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  out.resize(size);
  return out;
}

void hex4(std::string* out, unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out->push_back(digits[(v >> shift) & 15]);
}

// Decodes UTF-8 into code points, one per glyph of the set text.
std::vector<char32_t> codePoints(const std::string& text) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

class PdfWriter {
 public:
  PdfWriter(const Drawing& drawing, const std::vector<const Page*>& pages, const PageDone& pageDone)
      : drawing_(drawing), pages_(pages), pageDone_(pageDone) {}

  std::string write() {
    out_ = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    collectGlyphs();
    // Objects 1 and 2 are the catalogue and the page tree; the rest follow as they are made.
    offsets_.assign(3, 0);
    const int info = object("<< /Creator (Foldra) /Producer (Foldra) /CreationDate (D:20000101000000Z) >>");
    const int font = glyphs_.empty() ? 0 : embedFont();
    std::vector<int> pageObjects;
    for (const Page* page : pages_) {
      if (pageDone_) pageDone_(static_cast<int>(pageObjects.size()), static_cast<int>(pages_.size()));
      pageObjects.push_back(writePage(*page, font));
    }
    std::string kids;
    for (const int p : pageObjects) kids += std::to_string(p) + " 0 R ";
    at(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string tree = "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pageObjects.size()) +
                       " /MediaBox [ 0 0 ";
    numbers(&tree, {drawing_.width * kPointsPerMm, drawing_.height * kPointsPerMm}, 4);
    tree += "] >>";
    at(2, tree);
    const size_t xref = out_.size();
    out_ += "xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n";
    char line[32];
    for (size_t i = 1; i < offsets_.size(); ++i) {
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets_[i]);
      out_ += line;
    }
    out_ += "trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root 1 0 R /Info " + std::to_string(info) +
            " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return std::move(out_);
  }

 private:
  int reserve() {
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size()) - 1;
  }

  void at(int id, const std::string& body) {
    offsets_[id] = out_.size();
    out_ += std::to_string(id) + " 0 obj\n" + body + "\nendobj\n";
  }

  int object(const std::string& body) {
    const int id = reserve();
    at(id, body);
    return id;
  }

  int stream(const std::string& dictionary, const std::string& data, int level) {
    const std::string packed = deflate(data, level);
    const int id = reserve();
    offsets_[id] = out_.size();
    out_ += std::to_string(id) + " 0 obj\n<< " + dictionary + " /Filter /FlateDecode /Length " +
            std::to_string(packed.size()) + " >>\nstream\n";
    out_ += packed;
    out_ += "\nendstream\nendobj\n";
    return id;
  }

  void collectGlyphs() {
    for (const Page* page : pages_) {
      for (const Mark& mark : page->marks) {
        const auto* text = std::get_if<TextMark>(&mark);
        if (!text) continue;
        const std::vector<char32_t> chars = codePoints(text->text);
        for (size_t i = 0; i < text->set.glyphs.size(); ++i) {
          glyphs_.emplace(text->set.glyphs[i].index, i < chars.size() ? chars[i] : 0xFFFD);
        }
      }
    }
  }

  // The font as a subset that keeps the glyphs' numbers, so that the text's glyph numbers need
  // no mapping: a Type 0 font over a TrueType-outlined CID font, with widths and a map back to
  // the characters so that the text can be searched and copied.
  int embedFont() {
    const Font& font = Font::get();
    hb_blob_t* blob = hb_blob_create_from_file(font.file().c_str());
    hb_face_t* face = hb_face_create(blob, static_cast<unsigned>(font.faceIndex()));
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    std::string program;
    if (input) {
      hb_set_t* keep = hb_subset_input_glyph_set(input);
      hb_set_add(keep, 0);
      for (const auto& [glyph, c] : glyphs_) hb_set_add(keep, static_cast<hb_codepoint_t>(glyph));
      hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NO_HINTING);
      if (hb_face_t* subset = hb_subset_or_fail(face, input)) {
        hb_blob_t* bytes = hb_face_reference_blob(subset);
        unsigned length = 0;
        const char* data = hb_blob_get_data(bytes, &length);
        program.assign(data, length);
        hb_blob_destroy(bytes);
        hb_face_destroy(subset);
      }
      hb_subset_input_destroy(input);
    }
    if (program.empty()) {
      unsigned length = 0;
      const char* data = hb_blob_get_data(blob, &length);
      program.assign(data, length);
    }
    hb_face_destroy(face);
    hb_blob_destroy(blob);

    // A subset is named with six letters in front; these follow from the glyphs it holds.
    std::uint32_t hash = 2166136261u;
    for (const auto& [glyph, c] : glyphs_) hash = (hash ^ static_cast<std::uint32_t>(glyph)) * 16777619u;
    std::string name;
    for (int k = 0; k < 6; ++k, hash /= 26) name.push_back(static_cast<char>('A' + hash % 26));
    name += "+" + font.postscriptName();

    const int file = stream("/Length1 " + std::to_string(program.size()), program, kSmallLevel);
    const auto box = font.bounds();
    std::string descriptor = "<< /Type /FontDescriptor /FontName /" + name + " /Flags 32 /FontBBox [ ";
    numbers(&descriptor, {box[0] * 1000, box[1] * 1000, box[2] * 1000, box[3] * 1000}, 2);
    descriptor += "] /ItalicAngle 0 /Ascent ";
    number(&descriptor, font.ascent() * 1000);
    descriptor += " /Descent ";
    number(&descriptor, -font.descent() * 1000);
    descriptor += " /CapHeight ";
    number(&descriptor, font.digitHeight() * 1000);
    descriptor += " /StemV 120 /FontFile2 " + std::to_string(file) + " 0 R >>";
    const int descriptorId = object(descriptor);
    std::string widths = "[ ";
    for (const auto& [glyph, c] : glyphs_) {
      widths += std::to_string(glyph) + " [ ";
      number(&widths, font.glyphAdvance(glyph) * 1000);
      widths += " ] ";
    }
    widths += "]";
    const int cid = object("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
                           " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                           std::to_string(descriptorId) + " 0 R /W " + widths + " /CIDToGIDMap /Identity >>");
    std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (UCS) /Supplement 0 >> def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<std::pair<unsigned long, char32_t>> entries(glyphs_.begin(), glyphs_.end());
    for (size_t start = 0; start < entries.size(); start += 100) {
      const size_t end = std::min(entries.size(), start + 100);
      cmap += std::to_string(end - start) + " beginbfchar\n";
      for (size_t i = start; i < end; ++i) {
        cmap += "<";
        hex4(&cmap, static_cast<unsigned>(entries[i].first));
        cmap += "> <";
        char32_t c = entries[i].second;
        if (c >= 0x10000) {
          c -= 0x10000;
          hex4(&cmap, 0xD800 + static_cast<unsigned>(c >> 10));
          hex4(&cmap, 0xDC00 + static_cast<unsigned>(c & 0x3FF));
        } else {
          hex4(&cmap, static_cast<unsigned>(c));
        }
        cmap += ">\n";
      }
      cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    const int toUnicode = stream("", cmap, kSmallLevel);
    return object("<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding /Identity-H /DescendantFonts [ " +
                  std::to_string(cid) + " 0 R ] /ToUnicode " + std::to_string(toUnicode) + " 0 R >>");
  }

  // Each image once, as RGB pixels; transparent pixels of a texture are taken as on white paper.
  int image(int index) {
    const auto it = images_.find(index);
    if (it != images_.end()) return it->second;
    cairo_surface_t* surface = drawing_.images[index];
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::string rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < width; ++x) {
        const std::uint32_t p = row[x];
        const unsigned white = alpha ? 255 - (p >> 24) : 0;
        rgb.push_back(static_cast<char>(std::min(255u, ((p >> 16) & 255) + white)));
        rgb.push_back(static_cast<char>(std::min(255u, ((p >> 8) & 255) + white)));
        rgb.push_back(static_cast<char>(std::min(255u, (p & 255) + white)));
      }
    }
    const int id = stream("/Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
                              std::to_string(height) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Interpolate true",
                          rgb, kFastLevel);
    images_.emplace(index, id);
    return id;
  }

  std::string alphaState(double alpha) {
    std::string name = "/A";
    number(&name, alpha * 100, 2);
    for (char& c : name) {
      if (c == '.') c = '_';
    }
    alphas_.emplace(name, alpha);
    return name;
  }

  void path(std::string* c, const Path& p, bool close) {
    for (size_t part = 0; part < p.starts.size(); ++part) {
      const int begin = p.starts[part];
      const int end = part + 1 < p.starts.size() ? p.starts[part + 1] : static_cast<int>(p.points.size());
      for (int i = begin; i < end; ++i) {
        numbers(c, {p.points[i].x, p.points[i].y});
        c->append(i == begin ? "m\n" : "l\n");
      }
      if (close) c->append("h\n");
    }
  }

  static void colour(std::string* c, const Rgb& rgb, const char* op) {
    numbers(c, {rgb[0], rgb[1], rgb[2]}, 4);
    c->append(op);
    c->push_back('\n');
  }

  void draw(std::string* c, const FillMark& m) {
    if (m.alpha < 1) c->append("q " + alphaState(m.alpha) + " gs\n");
    colour(c, m.colour, "rg");
    path(c, m.path, true);
    c->append("f\n");
    if (m.alpha < 1) c->append("Q\n");
  }

  void draw(std::string* c, const StrokeMark& m) {
    c->append("q ");
    number(c, m.pen.width);
    c->append(m.pen.dashes.empty() ? " w 1 J 1 j [ ] 0 d\n" : " w 0 J 1 j [ ");
    if (!m.pen.dashes.empty()) {
      for (const double d : m.pen.dashes) {
        number(c, d);
        c->push_back(' ');
      }
      c->append("] 0 d\n");
    }
    colour(c, m.pen.colour, "RG");
    path(c, m.path, false);
    c->append("S Q\n");
  }

  void draw(std::string* c, const ImageMark& m) {
    if (!drawing_.images[m.image]) return;
    cairo_surface_t* surface = drawing_.images[m.image];
    const double w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    cairo_matrix_t toPage = m.pageToPixels;
    if (cairo_matrix_invert(&toPage) != CAIRO_STATUS_SUCCESS) return;
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    if (m.repeat) {
      double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
      for (Point2 p : m.clip) {
        cairo_matrix_transform_point(&m.pageToPixels, &p.x, &p.y);
        lo[0] = std::min(lo[0], p.x / w);
        hi[0] = std::max(hi[0], p.x / w);
        lo[1] = std::min(lo[1], p.y / h);
        hi[1] = std::max(hi[1], p.y / h);
      }
      if (!(hi[0] - lo[0] < kMostTiles && hi[1] - lo[1] < kMostTiles)) return;
      x0 = static_cast<int>(std::floor(lo[0]));
      x1 = static_cast<int>(std::floor(hi[0]));
      y0 = static_cast<int>(std::floor(lo[1]));
      y1 = static_cast<int>(std::floor(hi[1]));
      if ((x1 - x0 + 1) * (y1 - y0 + 1) > kMostTiles) return;
    }
    const int id = image(m.image);
    used_.insert(id);
    c->append("q\n");
    Path clip;
    clip.begin();
    for (const Point2& p : m.clip) clip.add(p);
    path(c, clip, true);
    c->append("W n\n");
    numbers(c, {toPage.xx, toPage.yx, toPage.xy, toPage.yy, toPage.x0, toPage.y0}, 6);
    c->append("cm\n");
    for (int ty = y0; ty <= y1; ++ty) {
      for (int tx = x0; tx <= x1; ++tx) {
        // Image space is the unit square with its first row at the top: onto pixels.
        c->append("q ");
        numbers(c, {w, 0, 0, -h, tx * w, (ty + 1) * h});
        c->append("cm /I" + std::to_string(id) + " Do Q\n");
      }
    }
    c->append("Q\n");
  }

  void draw(std::string* c, const TextMark& m) {
    const Font& font = Font::get();
    const double cosA = std::cos(m.angle), sinA = std::sin(m.angle);
    const double width = m.set.width * m.size;
    auto rectangle = [&](double x, double y, double rw, double rh) {
      // A rectangle in the text's frame (y down), as a path on the page.
      const Point2 corners[4] = {{x, y}, {x + rw, y}, {x + rw, y + rh}, {x, y + rh}};
      for (int k = 0; k < 4; ++k) {
        numbers(c, {m.origin.x + cosA * corners[k].x - sinA * corners[k].y, m.origin.y + sinA * corners[k].x + cosA * corners[k].y});
        c->append(k == 0 ? "m\n" : "l\n");
      }
      c->append("h f\n");
    };
    if (m.backdrop) {
      const double below = m.underline ? (kUnderlineOffset + kUnderlineThickness) * m.size : 0.05 * m.size;
      const double above = font.digitHeight() * m.size + 0.05 * m.size;
      c->append("q " + alphaState(kBackdropAlpha) + " gs 1 1 1 rg\n");
      rectangle(-0.1 * m.size, -above, width + 0.2 * m.size, above + below);
      c->append("Q\n");
    }
    colour(c, m.colour, "rg");
    c->append("BT /F 1 Tf ");
    numbers(c, {m.size * cosA, m.size * sinA, m.size * sinA, -m.size * cosA, m.origin.x, m.origin.y}, 4);
    c->append("Tm <");
    for (const Glyph& g : m.set.glyphs) hex4(c, static_cast<unsigned>(g.index));
    c->append("> Tj ET\n");
    if (m.underline) rectangle(0, kUnderlineOffset * m.size, width, kUnderlineThickness * m.size);
  }

  int writePage(const Page& page, int font) {
    std::string content;
    numbers(&content, {kPointsPerMm, 0, 0, -kPointsPerMm, 0, drawing_.height * kPointsPerMm}, 6);
    content += "cm\n";
    used_.clear();
    alphas_.clear();
    for (const Mark& mark : page.marks) {
      std::visit([&](const auto& m) { draw(&content, m); }, mark);
    }
    const int contents = stream("", content, kFastLevel);
    std::string resources = "<< ";
    if (font) resources += "/Font << /F " + std::to_string(font) + " 0 R >> ";
    if (!used_.empty()) {
      resources += "/XObject << ";
      for (const int id : used_) resources += "/I" + std::to_string(id) + " " + std::to_string(id) + " 0 R ";
      resources += ">> ";
    }
    if (!alphas_.empty()) {
      resources += "/ExtGState << ";
      for (const auto& [name, alpha] : alphas_) {
        resources += name + " << /ca ";
        number(&resources, alpha, 4);
        resources += " >> ";
      }
      resources += ">> ";
    }
    resources += ">>";
    return object("<< /Type /Page /Parent 2 0 R /Resources " + resources + " /Contents " + std::to_string(contents) + " 0 R >>");
  }

  const Drawing& drawing_;
  const std::vector<const Page*>& pages_;
  std::string out_;
  std::vector<size_t> offsets_;
  std::map<unsigned long, char32_t> glyphs_;
  std::map<int, int> images_;
  std::set<int> used_;
  std::map<std::string, double> alphas_;
  const PageDone& pageDone_;
};

}  // namespace

std::string pdfDocument(const Drawing& drawing, const std::vector<const Page*>& pages, const PageDone& pageDone) {
  return PdfWriter(drawing, pages, pageDone).write();
}

}  // namespace pattern::detail
