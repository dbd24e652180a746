// Packing pieces onto sheets: few sheets, nothing over a margin, no two pieces touching.
#include <cmath>
#include <limits>
#include <random>

#include "pattern_test_support.h"

namespace patterntest {
namespace {

PatternOptions pageOf(double width, double height, double margin = 10) {
  PatternOptions options;
  options.pageWidth = width;
  options.pageHeight = height;
  options.margin = margin;
  return options;
}

double area(const Piece& piece) {
  double sum = 0;
  for (const Triangle& t : piece.triangles) sum += cross(t.p[0], t.p[1], t.p[2]) / 2;
  return sum;
}

TEST(Packing, EmptyInputNeedsNoSheet) {
  const Packing packing = packPattern({}, PatternOptions{});
  EXPECT_EQ(packing.sheets, 0);
  EXPECT_TRUE(packing.positions.empty());
  EXPECT_TRUE(packing.warnings.empty());
}

TEST(Packing, ScalesThePieceToMillimetresInsideTheMargins) {
  PatternInput input;
  input.pieces = {square(1, 10)};
  PatternOptions options;
  options.scale = 2.5;
  const Packing packing = packPattern(input, options);
  ASSERT_EQ(packing.sheets, 1);
  expectSoundPacking(input, options, packing);
  const Bounds b = boundsOf(placedParts(input.pieces[0], packing.positions[0], options.scale));
  EXPECT_NEAR(b.maxX - b.minX, 25, 1e-9);
  EXPECT_NEAR(b.maxY - b.minY, 25, 1e-9);
  EXPECT_TRUE(packing.warnings.empty());
}

TEST(Packing, FillsEachSheetBeforeOpeningTheNext) {
  // 40 mm squares 2 mm apart: 4 across and 6 down the 190 x 277 mm printable area of A4.
  PatternInput input;
  for (int i = 0; i < 50; ++i) input.pieces.push_back(square(i + 1, 40));
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  EXPECT_EQ(packing.sheets, 3);
  expectSoundPacking(input, options, packing);
}

TEST(Packing, TurnsAPieceThatFitsOnlyAlongTheLongSide) {
  // 270 x 10 mm at 45 degrees: its box is 198 mm wide at every quarter turn, wider than 190.
  PatternInput input;
  input.pieces = {turned(rectangle(1, 270, 10), 45), strip(2, 9, 20, 15, 1)};
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  EXPECT_EQ(packing.sheets, 1);
  EXPECT_FALSE(packing.positions[0].oversize);
  EXPECT_TRUE(packing.warnings.empty());
  expectSoundPacking(input, options, packing);
}

TEST(Packing, PiecesPlacedByHandStandWhereTheyWerePutAndOnlyWhereTheyFit) {
  PatternInput input;
  for (int i = 0; i < 3; ++i) input.pieces.push_back(square(i + 1, 40));
  PatternOptions options;
  const Packing packed = packPattern(input, options);
  ASSERT_EQ(packed.sheets, 1);
  // Piece 1 on a new sheet, turned a quarter; the others and every number stay.
  Position hand{1, 1, std::acos(-1.0) / 2, {100, 100}};
  options.placed = {hand};
  const Packing placed = packPattern(input, options);
  EXPECT_EQ(placed.sheets, 2);
  EXPECT_EQ(placed.positions[1].sheet, 1);
  EXPECT_EQ(placed.positions[1].offset.x, 100);
  EXPECT_EQ(placed.numbers, packed.numbers);
  EXPECT_EQ(placed.positions[0].offset.x, packed.positions[0].offset.x);
  EXPECT_NEAR(placed.fill[0] + placed.fill[1], packed.fill[0], 1e-12) << "the sheets' fill follows the piece";

  // Where it may not stand: over another piece, off the printable area, over the legend.
  Position over = packed.positions[0];
  over.piece = 2;
  EXPECT_NE(placementProblem(input, options, packed, over).find("over piece"), std::string::npos);
  Position off = packed.positions[2];
  off.offset.x += 500;
  EXPECT_EQ(placementProblem(input, options, packed, off), "it would leave the printable area");
  ASSERT_GE(packed.legendSheet, 0);
  Position legend = packed.positions[2];
  legend.sheet = packed.legendSheet;
  legend.rotation = 0;
  legend.offset = {packed.legendMin.x, packed.legendMin.y};
  EXPECT_NE(placementProblem(input, options, packed, legend), "");
  Position free = packed.positions[2];
  free.sheet = 5;
  EXPECT_EQ(placementProblem(input, options, packed, free), "") << "a sheet of its own";
  free.rotation = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(placementProblem(input, options, packed, free), "its place is not a number");
}

TEST(Packing, NestsPiecesInsideTheHollowsOfOthers) {
  // Packed by their boxes, each pair needs two sheets: the second piece fits neither beside
  // nor below the first. Packed by their outlines, it fits inside the first.
  const PatternOptions options = pageOf(170, 200);
  PatternInput frame;
  frame.pieces = {ring(1, 140, 100), square(2, 60)};
  const Packing framed = packPattern(frame, options);
  EXPECT_EQ(framed.sheets, 1);
  expectSoundPacking(frame, options, framed);

  const PatternOptions wider = pageOf(185, 210);
  PatternInput ells;
  ells.pieces = {ell(1, 120, 40), ell(2, 120, 40)};
  const Packing nested = packPattern(ells, wider);
  EXPECT_EQ(nested.sheets, 1);
  expectSoundPacking(ells, wider, nested);
}

TEST(Packing, OversizePieceStandsAloneAndSaysHowToMakeItFit) {
  // 150 x 100 units at 2 mm a unit is 200 x 300 mm turned: too wide for A4's 190 mm.
  PatternInput input;
  input.pieces = {square(1, 10), rectangle(2, 150, 100), square(3, 10)};
  PatternOptions options;
  options.scale = 2;
  const Packing packing = packPattern(input, options);
  ASSERT_EQ(packing.sheets, 2);
  expectSoundPacking(input, options, packing);
  const Position& big = packing.positions[1];
  EXPECT_TRUE(big.oversize);
  EXPECT_FALSE(packing.positions[0].oversize);
  EXPECT_NE(big.sheet, packing.positions[0].sheet);
  EXPECT_EQ(packing.positions[0].sheet, packing.positions[2].sheet);

  const Bounds b = boundsOf(placedParts(input.pieces[1], big, options.scale));
  EXPECT_NEAR(b.minX, options.margin, 1e-9);
  EXPECT_NEAR(b.maxY, options.pageHeight - options.margin, 1e-9);
  EXPECT_NEAR(b.maxX - b.minX, 200, 1e-9);

  ASSERT_EQ(packing.warnings.size(), 1u);
  const std::string& warning = packing.warnings[0];
  EXPECT_NE(warning.find("piece 2 is 200.0 x 300.0 mm"), std::string::npos) << warning;
  EXPECT_NE(warning.find("190.0 x 277.0 mm"), std::string::npos) << warning;
  EXPECT_NE(warning.find("--scale 1.84"), std::string::npos) << warning;
  EXPECT_NE(warning.find("--page 220x320"), std::string::npos) << warning;
}

TEST(Packing, LegendTakesTheBottomLeftCornerOfTheFirstSheet) {
  PatternInput input;
  for (int i = 0; i < 30; ++i) input.pieces.push_back(square(i + 1, 30));
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  EXPECT_EQ(packing.legendSheet, 0);
  EXPECT_NEAR(packing.legendMin.x, options.margin, 1e-9);
  EXPECT_NEAR(packing.legendMin.y, options.margin, 0.5);
  EXPECT_GT(packing.legendMax.x - packing.legendMin.x, 10);
  EXPECT_GT(packing.legendMax.y - packing.legendMin.y, 10);
  expectSoundPacking(input, options, packing);
}

TEST(Packing, LegendGivesWayToAPieceThatNeedsAWholeSheet) {
  // 140 mm squares leave no room for the legend on a 150 mm printable area.
  const PatternOptions options = pageOf(160, 160, 5);
  PatternInput input;
  input.pieces = {square(1, 140), square(2, 20)};
  Packing packing = packPattern(input, options);
  EXPECT_EQ(packing.sheets, 2);
  EXPECT_EQ(packing.legendSheet, packing.positions[1].sheet);
  EXPECT_TRUE(packing.warnings.empty());
  expectSoundPacking(input, options, packing);

  input.pieces = {square(1, 140), square(2, 140)};
  packing = packPattern(input, options);
  EXPECT_EQ(packing.sheets, 2);
  EXPECT_EQ(packing.legendSheet, -1);
  ASSERT_EQ(packing.warnings.size(), 1u);
  EXPECT_NE(packing.warnings[0].find("legend"), std::string::npos);
  expectSoundPacking(input, options, packing);
}

TEST(Packing, PageTooSmallForTheLegendLeavesItOutWithAWarning) {
  PatternInput input;
  input.pieces = {square(1, 15)};
  const PatternOptions options = pageOf(40, 40, 5);
  const Packing packing = packPattern(input, options);
  EXPECT_EQ(packing.sheets, 1);
  expectSoundPacking(input, options, packing);
  ASSERT_EQ(packing.warnings.size(), 1u);
  EXPECT_NE(packing.warnings[0].find("legend"), std::string::npos);
}

TEST(Packing, ValuesThatCannotBeDrawnGiveAWarningInsteadOfAPacking) {
  PatternInput input;
  input.pieces = {square(1, 10)};
  input.pieces[0].triangles[0].p[1].x = std::nan("");
  EXPECT_EQ(packPattern(input, PatternOptions{}).warnings.size(), 1u);
  input.pieces = {square(1, 10)};
  EXPECT_EQ(packPattern(input, pageOf(100, 100, 50)).warnings.size(), 1u);
  EXPECT_EQ(packPattern(input, pageOf(100, std::numeric_limits<double>::infinity())).warnings.size(), 1u);
}

PatternInput mixedPieces(int count, unsigned seed) {
  std::mt19937 random(seed);
  auto between = [&](double low, double high) { return low + (high - low) * (random() / 4294967296.0); };
  PatternInput input;
  for (int i = 0; i < count; ++i) {
    const int number = i + 1;
    Piece piece;
    switch (i % 5) {
      case 0: piece = square(number, between(8, 40), 1); break;
      case 1: piece = rightTriangle(number, between(10, 50)); break;
      case 2: piece = strip(number, 3 + i % 6, between(10, 20), between(8, 15), 1); break;
      case 3: piece = ell(number, between(30, 60), between(8, 20)); break;
      default: {
        const double outer = between(40, 80);
        piece = ring(number, outer, outer - between(16, 30));
      }
    }
    if (i % 3 == 0) piece.tabs.push_back(tabOn(piece.edges[0].a, piece.edges[0].b, 1));
    input.pieces.push_back(turned(piece, between(0, 360)));
  }
  return input;
}

TEST(Packing, HundredsOfMixedPiecesPackDenselyAndSoundly) {
  const PatternInput input = mixedPieces(300, 7);
  const PatternOptions options;
  const Packing packing = packPattern(input, options);
  expectSoundPacking(input, options, packing);
  EXPECT_TRUE(packing.warnings.empty());
  double covered = 0;
  for (const Piece& piece : input.pieces) covered += area(piece);
  const double printable = (options.pageWidth - 2 * options.margin) * (options.pageHeight - 2 * options.margin);
  EXPECT_GT(covered / (packing.sheets * printable), 0.5) << packing.sheets << " sheets";
}

TEST(Packing, SameInputGivesTheSamePacking) {
  const PatternInput input = mixedPieces(60, 3);
  const PatternOptions options;
  const Packing first = packPattern(input, options), second = packPattern(input, options);
  ASSERT_EQ(first.sheets, second.sheets);
  ASSERT_EQ(first.positions.size(), second.positions.size());
  for (size_t i = 0; i < first.positions.size(); ++i) {
    EXPECT_EQ(first.positions[i].sheet, second.positions[i].sheet);
    EXPECT_EQ(first.positions[i].rotation, second.positions[i].rotation);
    EXPECT_EQ(first.positions[i].offset.x, second.positions[i].offset.x);
    EXPECT_EQ(first.positions[i].offset.y, second.positions[i].offset.y);
  }
}

}  // namespace
}  // namespace patterntest
