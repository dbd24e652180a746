// What a builder reads off the sheets: which piece each edge joins, labels that stay in their
// own triangle or tab and clear of each other, numbers in reading order, a title on every
// sheet, the overview, and sheets used well. Read back from the files the pattern writes.
#include <stdio.h>

#include <cctype>
#include <map>
#include <set>
#include <regex>
#include <sstream>

#include "pattern/drawing.h"
#include "pattern/font.h"
#include "pattern/labels.h"
#include "pattern/seams.h"
#include "pattern/sheet.h"
#include "partner_check.h"
#include "pattern_test_support.h"

namespace patterntest {
namespace {

bool isNumber(const std::string& text) { return std::regex_match(text, std::regex("[0-9]+")); }

/// The sheet of every piece (input order).
std::vector<int> sheetsOf(const Packing& packing) {
  std::vector<int> sheets(packing.positions.size());
  for (const Position& p : packing.positions) sheets[p.piece] = p.sheet;
  return sheets;
}

/// Checks the labels printed on every sheet against the input: each label leads to its edge's
/// partner. Returns the number of labels.
int expectLabelsNamePartners(const PatternInput& input, const PatternReport& report, const PatternOptions& options) {
  const PartnerTally tally = expectEveryLabelLeadsToItsPartner(input, report.packing, options, sheetSvgs(report), "pattern");
  EXPECT_EQ(tally.found, tally.copies);
  return tally.labels;
}

/// How many labels the pieces carry.
int labelCount(const PatternInput& input, const Packing& packing) {
  int count = 0;
  for (const auto& texts : detail::seamLabels(input, packing.numbers, sheetsOf(packing)).texts) {
    for (const std::string& text : texts) count += text.empty() ? 0 : 1;
  }
  return count;
}

/// Whether two convex quadrilaterals overlap by more than a hair.
bool boxesOverlap(const std::array<Point2, 4>& a, const std::array<Point2, 4>& b) {
  const std::vector<Point2> p(a.begin(), a.end()), q(b.begin(), b.end());
  for (const auto* poly : {&p, &q}) {
    for (size_t k = 0; k < 4; ++k) {
      const Point2 e{(*poly)[(k + 1) % 4].x - (*poly)[k].x, (*poly)[(k + 1) % 4].y - (*poly)[k].y};
      const Point2 axis{-e.y, e.x};
      const double length = std::hypot(axis.x, axis.y);
      double pLo = INFINITY, pHi = -INFINITY, qLo = INFINITY, qHi = -INFINITY;
      for (const Point2& v : p) {
        pLo = std::min(pLo, (v.x * axis.x + v.y * axis.y) / length);
        pHi = std::max(pHi, (v.x * axis.x + v.y * axis.y) / length);
      }
      for (const Point2& v : q) {
        qLo = std::min(qLo, (v.x * axis.x + v.y * axis.y) / length);
        qHi = std::max(qHi, (v.x * axis.x + v.y * axis.y) / length);
      }
      if (pHi <= qLo + 1e-3 || qHi <= pLo + 1e-3) return false;
    }
  }
  return true;
}

bool insideWithSlack(Point2 p, const std::vector<Point2>& polygon) {
  if (insideConvex(p, polygon)) return true;
  for (size_t k = 0; k < polygon.size(); ++k) {
    if (segmentDistance(p, polygon[k], polygon[(k + 1) % polygon.size()]) < 1e-3) return true;
  }
  return false;
}

bool writeAll(const PatternInput& input, const PatternOptions& options, const std::vector<std::string>& paths,
              PatternReport* report) {
  std::string error;
  const bool ok = writePattern(input, options, packPattern(input, options), paths, report, &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

/// Two 3 x 3 grids of 30 mm squares glued along all 12 border edges (the same labels on both),
/// and two squares that share just one edge.
PatternInput gluedGrids() {
  PatternInput input;
  input.pieces = {grid(1, 3, 30, 1), grid(2, 3, 30, 1), square(3, 40), square(4, 40)};
  input.pieces[2].edges[1].label = 50;
  input.pieces[3].edges[3].label = 50;
  return input;
}

TEST(Builder, EveryCopyOfEveryCutEdgeCarriesTheEdgesNumber) {
  const PatternInput input = gluedGrids();
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(input, PatternOptions{}, {dir.file("g.svg")}, &report));
  EXPECT_EQ(expectLabelsNamePartners(input, report, PatternOptions{}), 26) << "both copies of 13 edges";
  // The 13 edges glued are numbered 1 to 13, each number printed twice.
  std::map<std::string, int> seen;
  for (const std::string& file : report.files) {
    for (const SvgText& t : svgTexts(read(file), PatternOptions{}.pageHeight)) seen[t.text] += t.label ? 1 : 0;
  }
  for (int n = 1; n <= 13; ++n) EXPECT_EQ(seen[std::to_string(n)], 2) << n;
  EXPECT_EQ(seen["14"], 0);
}

/// Four rectangles: A joins B along two seams with C's edge between them (A's left side and
/// B's right and left sides are open), and D is glued to itself, bottom to top.
PatternInput seamed() {
  PatternInput input;
  input.pieces = {rectangle(1, 40, 30, 1), rectangle(2, 40, 30, 1), square(3, 30), square(4, 30)};
  input.pieces[0].edges[3].label = 0;
  input.pieces[1].edges[1].label = 0;
  input.pieces[1].edges[3].label = 0;
  input.pieces[2].edges[0].label = 2;
  input.pieces[3].edges[0].label = 7;
  input.pieces[3].edges[2].label = 7;
  return input;
}

TEST(Builder, EdgesAreNumberedPieceByPieceAndSeamEndsTicked) {
  const PatternInput input = seamed();
  for (const std::vector<int>& numbers : {std::vector<int>{1, 2, 3, 4}, std::vector<int>{12, 5, 31, 7}}) {
    const detail::EdgeLabels labels = detail::seamLabels(input, numbers, {0, 0, 0, 0});
    // Numbered in printed order, each piece around its outline; both copies alike. Where B
    // comes first, its two edges get 1 and 2, D's seam within itself 3, A's edge to C 4.
    if (numbers[0] == 1) {
      EXPECT_EQ(labels.texts[0], (std::vector<std::string>{"1", "2", "3", "", ""}));
      EXPECT_EQ(labels.texts[1], (std::vector<std::string>{"1", "", "3", "", ""}));
      EXPECT_EQ(labels.texts[2], (std::vector<std::string>{"2", "", "", "", ""}));
      EXPECT_EQ(labels.texts[3], (std::vector<std::string>{"4", "", "4", "", ""})) << "a seam within one piece";
      EXPECT_EQ(labels.ranges[0].first, 1);
      EXPECT_EQ(labels.ranges[0].last, 3);
      EXPECT_EQ(labels.ranges[1].first, 0) << "B starts no number: all its edges lead back to A";
      EXPECT_EQ(labels.notes[0], "edges 1\u20133");
      EXPECT_EQ(labels.notes[3], "edge 4");
    } else {
      EXPECT_EQ(labels.texts[0], (std::vector<std::string>{"1", "4", "2", "", ""}));
      EXPECT_EQ(labels.texts[1], (std::vector<std::string>{"1", "", "2", "", ""}));
      EXPECT_EQ(labels.texts[2], (std::vector<std::string>{"4", "", "", "", ""}));
      EXPECT_EQ(labels.texts[3], (std::vector<std::string>{"3", "", "3", "", ""}));
    }
    // A seam's ends: where A's run of cut edges starts and stops and where its partner changes;
    // each single-edge seam of B and D at both its ends. Ticks point into their piece.
    const std::vector<std::vector<Point2>> corners = {
        {{0, 0}, {40, 0}, {40, 30}, {0, 30}}, {{0, 0}, {40, 0}, {40, 30}, {0, 30}}, {{0, 0}, {30, 0}}, {{0, 0}, {30, 0}, {30, 30}, {0, 30}}};
    for (size_t i = 0; i < 4; ++i) {
      std::vector<std::pair<double, double>> at;
      for (const detail::Tick& t : labels.ticks[i]) {
        at.push_back({t.at.x, t.at.y});
        const Point2 in{t.at.x + 0.1 * t.inward.x, t.at.y + 0.1 * t.inward.y};
        EXPECT_TRUE(insideConvex(in, corners[i].size() == 4 ? corners[i] : corners[3])) << "piece " << i << " at " << t.at.x << "," << t.at.y;
        EXPECT_GT(t.reach, 0);
      }
      std::vector<std::pair<double, double>> want;
      for (const Point2& p : corners[i]) want.push_back({p.x, p.y});
      std::sort(at.begin(), at.end());
      std::sort(want.begin(), want.end());
      EXPECT_EQ(at, want) << "piece " << i;
    }
  }
  // A loop that is one seam all round is ticked once on each side.
  const PatternInput grids = gluedGrids();
  const detail::EdgeLabels loop = detail::seamLabels(grids, {1, 2, 3, 4}, {0, 0, 0, 0});
  EXPECT_EQ(loop.ticks[0].size(), 1u);
  EXPECT_EQ(loop.ticks[1].size(), 1u);
  // Its 12 edges each carry a number, the same on both sides.
  int named = 0;
  for (size_t e = 0; e < loop.texts[0].size(); ++e) {
    EXPECT_EQ(loop.texts[0][e], loop.texts[1][e]) << e;
    named += loop.texts[0][e].empty() ? 0 : 1;
  }
  EXPECT_EQ(named, 12);
}

TEST(Builder, EdgeNumbersStayShortAndNotesNameTheOtherSheets) {
  PatternInput input;
  // Two strips that keep every other bottom edge glued to each other and leave the rest open:
  // they meet along 30 separate one-edge seams.
  input.pieces = {strip(1, 119, 2, 4, 1), strip(2, 119, 2, 4, 1)};
  for (Piece& piece : input.pieces) {
    for (Edge& e : piece.edges) {
      if (e.kind == EdgeKind::Cut && (e.label > 119 || (e.label - 1) % 4 != 0)) e.label = 0;
    }
  }
  const detail::EdgeLabels labels = detail::seamLabels(input, {1, 2}, {0, 1});
  std::set<std::string> first, second;
  for (const std::string& text : labels.texts[0]) {
    if (!text.empty()) first.insert(text);
  }
  for (const std::string& text : labels.texts[1]) {
    if (!text.empty()) second.insert(text);
  }
  EXPECT_EQ(first.size(), 30u);
  EXPECT_EQ(first, second) << "the same number on both copies";
  for (int n = 1; n <= 30; ++n) EXPECT_TRUE(first.count(std::to_string(n))) << n;
  // Piece 1 starts them all; each piece's note names the other's sheet.
  EXPECT_EQ(labels.notes[0], "edges 1\u201330 \u00B7 sheet 2");
  EXPECT_EQ(labels.notes[1], "sheet 1");
  // On one sheet there is nothing to name but the range.
  EXPECT_EQ(detail::seamLabels(input, {2, 1}, {0, 0}).notes[1], "edges 1\u201330");
}

TEST(Builder, ThePdfCarriesTheSameLabelsAndTitlesAsText) {
#ifndef FOLDRA_PDFTOTEXT
  GTEST_SKIP() << "pdftotext is needed to read the text of a PDF";
#else
  TempDir dir;
  PatternReport report;
  PatternOptions options;
  options.title = "grids";
  ASSERT_TRUE(writeAll(seamed(), options, {dir.file("g.pdf")}, &report));
  FILE* pipe = popen((std::string(FOLDRA_PDFTOTEXT) + " -q '" + dir.file("g.pdf") + "' -").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  pclose(pipe);
  std::map<std::string, int> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) ++words[word];
  // Edges 1 to 4 each on both copies (the pieces' numbers are words of their own too).
  for (int n = 1; n <= 4; ++n) EXPECT_GE(words[std::to_string(n)], 2) << n << "\n" << text;
  EXPECT_EQ(words["5"], 0) << text;
  EXPECT_NE(text.find("sheet 1 of " + std::to_string(report.packing.sheets)), std::string::npos) << text;
  EXPECT_EQ(words["grids"], report.packing.sheets) << "the name in every sheet's title";
#endif
}

TEST(Builder, LabelBoxesStayInTheirTriangleOrTabAndClearOfEachOther) {
  // Roomy grids, a strip of narrow triangles and a tiny square: labels beside their edges, on
  // tabs, on neighbours and, where nothing else fits, smaller.
  PatternInput input;
  input.pieces = {grid(1, 3, 30, 1), grid(2, 3, 30, 1), strip(3, 12, 8, 14, 20), strip(4, 12, 8, 14, 20)};
  for (int k = 0; k < 5; ++k) {
    const Edge& e = input.pieces[2].edges[2 * k];
    input.pieces[2].tabs.push_back(tabOn(e.a, e.b, e.label, 4));
  }
  const PatternOptions options;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(input, options, {dir.file("l.svg")}, &report));
  int labels = 0;
  for (int sheet = 0; sheet < report.packing.sheets; ++sheet) {
    std::vector<std::vector<Point2>> parts;
    for (size_t i = 0; i < input.pieces.size(); ++i) {
      if (report.packing.positions[i].sheet != sheet) continue;
      for (auto& part : placedParts(input.pieces[i], report.packing.positions[i], options.scale)) parts.push_back(part);
    }
    std::vector<SvgText> numbers;
    for (const SvgText& t : svgTexts(read(report.files[sheet]), options.pageHeight)) {
      if (isNumber(t.text)) numbers.push_back(t);
    }
    for (size_t i = 0; i < numbers.size(); ++i) {
      for (size_t j = i + 1; j < numbers.size(); ++j) {
        EXPECT_FALSE(boxesOverlap(numbers[i].box, numbers[j].box)) << numbers[i].text << " and " << numbers[j].text;
      }
      if (!numbers[i].label) continue;  // a piece's number
      ++labels;
      const bool inside = std::any_of(parts.begin(), parts.end(), [&](const std::vector<Point2>& part) {
        return std::all_of(numbers[i].box.begin(), numbers[i].box.end(), [&](Point2 p) { return insideWithSlack(p, part); });
      });
      EXPECT_TRUE(inside) << "label " << numbers[i].text << " leaves its triangle or tab";
    }
  }
  EXPECT_EQ(labels, labelCount(input, report.packing)) << "every seam's labels";
  EXPECT_EQ(expectLabelsNamePartners(input, report, options), labels);
  EXPECT_TRUE(report.warnings.empty()) << "all fit without shrinking: " << report.warnings[0];
}

TEST(Builder, LabelsHaveTheirSizeWhereTheyFitAndShrinkWithAWarningWhereNot) {
  const double digits = detail::Font::get().digitHeight();
  for (const double size : {2.0, 3.0}) {
    PatternOptions options;
    options.labelSize = size;
    TempDir dir;
    PatternReport report;
    ASSERT_TRUE(writeAll(gluedGrids(), options, {dir.file("g.svg")}, &report));
    EXPECT_TRUE(report.warnings.empty()) << report.warnings[0];
    for (const std::string& file : report.files) {
      for (const SvgText& t : svgTexts(read(file), options.pageHeight)) {
        if (t.label) {
          EXPECT_NEAR(t.size * digits, size, 1e-3) << t.text;
        }
      }
    }
  }
  // The same grids at a tenth of the size: 3 mm squares have no room for 2 mm labels.
  PatternOptions tiny;
  tiny.scale = 0.1;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(gluedGrids(), tiny, {dir.file("g.svg")}, &report));
  std::map<std::string, int> seen;
  for (const SvgText& t : svgTexts(read(report.files[0]), tiny.pageHeight)) seen[t.text] += t.label ? 0 : 1;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(seen[std::to_string(report.packing.numbers[i])], 1) << "piece " << i + 1 << " numbered once";
  }
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("did not fit at 2 mm"), std::string::npos) << report.warnings[0];
}

