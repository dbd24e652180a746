// The page marks written as SVG: one path per mark, text as text elements in one font family,
// each image embedded once per file. Lengths are millimetres (the view box is the page).
#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <numbers>
#include <string>

#include "pattern/drawing.h"

namespace pattern::detail {

namespace {

constexpr double kBackdropAlpha = 0.75;

// A length to a hundredth of a millimetre, without trailing zeros.
void number(std::string* out, double v) {
  const long long hundredths = std::llround(v * 100);
  if (hundredths < 0) out->push_back('-');
  const unsigned long long a = static_cast<unsigned long long>(hundredths < 0 ? -hundredths : hundredths);
  char buffer[32];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, a / 100);
  out->append(buffer, r.ptr);
  const unsigned frac = a % 100;
  if (frac != 0) {
    out->push_back('.');
    out->push_back(static_cast<char>('0' + frac / 10));
    if (frac % 10 != 0) out->push_back(static_cast<char>('0' + frac % 10));
  }
}

// A number with up to six significant digits, for matrices and font sizes.
void precise(std::string* out, double v) {
  char buffer[32];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6);
  out->append(buffer, r.ptr);
}

void colour(std::string* out, const Rgb& c) {
  static const char* hex = "0123456789abcdef";
  out->push_back('#');
  for (const double v : c) {
    const int byte = static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    out->push_back(hex[byte >> 4]);
    out->push_back(hex[byte & 15]);
  }
}

void pathData(std::string* out, const Path& path, bool close) {
  for (size_t part = 0; part < path.starts.size(); ++part) {
    const int begin = path.starts[part];
    const int end = part + 1 < path.starts.size() ? path.starts[part + 1] : static_cast<int>(path.points.size());
    for (int i = begin; i < end; ++i) {
      out->push_back(i == begin ? 'M' : 'L');
      number(out, path.points[i].x);
      out->push_back(' ');
      number(out, path.points[i].y);
    }
    if (close) out->push_back('Z');
  }
}

void escaped(std::string* out, const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '&': *out += "&amp;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '"': *out += "&quot;"; break;
      default: out->push_back(c);
    }
  }
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

std::string base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(table[v >> 18 & 63]);
    out.push_back(table[v >> 12 & 63]);
    out.push_back(i + 1 < bytes.size() ? table[v >> 6 & 63] : '=');
    out.push_back(i + 2 < bytes.size() ? table[v & 63] : '=');
  }
  return out;
}

class Writer {
 public:
  Writer(const Drawing& drawing, std::string* out) : drawing_(drawing), out_(*out) {}

  void write(const FillMark& m) {
    out_ += "<path fill=\"";
    colour(&out_, m.colour);
    if (m.alpha < 1) {
      out_ += "\" fill-opacity=\"";
      precise(&out_, m.alpha);
    }
    out_ += "\" d=\"";
    pathData(&out_, m.path, true);
    out_ += "\"/>\n";
  }

  void write(const StrokeMark& m) {
    out_ += "<path fill=\"none\" stroke=\"";
    colour(&out_, m.pen.colour);
    out_ += "\" stroke-width=\"";
    number(&out_, m.pen.width);
    if (m.pen.dashes.empty()) {
      out_ += "\" stroke-linecap=\"round";
    } else {
      out_ += "\" stroke-dasharray=\"";
      for (size_t i = 0; i < m.pen.dashes.size(); ++i) {
        if (i) out_.push_back(' ');
        number(&out_, m.pen.dashes[i]);
      }
    }
    out_ += "\" stroke-linejoin=\"round\" d=\"";
    pathData(&out_, m.path, false);
    out_ += "\"/>\n";
  }

