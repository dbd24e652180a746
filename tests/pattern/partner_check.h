// Reading a pattern back as a builder does: the texts of its SVG sheets with their boxes, its
// leader lines, and a check that every printed edge name leads from an edge to its partner. The
// check knows nothing of how labels were placed: a label belongs to the edge its leader starts
// at, or else to the nearest cut edge that it reads along.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <map>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "pattern/font.h"
#include "pattern/sheet.h"
#include "pattern_test_support.h"

namespace patterntest {

/// A text element of an SVG sheet, with its box in sheet millimetres (y up, as the pieces).
struct SvgText {
  std::string text;
  double size = 0;  // font size, millimetres
  std::array<Point2, 4> box;
  /// An edge label: a number in the labels' grey (piece numbers are black), not a word of
  /// the legend.
  bool label = false;
};

inline std::vector<SvgText> svgTexts(const std::string& svg, double pageHeight) {
  const double digits = detail::Font::get().digitHeight();
  static const std::regex element(
      R"re(<text transform="translate\(([-0-9.]+) ([-0-9.]+)(?:\) rotate\(([-0-9.e]+))?\)" font-size="([0-9.e-]+)" textLength="([0-9.e-]+)"[^>]*fill="(#[0-9a-f]{6})"[^>]*>([^<]*)</text>)re");
  static const std::regex number("[0-9]+");
  std::vector<SvgText> texts;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), element); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const double x = std::stod(m[1]), y = std::stod(m[2]), angle = m[3].matched ? std::stod(m[3]) * std::numbers::pi / 180 : 0;
    SvgText t;
    t.text = m[7];
    t.label = m[6] != "#000000" && std::regex_match(t.text, number);
    t.size = std::stod(m[4]);
    const double width = std::stod(m[5]), top = digits * t.size;
    const double c = std::cos(angle), s = std::sin(angle);
    const Point2 local[4] = {{0, 0}, {width, 0}, {width, -top}, {0, -top}};
    for (int k = 0; k < 4; ++k) {
      const Point2 page{x + c * local[k].x - s * local[k].y, y + s * local[k].x + c * local[k].y};
      t.box[k] = {page.x, pageHeight - page.y};
    }
    texts.push_back(t);
  }
  return texts;
}

/// The segments of the sheet's leader lines (the thin dark grey pen), sheet millimetres, y up.
inline std::vector<std::array<Point2, 2>> svgLeaders(const std::string& svg, double pageHeight) {
  // Read by hand: a sheet's leaders are one long path, too long for a regular expression.
  const std::string pen = "<path fill=\"none\" stroke=\"#333333\" stroke-width=\"0.15\"";
  std::vector<std::array<Point2, 2>> leaders;
  for (size_t at = svg.find(pen); at != std::string::npos; at = svg.find(pen, at + 1)) {
    const size_t from = svg.find(" d=\"", at), to = svg.find('"', from + 4);
    if (from == std::string::npos || to == std::string::npos) break;
    std::istringstream d(svg.substr(from + 4, to - from - 4));
    char m = 0, l = 0;
    double x0, y0, x1, y1;
    while (d >> m >> x0 >> y0 >> l >> x1 >> y1 && m == 'M' && l == 'L') {
      leaders.push_back({Point2{x0, pageHeight - y0}, Point2{x1, pageHeight - y1}});
    }
  }
  return leaders;
}

/// The distance from a point to a text's box; 0 inside it.
inline double boxDistance(Point2 p, const std::array<Point2, 4>& box) {
  if (insideConvex(p, std::vector<Point2>(box.begin(), box.end()))) return 0;
  double d = INFINITY;
  for (int k = 0; k < 4; ++k) d = std::min(d, segmentDistance(p, box[k], box[(k + 1) % 4]));
  return d;
}

/// " 12, 15" for the names read on an edge, for a failure's message.
inline std::string namesOf(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? " " : ", ") + n;
  return out;
}

struct PartnerTally {
  /// Copies of cut edges that have a partner, and those whose label led to it.
  int copies = 0, found = 0;
  int labels = 0;
};