TEST(Builder, NumbersThatReadOtherwiseUpsideDownAreUnderlined) {
  // Seam letters alone turn into one another too (b and q, d and p); after a number they read
  // as nothing: a label never starts with a letter.
  for (const char* text : {"6", "9", "66", "99", "16", "91", "18", "b", "q", "d", "u", "w", "bd", "zs"}) {
    EXPECT_TRUE(detail::readsOtherWayUp(text)) << text;
  }
  for (const char* text : {"1", "8", "69", "88", "101", "12", "7", "10", "", "a", "s", "pd", "6b", "18b"}) {
    EXPECT_FALSE(detail::readsOtherWayUp(text)) << text;
  }
}

// A builder takes a label for the nearest cut edge it runs along: a label beside its edge reads
// as that edge's only where no other edge that runs the same way (the next piece's across a
// narrow gap) is as near; an edge at an angle, or its own edge listed again, does not count.
TEST(Builder, ALabelReadsAsItsOwnEdgesOnlyWhereNoParallelEdgeIsNearer) {
  const auto boxAt = [](double y0, double y1) { return detail::TextBox{{Point2{1, y0}, {3, y0}, {3, y1}, {1, y1}}}; };
  detail::CutEdges cuts({0, 0}, {210, 297});
  cuts.add({0, 0}, {4, 0});
  cuts.add({0, 0}, {4, 0});
  cuts.add({0, 0}, {0, 3});  // at a right angle: never mistaken for the label's edge
  EXPECT_TRUE(cuts.readsAsOwn(boxAt(0.3, 1.3), {0, 0}, {4, 0}));
  cuts.add({0, 2}, {4, 2.01});  // the next piece's edge, 2 mm off and almost parallel
  EXPECT_TRUE(cuts.readsAsOwn(boxAt(0.3, 1.0), {0, 0}, {4, 0})) << "0.65 mm from its own edge, 1.35 mm from the other";
  EXPECT_FALSE(cuts.readsAsOwn(boxAt(0.5, 1.5), {0, 0}, {4, 0})) << "halfway between the two reads as either";
  EXPECT_FALSE(cuts.readsAsOwn(boxAt(1.0, 1.8), {0, 0}, {4, 0})) << "nearer to the other edge";
  EXPECT_TRUE(cuts.readsAsOwn(boxAt(1.0, 1.8), {0, 2}, {4, 2.01})) << "which it then names";
  // A piece far larger than the page: its edge is filed where it crosses the page, at the cost
  // of that stretch alone.
  cuts.add({-1e9, 3}, {1e9, 3});
  EXPECT_FALSE(cuts.readsAsOwn(boxAt(2.5, 2.9), {0, 2}, {4, 2.01})) << "the long edge 0.3 mm off is nearer";
}

