// The page marks drawn through cairo: the PDF and PNG formats.
#include <cmath>
#include <vector>

#include "pattern/drawing.h"

namespace pattern::detail {

namespace {

constexpr double kBackdropAlpha = 0.75;

void tracePath(cairo_t* cr, const Path& path, bool close) {
  for (size_t part = 0; part < path.starts.size(); ++part) {
    const int begin = path.starts[part];
    const int end = part + 1 < path.starts.size() ? path.starts[part + 1] : static_cast<int>(path.points.size());
    for (int i = begin; i < end; ++i) {
      if (i == begin) cairo_move_to(cr, path.points[i].x, path.points[i].y);
      else cairo_line_to(cr, path.points[i].x, path.points[i].y);
    }
    if (close) cairo_close_path(cr);
  }
}

void setColour(cairo_t* cr, const Rgb& c, double alpha = 1) {
  if (alpha < 1) cairo_set_source_rgba(cr, c[0], c[1], c[2], alpha);
  else cairo_set_source_rgb(cr, c[0], c[1], c[2]);
}

void draw(cairo_t* cr, const Drawing&, const FillMark& m) {
  tracePath(cr, m.path, true);
  setColour(cr, m.colour, m.alpha);
  cairo_fill(cr);
}

void draw(cairo_t* cr, const Drawing&, const StrokeMark& m) {
  tracePath(cr, m.path, false);
  cairo_set_line_width(cr, m.pen.width);
  setColour(cr, m.pen.colour);
  cairo_set_dash(cr, m.pen.dashes.data(), static_cast<int>(m.pen.dashes.size()), 0);
  cairo_set_line_cap(cr, m.pen.dashes.empty() ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

void draw(cairo_t* cr, const Drawing& drawing, const ImageMark& m) {
  cairo_surface_t* image = drawing.images[m.image];
  if (!image) return;
  cairo_pattern_t* source = cairo_pattern_create_for_surface(image);
  cairo_pattern_set_matrix(source, &m.pageToPixels);
  // Within the image, padding keeps the border pixels from blending with the opposite side.
  cairo_pattern_set_extend(source, m.repeat ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(source, CAIRO_FILTER_GOOD);
  cairo_save(cr);
  for (size_t i = 0; i < m.clip.size(); ++i) {
    if (i == 0) cairo_move_to(cr, m.clip[i].x, m.clip[i].y);
    else cairo_line_to(cr, m.clip[i].x, m.clip[i].y);
  }
  cairo_close_path(cr);
  cairo_clip(cr);
  cairo_set_source(cr, source);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_pattern_destroy(source);
}

void draw(cairo_t* cr, const Drawing&, const TextMark& m) {
  const Font& font = Font::get();
  cairo_save(cr);
  cairo_translate(cr, m.origin.x, m.origin.y);
  cairo_rotate(cr, m.angle);
  const double width = m.set.width * m.size;
  if (m.backdrop) {
    const double below = m.underline ? (kUnderlineOffset + kUnderlineThickness) * m.size : 0.05 * m.size;
    const double above = font.digitHeight() * m.size + 0.05 * m.size;
    cairo_rectangle(cr, -0.1 * m.size, -above, width + 0.2 * m.size, above + below);
    cairo_set_source_rgba(cr, 1, 1, 1, kBackdropAlpha);
    cairo_fill(cr);
  }
  setColour(cr, m.colour);
  cairo_set_font_face(cr, font.cairoFace());
  cairo_set_font_size(cr, m.size);
  std::vector<cairo_glyph_t> glyphs(m.set.glyphs.size());
  std::vector<cairo_text_cluster_t> clusters(m.set.glyphs.size());
  // One glyph per character, so that the PDF's text reads back as it was written.
  size_t at = 0;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    glyphs[i] = {m.set.glyphs[i].index, m.set.glyphs[i].x * m.size, 0};
    int bytes = 1;
    const auto lead = static_cast<unsigned char>(at < m.text.size() ? m.text[at] : 0);
    if (lead >= 0xF0) bytes = 4;
    else if (lead >= 0xE0) bytes = 3;
    else if (lead >= 0xC0) bytes = 2;
    if (at + bytes > m.text.size()) bytes = static_cast<int>(m.text.size() - at);
    clusters[i] = {bytes, 1};
    at += bytes;
  }
  if (at == m.text.size() && !glyphs.empty()) {
    cairo_show_text_glyphs(cr, m.text.data(), static_cast<int>(m.text.size()), glyphs.data(), static_cast<int>(glyphs.size()),
                           clusters.data(), static_cast<int>(clusters.size()), cairo_text_cluster_flags_t(0));
  } else if (!glyphs.empty()) {
    cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
  }
  if (m.underline) {
    cairo_rectangle(cr, 0, kUnderlineOffset * m.size, width, kUnderlineThickness * m.size);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

}  // namespace

void renderPage(cairo_t* cr, const Drawing& drawing, const Page& page, bool texts) {
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  // Labels come in many sizes and turns: unhinted outlines draw each without running the
  // font's hinting program for every one.
  cairo_font_options_t* fonts = cairo_font_options_create();
  cairo_font_options_set_hint_style(fonts, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fonts, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr, fonts);
  cairo_font_options_destroy(fonts);
  for (const Mark& mark : page.marks) {
    if (!texts && std::holds_alternative<TextMark>(mark)) continue;
    std::visit([&](const auto& m) { draw(cr, drawing, m); }, mark);
  }
}

Drawing::~Drawing() {
  for (cairo_surface_t* image : images) {
    if (image) cairo_surface_destroy(image);
  }
}

}  // namespace pattern::detail