  void write(const ImageMark& m) {
    cairo_surface_t* image = drawing_.images[m.image];
    if (!image) return;
    const int width = cairo_image_surface_get_width(image), height = cairo_image_surface_get_height(image);
    if (!embedded_.count(m.image)) {
      std::string png;
      cairo_surface_write_to_png_stream(image, append, &png);
      out_ += "<defs><image id=\"image" + std::to_string(m.image) + "\" width=\"" + std::to_string(width) +
              "\" height=\"" + std::to_string(height) + "\" preserveAspectRatio=\"none\" href=\"data:image/png;base64," +
              base64(png) + "\"/></defs>\n";
      embedded_.insert({m.image, true});
    }
    // The pattern maps image pixels onto the page: the inverse of page-to-pixels.
    cairo_matrix_t toPage = m.pageToPixels;
    if (cairo_matrix_invert(&toPage) != CAIRO_STATUS_SUCCESS) return;
    const std::string id = "fill" + std::to_string(++patterns_);
    out_ += "<defs><pattern id=\"" + id + "\" patternUnits=\"userSpaceOnUse\" width=\"" + std::to_string(width) +
            "\" height=\"" + std::to_string(height) + "\" patternTransform=\"matrix(";
    for (const double v : {toPage.xx, toPage.yx, toPage.xy, toPage.yy, toPage.x0, toPage.y0}) {
      precise(&out_, v);
      out_.push_back(' ');
    }
    out_.back() = ')';
    out_ += "\"><use href=\"#image" + std::to_string(m.image) + "\"/></pattern></defs>\n<path fill=\"url(#" + id +
            ")\" d=\"";
    Path clip;
    clip.begin();
    for (const Point2& p : m.clip) clip.add(p);
    pathData(&out_, clip, true);
    out_ += "\"/>\n";
  }

  void write(const TextMark& m) {
    const Font& font = Font::get();
    const double width = m.set.width * m.size;
    std::string frame;
    const bool turned = std::abs(m.angle) > 1e-9;
    frame += "transform=\"translate(";
    number(&frame, m.origin.x);
    frame.push_back(' ');
    number(&frame, m.origin.y);
    if (turned) {
      frame += ") rotate(";
      precise(&frame, m.angle * 180 / std::numbers::pi);
    }
    frame += ")\"";
    if (m.backdrop) {
      const double below = m.underline ? (kUnderlineOffset + kUnderlineThickness) * m.size : 0.05 * m.size;
      const double above = font.digitHeight() * m.size + 0.05 * m.size;
      out_ += "<rect " + frame + " x=\"";
      number(&out_, -0.1 * m.size);
      out_ += "\" y=\"";
      number(&out_, -above);
      out_ += "\" width=\"";
      number(&out_, width + 0.2 * m.size);
      out_ += "\" height=\"";
      number(&out_, above + below);
      out_ += "\" fill=\"#fff\" fill-opacity=\"";
      precise(&out_, kBackdropAlpha);
      out_ += "\"/>\n";
    }
    // The measured length holds the text to the box it was placed in, whatever face a viewer
    // takes for the family.
    out_ += "<text " + frame + " font-size=\"";
    precise(&out_, m.size);
    out_ += "\" textLength=\"";
    precise(&out_, width);
    out_ += "\" lengthAdjust=\"spacingAndGlyphs\" fill=\"";
    colour(&out_, m.colour);
    out_ += "\">";
    escaped(&out_, m.text);
    out_ += "</text>\n";
    if (m.underline) {
      out_ += "<rect " + frame + " y=\"";
      number(&out_, kUnderlineOffset * m.size);
      out_ += "\" width=\"";
      number(&out_, width);
      out_ += "\" height=\"";
      precise(&out_, kUnderlineThickness * m.size);
      out_ += "\" fill=\"";
      colour(&out_, m.colour);
      out_ += "\"/>\n";
    }
  }

 private:
  const Drawing& drawing_;
  std::string& out_;
  std::map<int, bool> embedded_;
  int patterns_ = 0;
};

}  // namespace

std::string svgPage(const Drawing& drawing, const Page& page) {
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
  number(&out, drawing.width);
  out += "mm\" height=\"";
  number(&out, drawing.height);
  out += "mm\" viewBox=\"0 0 ";
  number(&out, drawing.width);
  out.push_back(' ');
  number(&out, drawing.height);
  out += "\" font-family=\"";
  out += Font::kSvgFamily;
  out += "\" font-weight=\"";
  out += Font::kSvgWeight;
  out += "\">\n";
  Writer writer(drawing, &out);
  for (const Mark& mark : page.marks) {
    std::visit([&](const auto& m) { writer.write(m); }, mark);
  }
  out += "</svg>\n";
  return out;
}

}  // namespace pattern::detail