// A piece's labels are placed again in another order when that leaves fewer of them to shrink:
// what was taken back frees its room, across the cells it spanned, and what stood before stays.
TEST(Builder, TextBoxesTakenBackFreeTheirRoomAndKeepTheOthers) {
  const auto box = [](double x0, double y0, double x1, double y1) {
    return detail::TextBox{{Point2{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}};
  };
  detail::Occupancy occupied;
  occupied.add(box(0, 0, 2, 1));
  const size_t kept = occupied.size();
  occupied.add(box(1, 0.5, 30, 20));  // spans many cells, over the first
  occupied.add(box(40, 40, 41, 41));
  EXPECT_FALSE(occupied.free(box(20, 10, 21, 11)));
  EXPECT_TRUE(occupied.crosses({25, -5}, {25, 25}));
  EXPECT_FALSE(occupied.crosses({35, 5}, {35, 15}));
  occupied.truncate(kept);
  EXPECT_EQ(occupied.size(), kept);
  EXPECT_TRUE(occupied.free(box(20, 10, 21, 11)));
  EXPECT_TRUE(occupied.free(box(40, 40, 41, 41)));
  EXPECT_FALSE(occupied.crosses({25, -5}, {25, 25}));
  EXPECT_FALSE(occupied.free(box(1.5, 0.2, 1.8, 0.4))) << "the box placed before stays";
  // Placed again after the take-back, a box is found as before.
  occupied.add(box(1, 0.5, 30, 20));
  EXPECT_FALSE(occupied.free(box(20, 10, 21, 11)));
}

// The paper beside the pieces is asked two ways: is a box bare (a label may stand there), and
// is all of a box covered (no label anywhere within it needs to be tried). Both must agree on
// the cells, at the area's border too.
TEST(Builder, PaperCoveredEverywhereInABoxLeavesNoBareBoxWithinIt) {
  detail::Paper paper({10, 10}, {60, 40});
  paper.cover({{20, 15}, {50, 15}, {50, 35}, {20, 35}});
  EXPECT_TRUE(paper.covered({25, 20}, {45, 30}));
  EXPECT_FALSE(paper.bare({25, 20}, {30, 25}));
  EXPECT_FALSE(paper.covered({15, 20}, {45, 30})) << "reaches the bare paper left of the piece";
  EXPECT_TRUE(paper.bare({12, 20}, {16, 25}));
  // Past the printable area nothing is bare, and a box that leaves the area is covered where
  // its part within the area is.
  paper.cover({10, 10}, {60, 40});
  EXPECT_TRUE(paper.covered({0, 0}, {70, 50}));
  EXPECT_FALSE(paper.bare({5, 20}, {12, 25}));
  for (double x = 10; x < 58; x += 0.7) EXPECT_FALSE(paper.bare({x, 20}, {x + 2, 22})) << x;
}

TEST(Builder, PiecesAreNumberedInReadingOrderAcrossTheSheets) {
  PatternInput input;
  for (int i = 0; i < 40; ++i) input.pieces.push_back(square(i + 1, 20 + (i * 7) % 30));
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  ASSERT_GE(packing.sheets, 2);
  std::vector<int> byNumber(input.pieces.size());
  std::vector<int> sorted = packing.numbers;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], static_cast<int>(i) + 1) << "numbers 1..n";
  for (size_t i = 0; i < input.pieces.size(); ++i) byNumber[packing.numbers[i] - 1] = static_cast<int>(i);
  for (size_t k = 1; k < byNumber.size(); ++k) {
    const Position& a = packing.positions[byNumber[k - 1]];
    const Position& b = packing.positions[byNumber[k]];
    EXPECT_LE(a.sheet, b.sheet) << "number " << k + 1;
  }
}