/// Reads every sheet's SVG (`sheets`, in order) and checks, for every label: it belongs to one
/// copy of a cut edge, every such copy carries exactly one label, and the label's text is
/// printed on exactly one other copy, which is the partner of its edge in the model. With
/// `strict` false the copies that fail are only counted.
inline PartnerTally expectEveryLabelLeadsToItsPartner(const PatternInput& input, const Packing& packing,
                                                      const PatternOptions& options, const std::vector<std::string>& sheets,
                                                      const std::string& what, bool strict = true) {
  struct Copy {
    int sheet, label;
    Point2 a, b;
  };
  std::vector<Copy> copies;
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    const Position& at = packing.positions[i];
    for (const Edge& e : input.pieces[i].edges) {
      if (e.kind != EdgeKind::Cut || e.label <= 0) continue;
      copies.push_back({at.sheet, e.label, sheetPoint(at, options.scale, e.a), sheetPoint(at, options.scale, e.b)});
    }
  }
  std::map<int, int> twice;
  for (const Copy& c : copies) ++twice[c.label];
  PartnerTally tally;
  std::vector<std::vector<std::string>> named(copies.size());
  std::map<std::string, std::vector<int>> byText;
  for (size_t sheet = 0; sheet < sheets.size(); ++sheet) {
    const std::vector<SvgText> texts = svgTexts(sheets[sheet], options.pageHeight);
    // A leader starts at the middle of its edge; the text at its other end is that edge's.
    std::vector<int> viaLeader(texts.size(), -1);
    for (const auto& leader : svgLeaders(sheets[sheet], options.pageHeight)) {
      int edge = -1;
      int end = 0;
      double best = 0.03;
      for (size_t c = 0; c < copies.size(); ++c) {
        if (copies[c].sheet != static_cast<int>(sheet)) continue;
        const Point2 m{(copies[c].a.x + copies[c].b.x) / 2, (copies[c].a.y + copies[c].b.y) / 2};
        for (int k = 0; k < 2; ++k) {
          const double d = std::hypot(leader[k].x - m.x, leader[k].y - m.y);
          if (d < best) {
            best = d;
            edge = static_cast<int>(c);
            end = 1 - k;
          }
        }
      }
      if (edge < 0) continue;
      int text = -1;
      double nearest = INFINITY;
      for (size_t t = 0; t < texts.size(); ++t) {
        const double d = boxDistance(leader[end], texts[t].box);
        if (d < nearest) {
          nearest = d;
          text = static_cast<int>(t);
        }
      }
      // The leader meets its text's box, or the room kept below it for an underline.
      if (text >= 0 && nearest <= 0.2 + 0.3 * texts[text].size) viaLeader[text] = edge;
    }
    for (size_t t = 0; t < texts.size(); ++t) {
      if (!texts[t].label) continue;
      ++tally.labels;
      int edge = viaLeader[t];
      if (edge < 0) {
        // Else the nearest cut edge it reads along.
        const auto& box = texts[t].box;
        const Point2 centre{(box[0].x + box[2].x) / 2, (box[0].y + box[2].y) / 2};
        const Point2 along{box[1].x - box[0].x, box[1].y - box[0].y};
        const double alongLength = std::hypot(along.x, along.y);
        double nearest = INFINITY;
        for (size_t c = 0; c < copies.size(); ++c) {
          if (copies[c].sheet != static_cast<int>(sheet)) continue;
          const Point2 d{copies[c].b.x - copies[c].a.x, copies[c].b.y - copies[c].a.y};
          const double length = std::hypot(d.x, d.y);
          if (!(length > 0) || !(alongLength > 0)) continue;
          if (std::abs(d.x * along.y - d.y * along.x) / (length * alongLength) > 0.02) continue;
          const double distance = segmentDistance(centre, copies[c].a, copies[c].b);
          if (distance < nearest) {
            nearest = distance;
            edge = static_cast<int>(c);
          }
        }
      }
      EXPECT_TRUE(!strict || edge >= 0) << what << ": label " << texts[t].text << " on sheet " << sheet + 1 << " belongs to no cut edge";
      if (edge < 0) continue;
      named[edge].push_back(texts[t].text);
      byText[texts[t].text].push_back(edge);
    }
  }
  for (size_t c = 0; c < copies.size(); ++c) {
    if (twice[copies[c].label] != 2) continue;
    ++tally.copies;
    EXPECT_TRUE(!strict || named[c].size() == 1u) << what << ": a copy of edge " << copies[c].label << " on sheet " << copies[c].sheet + 1
                                   << " carries " << named[c].size() << " labels" << namesOf(named[c]) << " (" << copies[c].a.x << "," << options.pageHeight - copies[c].a.y << " to "
                                   << copies[c].b.x << "," << options.pageHeight - copies[c].b.y << " on the page)";
    if (named[c].size() != 1) continue;
    const std::vector<int>& same = byText[named[c][0]];
    const bool leads = same.size() == 2 && copies[same[0]].label == copies[same[1]].label && same[0] != same[1];
    EXPECT_TRUE(!strict || leads) << what << ": label " << named[c][0] << " is printed on " << same.size()
                       << " edges, not on this edge and its partner";
    if (leads) ++tally.found;
  }
  return tally;
}

/// The labels of a sheet that a text drawn after them on a backdrop (a piece's number or its
/// note) lies over, which veils them. Boxes that only touch do not count.
inline int labelsUnderLaterTexts(const std::string& svg, double pageHeight) {
  const std::vector<SvgText> texts = svgTexts(svg, pageHeight);
  std::vector<std::vector<Point2>> boxes;
  std::vector<Bounds> bounds(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    const auto& box = texts[i].box;
    const Point2 centre{(box[0].x + box[2].x) / 2, (box[0].y + box[2].y) / 2};
    std::vector<Point2> inner;
    for (const Point2& q : box) {
      const double d = std::hypot(q.x - centre.x, q.y - centre.y);
      const double keep = d > 0.05 ? (d - 0.05) / d : 0;
      inner.push_back({centre.x + (q.x - centre.x) * keep, centre.y + (q.y - centre.y) * keep});
      bounds[i].add(inner.back());
    }
    boxes.push_back(std::move(inner));
  }
  int veiled = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (!texts[i].label) continue;
    for (size_t j = i + 1; j < texts.size(); ++j) {
      if (texts[j].label || bounds[j].apart(bounds[i], 0)) continue;
      if (distance(boxes[i], boxes[j]) == 0) {
        ++veiled;
        break;
      }
    }
  }
  return veiled;
}

/// The SVG sheets of a report written to one .svg path, in sheet order (the overview left out).
inline std::vector<std::string> sheetSvgs(const PatternReport& report) {
  std::vector<std::string> sheets;
  for (const std::string& file : report.files) {
    if (file.find("-overview.") == std::string::npos && file.size() > 4 && file.substr(file.size() - 4) == ".svg") {
      sheets.push_back(read(file));
    }
  }
  return sheets;
}

}  // namespace patterntest