TEST(Builder, EverySheetHasItsTitleAndTheLegendGivesTheScale) {
  PatternInput input;
  for (int i = 0; i < 12; ++i) input.pieces.push_back(square(i + 1, 80));
  PatternOptions options;
  options.title = "crate";
  options.scale = 1.25;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(input, options, {dir.file("c.svg")}, &report));
  ASSERT_GE(report.packing.sheets, 2);
  std::vector<int> first(report.packing.sheets, 1 << 30), last(report.packing.sheets, 0);
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    const int sheet = report.packing.positions[i].sheet;
    first[sheet] = std::min(first[sheet], report.packing.numbers[i]);
    last[sheet] = std::max(last[sheet], report.packing.numbers[i]);
  }
  std::string legend;
  for (int sheet = 0; sheet < report.packing.sheets; ++sheet) {
    const std::string svg = read(report.files[sheet]);
    const std::string title = "crate  \u00B7  sheet " + std::to_string(sheet + 1) + " of " + std::to_string(report.packing.sheets) +
                              "  \u00B7  pieces " + std::to_string(first[sheet]) + "\u2013" + std::to_string(last[sheet]);
    EXPECT_NE(svg.find(title), std::string::npos) << title;
    if (sheet == report.packing.legendSheet) legend = svg;
  }
  EXPECT_NE(legend.find("1 model unit = 1.25 mm"), std::string::npos);
  EXPECT_NE(legend.find("1:800 for a model in metres"), std::string::npos);
}

/// A tetrahedron's four faces as four one-triangle pieces, with their corners in space.
PatternInput tetrahedron() {
  const Point3 corners[4] = {{0, 0, 0}, {60, 0, 0}, {0, 60, 0}, {0, 0, 60}};
  const int faces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  PatternInput input;
  for (int f = 0; f < 4; ++f) {
    Piece piece = rightTriangle(f + 1, 60);
    for (int k = 0; k < 3; ++k) piece.triangles[0].space[k] = corners[faces[f][k]];
    input.pieces.push_back(piece);
  }
  return input;
}

TEST(Builder, TheOverviewComesFirstInThePdfAndAsAFileOfItsOwn) {
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(tetrahedron(), PatternOptions{}, {dir.file("t.pdf"), dir.file("t.svg"), dir.file("t.png")}, &report));
  const int sheets = report.packing.sheets;
  const std::vector<std::string> expected{dir.file("t.pdf"), dir.file("t-overview.svg"), dir.file("t-1.svg"),
                                          dir.file("t-overview.png"), dir.file("t-1.png")};
  ASSERT_EQ(sheets, 1);
  EXPECT_EQ(report.files, expected);
  const std::string pdf = read(dir.file("t.pdf"));
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = pdf.find(what); at != std::string::npos; at = pdf.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("/Type /Page") - count("/Type /Pages"), 2u) << "the overview and the sheet";
  // Every piece shows its number in some view.
  std::map<std::string, int> numbers;
  for (const SvgText& t : svgTexts(read(dir.file("t-overview.svg")), 297)) ++numbers[t.text];
  for (int n = 1; n <= 4; ++n) EXPECT_GE(numbers[std::to_string(n)], 1) << "piece " << n;

  // Left out on request, and where the pieces carry no corners in space.
  PatternOptions without;
  without.overview = false;
  TempDir other;
  ASSERT_TRUE(writeAll(tetrahedron(), without, {other.file("t.svg")}, &report));
  EXPECT_EQ(report.files, std::vector<std::string>{other.file("t-1.svg")});
  PatternInput flat = tetrahedron();
  for (Piece& p : flat.pieces) p.triangles[0].space = {};
  TempDir third;
  ASSERT_TRUE(writeAll(flat, PatternOptions{}, {third.file("t.svg")}, &report));
  EXPECT_EQ(report.files, std::vector<std::string>{third.file("t-1.svg")});
}

TEST(Builder, TheOverviewListsThePiecesThatNoViewShows) {
  // A small triangle deep inside the tetrahedron: hidden from every side.
  PatternInput input = tetrahedron();
  Piece inner = rightTriangle(5, 3);
  inner.triangles[0].space = {Point3{8, 8, 8}, Point3{11, 8, 8}, Point3{8, 11, 8}};
  input.pieces.push_back(inner);
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(writeAll(input, PatternOptions{}, {dir.file("t.svg")}, &report));
  const std::string overview = read(dir.file("t-overview.svg"));
  const int hidden = report.packing.numbers[4];
  EXPECT_NE(overview.find("not seen in these views: piece " + std::to_string(hidden) + "<"), std::string::npos);
  // The four faces show in the views and are not listed.
  std::map<std::string, int> numbers;
  for (const SvgText& t : svgTexts(overview, 297)) ++numbers[t.text];
  for (int i = 0; i < 4; ++i) EXPECT_GE(numbers[std::to_string(report.packing.numbers[i])], 1);
  EXPECT_EQ(numbers[std::to_string(hidden)], 0);
}

TEST(Builder, SheetsButTheLastAreMoreThanHalfFullWherePiecesAllow) {
  PatternInput input;
  for (int i = 0; i < 70; ++i) input.pieces.push_back(i % 3 ? square(i + 1, 35) : rectangle(i + 1, 60, 25));
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  ASSERT_GE(packing.sheets, 2);
  ASSERT_EQ(packing.fill.size(), static_cast<size_t>(packing.sheets));
  double total = 0;
  for (const Piece& p : input.pieces) {
    for (const Triangle& t : p.triangles) total += std::abs(cross(t.p[0], t.p[1], t.p[2])) / 2;
  }
  const double printable = (options.pageWidth - 2 * options.margin) * (options.pageHeight - 2 * options.margin);
  double sum = 0;
  for (int sheet = 0; sheet < packing.sheets; ++sheet) {
    sum += packing.fill[sheet];
    if (sheet + 1 < packing.sheets) {
      EXPECT_GT(packing.fill[sheet], 0.5) << "sheet " << sheet + 1;
    }
  }
  EXPECT_NEAR(sum, total / printable, 1e-9);
  EXPECT_LE(packing.sheets, static_cast<int>(std::ceil(total / printable / 0.7)));
  expectSoundPacking(input, options, packing);
}

}  // namespace
}  // namespace patterntest
