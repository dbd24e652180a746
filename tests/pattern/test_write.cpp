// Writing the sheets: files and page sizes per format, what is drawn on them, textures,
// reproducible bytes and clean failures.
#include <stdio.h>
#include <time.h>

#include <array>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pattern_test_support.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace patterntest {
namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

/// Every piece of `text` that follows `open` up to the next `close`.
std::vector<std::string> between(const std::string& text, const std::string& open, const std::string& close) {
  std::vector<std::string> found;
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    at += open.size();
    const size_t end = text.find(close, at);
    if (end == std::string::npos) break;
    found.push_back(text.substr(at, end - at));
  }
  return found;
}

double number(const std::string& text, const std::string& open, const std::string& close) {
  const std::vector<std::string> found = between(text, open, close);
  return found.empty() ? std::nan("") : std::stod(found[0]);
}

bool write(const PatternInput& input, const PatternOptions& options, const std::string& path,
           PatternReport* report = nullptr) {
  std::string error;
  PatternReport ignored;
  const bool ok = writePattern(input, options, path, report ? report : &ignored, &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

/// Three squares that cannot share a 160 x 160 mm page with a 5 mm margin.
PatternInput threeBigSquares() {
  PatternInput input;
  for (int i = 1; i <= 3; ++i) input.pieces.push_back(square(i, 140, 10 * i));
  return input;
}

PatternOptions smallPage() {
  PatternOptions options;
  options.pageWidth = 160;
  options.pageHeight = 160;
  options.margin = 5;
  options.dpi = 100;
  return options;
}

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  /// The colour of a pixel; -1s off the image.
  std::array<int, 3> at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
    const unsigned char* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
    return {p[0], p[1], p[2]};
  }
};

Image readPng(const std::string& path) {
  Image image;
  int channels = 0;
  unsigned char* data = stbi_load(path.c_str(), &image.width, &image.height, &channels, 3);
  if (!data) throw std::runtime_error(path + ": not a PNG");
  image.rgb.assign(data, data + 3 * static_cast<size_t>(image.width) * image.height);
  stbi_image_free(data);
  return image;
}

/// The colour printed at point p of a piece, on a PNG sheet.
std::array<int, 3> colourAt(const Image& image, const PatternOptions& options, const Position& at, Point2 p) {
  const Point2 s = sheetPoint(at, options.scale, p);
  const double perMm = options.dpi / 25.4;
  return image.at(static_cast<int>(s.x * perMm), static_cast<int>((options.pageHeight - s.y) * perMm));
}

void expectColour(std::array<int, 3> actual, std::array<int, 3> expected, const char* where) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(actual[k], expected[k], 3) << where << ", channel " << k;
}

const std::array<int, 3> kWhite{255, 255, 255};

/// Counts the lines of an SVG sheet by their dash pattern ("" for solid lines): every part of a
/// stroked path, leaving out the white halo under folds.
std::map<std::string, int> strokesByDashes(const std::string& svg) {
  std::map<std::string, int> counts;
  for (const std::string& path : between(svg, "<path fill=\"none\"", "/>")) {
    if (path.find("stroke=\"#ffffff\"") != std::string::npos) continue;
    const std::vector<std::string> dashes = between(path, "stroke-dasharray=\"", "\"");
    const std::string d = between(path, " d=\"", "\"")[0];
    counts[dashes.empty() ? "" : dashes[0]] += static_cast<int>(std::count(d.begin(), d.end(), 'M'));
  }
  return counts;
}

TEST(WritePattern, PdfHasOnePagePerSheetAtThePageSize) {
  TempDir dir;
  const PatternOptions options = smallPage();
  PatternReport report;
  ASSERT_TRUE(write(threeBigSquares(), options, dir.file("model.pdf"), &report));
  EXPECT_EQ(report.packing.sheets, 3);
  EXPECT_EQ(report.files, std::vector<std::string>{dir.file("model.pdf")});
  EXPECT_EQ(dir.names(), std::vector<std::string>{"model.pdf"});

  const std::string pdf = read(dir.file("model.pdf"));
  EXPECT_EQ(between(pdf, "/Type /Page", "\n").size() - between(pdf, "/Type /Pages", "\n").size(), 3u);
  // The page tree gives every page its size.
  const std::vector<std::string> boxes = between(pdf, "/MediaBox [ 0 0 ", "]");
  EXPECT_GE(boxes.size(), 1u);
  for (const std::string& box : boxes) {
    double width = 0, height = 0;
    std::istringstream(box) >> width >> height;
    EXPECT_NEAR(width, 160 * kPointsPerMm, 1e-3);
    EXPECT_NEAR(height, 160 * kPointsPerMm, 1e-3);
  }
}

TEST(WritePattern, TellsHowFarTheDrawingAndEachFormatHaveComeAndWritesTheSameBytes) {
  TempDir dir;
  PatternOptions options = smallPage();
  ASSERT_TRUE(write(threeBigSquares(), options, dir.file("plain.pdf"), nullptr));
  std::vector<std::pair<std::string, int>> told;
  options.progress = [&](const std::string& stage, int percent) { told.emplace_back(stage, percent); };
  ASSERT_TRUE(write(threeBigSquares(), options, dir.file("told.pdf"), nullptr));
  EXPECT_EQ(read(dir.file("told.pdf")), read(dir.file("plain.pdf"))) << "being told changes nothing";
  // Three sheets drawn and three pages written, each stage rising.
  std::map<std::string, std::vector<int>> byStage;
  for (const auto& [stage, percent] : told) byStage[stage].push_back(percent);
  EXPECT_EQ(byStage["Drawing the sheets"], (std::vector<int>{0, 33, 66}));
  EXPECT_EQ(byStage["Writing the PDF"], (std::vector<int>{0, 33, 66}));
}

// A viewer draws the pages once and writes them in several formats and at several sizes: each
// file is the one writePattern makes alone.
TEST(WritePattern, PagesDrawnOnceWriteTheSameFilesInEveryFormatAndResolution) {
  TempDir dir;
  const PatternInput input = threeBigSquares();
  PatternOptions options = smallPage();
  const Packing packing = packPattern(input, options);
  DrawnPattern drawn;
  ASSERT_TRUE(drawPattern(input, options, packing, &drawn, nullptr));
  PatternReport report;
  ASSERT_TRUE(writeDrawn(drawn, options, {dir.file("once.pdf")}, &report, nullptr));
  EXPECT_EQ(report.files, (std::vector<std::string>{dir.file("once.pdf")}));
  PatternOptions small = options;
  small.dpi = 45;
  ASSERT_TRUE(writeDrawn(drawn, small, {dir.file("once.png")}, nullptr, nullptr));
  ASSERT_TRUE(writeDrawn(drawn, options, {dir.file("again.png")}, nullptr, nullptr));
  ASSERT_TRUE(writePattern(input, options, packing, {dir.file("alone.pdf"), dir.file("alone.png")}, nullptr, nullptr));
  ASSERT_TRUE(writePattern(input, small, packing, {dir.file("small.png")}, nullptr, nullptr));
  EXPECT_EQ(read(dir.file("once.pdf")), read(dir.file("alone.pdf")));
  for (int sheet = 1; sheet <= 3; ++sheet) {
    const std::string n = std::to_string(sheet);
    EXPECT_EQ(read(dir.file("again-" + n + ".png")), read(dir.file("alone-" + n + ".png"))) << sheet;
    EXPECT_EQ(read(dir.file("once-" + n + ".png")), read(dir.file("small-" + n + ".png"))) << sheet;
    EXPECT_LT(readPng(dir.file("once-" + n + ".png")).width, readPng(dir.file("again-" + n + ".png")).width);
  }
  // Without its texts (a thumbnail's), a sheet keeps its lines and fills: the title band above
  // the pieces is bare paper, where the sheet with texts has its title.
  PatternOptions lines = options;
  lines.texts = false;
  ASSERT_TRUE(writeDrawn(drawn, lines, {dir.file("lines.png")}, nullptr, nullptr));
  const auto inked = [](const Image& image, int rows) {
    int dark = 0;
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < image.width; ++x) dark += image.at(x, y)[0] < 128 ? 1 : 0;
    }
    return dark;
  };
  const Image withTexts = readPng(dir.file("again-1.png")), withoutTexts = readPng(dir.file("lines-1.png"));
  const int titleRows = static_cast<int>((options.margin + 3) * options.dpi / 25.4);
  EXPECT_GT(inked(withTexts, titleRows), 0) << "the title";
  EXPECT_EQ(inked(withoutTexts, titleRows), 0);
  EXPECT_LT(inked(withoutTexts, withoutTexts.height), inked(withTexts, withTexts.height));
  // Drawn without its texts from the start (no label is placed), it is the same image.
  DrawnPattern linesOnly;
  ASSERT_TRUE(drawPattern(input, lines, packing, &linesOnly, nullptr));
  ASSERT_TRUE(writeDrawn(linesOnly, lines, {dir.file("apart.png")}, nullptr, nullptr));
  for (int sheet = 1; sheet <= 3; ++sheet) {
    const std::string n = std::to_string(sheet);
    EXPECT_EQ(read(dir.file("apart-" + n + ".png")), read(dir.file("lines-" + n + ".png"))) << sheet;
  }
  // A resolution no PNG can have is refused before anything is written.
  PatternOptions huge = options;
  huge.dpi = 1e6;
  std::string error;
  EXPECT_FALSE(writeDrawn(drawn, huge, {dir.file("huge.png")}, nullptr, &error));
  EXPECT_NE(error.find("pixels a side"), std::string::npos) << error;
}

TEST(WritePattern, SvgWritesOneFilePerSheetAtThePageSize) {
  TempDir dir;
  PatternOptions options = smallPage();
  options.pageHeight = 170;
  PatternReport report;
  ASSERT_TRUE(write(threeBigSquares(), options, dir.file("model.svg"), &report));
  const std::vector<std::string> names{"model-1.svg", "model-2.svg", "model-3.svg"};
  EXPECT_EQ(dir.names(), names);
  ASSERT_EQ(report.files.size(), 3u);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(report.files[i], dir.file(names[i]));
    const std::vector<std::string> root = between(read(dir.file(names[i])), "<svg ", ">");
    ASSERT_FALSE(root.empty()) << names[i];
    EXPECT_NEAR(number(root[0], " width=\"", "mm\""), 160, 1e-3) << root[0];
    EXPECT_NEAR(number(root[0], " height=\"", "mm\""), 170, 1e-3) << root[0];
  }
}

TEST(WritePattern, PngWritesOneImagePerSheetAtTheResolution) {
  TempDir dir;
  PatternOptions options = smallPage();
  options.pageWidth = 170;
  ASSERT_TRUE(write(threeBigSquares(), options, dir.file("model.png")));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"model-1.png", "model-2.png", "model-3.png"}));
  for (int sheet = 1; sheet <= 3; ++sheet) {
    const Image image = readPng(dir.file("model-" + std::to_string(sheet) + ".png"));
    EXPECT_EQ(image.width, 669);  // 170 mm at 100 dpi
    EXPECT_EQ(image.height, 630);
    expectColour(image.at(2, 2), kWhite, "the margin");
  }
}

// The formats' table is what the program lists and checks paths against, so each row must say
// what writePattern really does with such a path: the extension in any case, one file or one per
// sheet.
TEST(WritePattern, EveryListedFormatIsWrittenAsItsRowSays) {
  ASSERT_FALSE(patternFormats().empty());
  for (const PatternFormat& format : patternFormats()) {
    TempDir dir;
    std::string upper = format.extension;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string path = dir.file("model" + upper);
    EXPECT_EQ(patternFormatOf(path), &format) << path;
    PatternReport report;
    ASSERT_TRUE(write(threeBigSquares(), smallPage(), path, &report)) << path;
    EXPECT_EQ(report.files.size(), format.filePerPage ? 3u : 1u) << path;
    EXPECT_EQ(dir.names().size(), report.files.size()) << path;
  }
  EXPECT_EQ(patternFormatOf("model.txt"), nullptr);
  EXPECT_EQ(patternFormatOf("model"), nullptr);
  std::string error;
  EXPECT_FALSE(writePattern(threeBigSquares(), smallPage(), "model.eps", nullptr, &error));
  for (const PatternFormat& format : patternFormats()) EXPECT_NE(error.find(format.extension), std::string::npos) << error;
}

TEST(WritePattern, DrawsEveryCutAndEveryVisibleFoldOnce) {
  // Two 2 x 2 grids, too large to share a sheet. Each has 4 mountain folds, 3 visible valley
  // folds (the fourth is nearly flat), 8 border edges of which 2 carry a tab. A tab is outlined
  // as a cut and folded along its base like a mountain.
  PatternInput input;
  input.pieces = {grid(1, 2, 75, 1), grid(2, 2, 75, 11)};
  PatternOptions options;
  options.fill = false;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(write(input, options, dir.file("grid.svg"), &report));
  ASSERT_EQ(report.packing.sheets, 2);

  const std::map<std::string, int> plain = strokesByDashes(read(dir.file("grid-2.svg")));
  ASSERT_EQ(plain.size(), 3u) << "solid lines and two dash patterns";
  EXPECT_EQ(plain.at(""), 6 + 2);
  std::vector<int> folds;
  for (const auto& [dashes, count] : plain) {
    if (!dashes.empty()) folds.push_back(count);
  }
  std::sort(folds.begin(), folds.end());
  EXPECT_EQ(folds, (std::vector<int>{3, 4 + 2}));

  // The first sheet adds the legend's samples, in the same three patterns.
  const std::map<std::string, int> legend = strokesByDashes(read(dir.file("grid-1.svg")));
  EXPECT_EQ(legend.size(), 3u);
  for (const auto& [dashes, count] : plain) EXPECT_GT(legend.at(dashes), count);
}

TEST(WritePattern, PrintedSideIsNotMirrored) {
  // A right triangle in the lower-left half of its box. Mirrored left to right the point
  // (5, 20) would be outside it; mirrored top to bottom (20, 5); turned half round, both.
  PatternInput input;
  input.materials = {{"black", {0, 0, 0}, ""}};
  input.pieces = {rightTriangle(1, 60, 0)};
  PatternOptions options;
  options.dpi = 100;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(write(input, options, dir.file("t.png"), &report));
  const Image image = readPng(report.files[0]);
  const Position& at = report.packing.positions[0];
  const std::array<int, 3> grey{153, 153, 153};
  expectColour(colourAt(image, options, at, {5, 20}), grey, "inside, near the y leg");
  expectColour(colourAt(image, options, at, {20, 5}), grey, "inside, near the x leg");
  expectColour(colourAt(image, options, at, {40, 40}), kWhite, "outside, beyond the long side");
}

TEST(WritePattern, LineArtLeavesTrianglesUnfilled) {
  PatternInput input;
  input.materials = {{"black", {0, 0, 0}, ""}};
  input.pieces = {rightTriangle(1, 60, 0)};
  PatternOptions options;
  options.dpi = 100;
  options.fill = false;
  TempDir dir;
  PatternReport report;
  ASSERT_TRUE(write(input, options, dir.file("t.png"), &report));
  expectColour(colourAt(readPng(report.files[0]), options, report.packing.positions[0], {20, 5}), kWhite, "inside");
}

/// A 2 x 2 pixel PNG: red on top, blue below.
std::string redOverBlue(const TempDir& dir) {
  const unsigned char pixels[] = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
  const std::string path = dir.file("red-over-blue.png");
  if (!stbi_write_png(path.c_str(), 2, 2, 3, pixels, 6)) throw std::runtime_error("cannot write " + path);
  return path;
}

TEST(WritePattern, TextureIsMappedThroughTheTextureCoordinates) {
  // A 40-unit square whose texture coordinates run 0..2: the image repeats twice each way, with
  // v pointing up, so the upper half of each repeat is red (veiled with a little white).
  TempDir dir;
  PatternInput input;
  input.materials = {{"cloth", {0, 1, 0}, redOverBlue(dir)}};
  input.pieces = {square(1, 40, 0, 0)};
  mapTexture(&input.pieces[0], 20);
  PatternOptions options;
  options.dpi = 100;
  PatternReport report;
  ASSERT_TRUE(write(input, options, dir.file("t.png"), &report));
  EXPECT_TRUE(report.warnings.empty());
  const Image image = readPng(report.files[0]);
  const Position& at = report.packing.positions[0];
  const std::array<int, 3> red{255, 89, 89}, blue{89, 89, 255};
  expectColour(colourAt(image, options, at, {10, 35}), red, "v = 1.75");
  expectColour(colourAt(image, options, at, {10, 25}), blue, "v = 1.25");
  expectColour(colourAt(image, options, at, {30, 15}), red, "v = 0.75");
  expectColour(colourAt(image, options, at, {30, 5}), blue, "v = 0.25");
}

TEST(WritePattern, UnreadableTextureFallsBackToTheColourWithAWarning) {
  TempDir dir;
  PatternInput input;
  input.materials = {{"cloth", {0.2, 0.4, 0.6}, dir.file("missing.png")}};
  input.pieces = {square(1, 40, 0, 0)};
  mapTexture(&input.pieces[0], 40);
  PatternOptions options;
  options.dpi = 100;
  PatternReport report;
  ASSERT_TRUE(write(input, options, dir.file("t.png"), &report));
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("missing.png"), std::string::npos) << report.warnings[0];
  // The colour, lightened towards white for printing.
  expectColour(colourAt(readPng(report.files[0]), options, report.packing.positions[0], {30, 5}),
               {173, 194, 214}, "inside");
}

TEST(WritePattern, SameInputGivesIdenticalFiles) {
  TempDir textures, first, second;
  PatternInput input;
  input.materials = {{"cloth", {0, 1, 0}, redOverBlue(textures)}, {"paint", {0.9, 0.5, 0.1}, ""}};
  input.pieces = {square(1, 40, 1, 0), strip(2, 5, 20, 15, 5), ring(3, 60, 30), grid(4, 2, 100, 20)};
  mapTexture(&input.pieces[0], 20);
  for (Triangle& t : input.pieces[1].triangles) t.material = 1;
  for (const char* name : {"p.pdf", "p.svg", "p.png"}) {
    PatternReport a, b;
    ASSERT_TRUE(write(input, PatternOptions{}, first.file(name), &a));
    ASSERT_TRUE(write(input, PatternOptions{}, second.file(name), &b));
    ASSERT_EQ(a.files.size(), b.files.size());
    ASSERT_GE(a.packing.sheets, 2);
    for (size_t i = 0; i < a.files.size(); ++i) {
      EXPECT_EQ(read(a.files[i]), read(b.files[i])) << a.files[i];
    }
  }
  // Written within the same second, two PDFs would also match if they carried the clock time.
  char year[8];
  const time_t now = time(nullptr);
  strftime(year, sizeof year, "%Y", gmtime(&now));
  const std::vector<std::string> dates = between(read(first.file("p.pdf")), "/CreationDate (", ")");
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_EQ(dates[0].find(year), std::string::npos) << "the PDF carries the clock time: " << dates[0];
}

TEST(WritePattern, PatternsDrawnOnSeveralThreadsAtOnceMatchOneDrawnAlone) {
  // The studio draws one session's sheets while other work sets text: every drawing shares the
  // one font, and a title outside ASCII looks its glyphs up while others draw.
  PatternInput input;
  input.pieces = {square(1, 40, 1, 0), strip(2, 5, 20, 15, 5), ring(3, 60, 30), grid(4, 2, 100, 20)};
  PatternOptions options;
  options.title = "Kuh \u00b7 Bl\u00fcmchen \u2116 7";
  TempDir alone;
  PatternReport reference;
  ASSERT_TRUE(write(input, options, alone.file("p.png"), &reference));
  ASSERT_TRUE(write(input, options, alone.file("p.pdf")));
  std::vector<TempDir> dirs(4);
  std::vector<std::thread> threads;
  for (TempDir& dir : dirs) {
    threads.emplace_back([&] {
      for (int round = 0; round < 3; ++round) {
        std::string error;
        PatternReport report;
        const std::string name = "r" + std::to_string(round);
        if (!writePattern(input, options, dir.file(name + ".png"), &report, &error) ||
            !writePattern(input, options, dir.file(name + ".pdf"), &report, &error)) {
          ADD_FAILURE() << error;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (TempDir& dir : dirs) {
    for (int round = 0; round < 3; ++round) {
      const std::string name = "r" + std::to_string(round);
      EXPECT_EQ(read(dir.file(name + ".pdf")), read(alone.file("p.pdf")));
      for (size_t i = 0; i < reference.files.size(); ++i) {
        const std::string file = reference.files[i];
        const std::string own = dir.file(name + file.substr(file.rfind('/') + 2));
        EXPECT_EQ(read(own), read(file)) << own;
      }
    }
  }
}

TEST(WritePattern, DegenerateGeometryDrawsWithFiniteNumbersOnly) {
  // A triangle shrunk to a point, an edge of no length with a number, a tab folded flat, and
  // texture coordinates that all fall on one spot of the image.
  TempDir dir;
  PatternInput input;
  input.materials = {{"cloth", {0.5, 0.5, 0.5}, redOverBlue(dir)}};
  Piece piece = square(1, 20, 1, 0);
  mapTexture(&piece, 20);
  piece.triangles.push_back(triangle({5, 5}, {5, 5}, {5, 5}, 0));
  piece.triangles[0].uv = {Point2{0.5, 0.5}, Point2{0.5, 0.5}, Point2{0.5, 0.5}};
  piece.edges.push_back(cut({20, 20}, {20, 20}, 9));
  piece.tabs.push_back(tabOn({0, 0}, {20, 0}, 1, 0));
  input.pieces = {piece};
  PatternReport report;
  ASSERT_TRUE(write(input, PatternOptions{}, dir.file("odd.svg"), &report));
  std::string svg = read(report.files[0]);
  for (size_t at = svg.find("base64,"); at != std::string::npos; at = svg.find("base64,", at + 1)) {
    svg.erase(at, svg.find('"', at) - at);
  }
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

TEST(WritePattern, FailedWriteLeavesNoFileBehind) {
  TempDir dir;
  std::string error;
  PatternInput input = threeBigSquares();
  const PatternOptions options = smallPage();
  for (const char* name : {"model.pdf", "model.svg", "model.png"}) {
    EXPECT_FALSE(writePattern(input, options, dir.file("missing") + "/" + name, nullptr, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
  }
  EXPECT_TRUE(dir.names().empty());

  // The second of three sheets cannot take its name: the first must not stay behind either.
  fs::create_directory(dir.file("model-2.svg"));
  error.clear();
  EXPECT_FALSE(writePattern(input, options, dir.file("model.svg"), nullptr, &error));
  EXPECT_NE(error.find("model-2.svg"), std::string::npos) << error;
  EXPECT_EQ(dir.names(), std::vector<std::string>{"model-2.svg"});
}

TEST(WritePattern, RefusesWhatItCannotWrite) {
  TempDir dir;
  std::string error;
  PatternInput input;
  input.pieces = {square(1, 10)};
  EXPECT_FALSE(writePattern(input, PatternOptions{}, dir.file("model.txt"), nullptr, &error));
  EXPECT_NE(error.find(".pdf"), std::string::npos) << error;

  error.clear();
  EXPECT_FALSE(writePattern(PatternInput{}, PatternOptions{}, dir.file("empty.pdf"), nullptr, &error));
  EXPECT_NE(error.find("no pieces"), std::string::npos) << error;

  error.clear();
  input.pieces[0].tabs.push_back(tabOn({0, 0}, {10, 0}, 1));
  input.pieces[0].tabs[0].corners[2].y = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(writePattern(input, PatternOptions{}, dir.file("model.svg"), nullptr, &error));
  EXPECT_NE(error.find("piece 1"), std::string::npos) << error;

  // A corner in space that is not a number would reach the overview.
  error.clear();
  input.pieces[0].tabs.clear();
  input.pieces[0].triangles[0].space[1].z = std::nan("");
  EXPECT_FALSE(writePattern(input, PatternOptions{}, dir.file("model.pdf"), nullptr, &error));
  EXPECT_NE(error.find("piece 1"), std::string::npos) << error;
  input.pieces[0].triangles[0].space[1].z = 0;

  error.clear();
  PatternOptions unreadable;
  unreadable.labelSize = std::nan("");
  EXPECT_FALSE(writePattern(input, unreadable, dir.file("model.pdf"), nullptr, &error));
  EXPECT_NE(error.find("label size"), std::string::npos) << error;

  error.clear();
  PatternOptions huge;
  huge.dpi = 10000;
  EXPECT_FALSE(writePattern(PatternInput{{square(1, 10)}, {}}, huge, dir.file("model.png"), nullptr, &error));
  EXPECT_NE(error.find("pixels"), std::string::npos) << error;
  EXPECT_TRUE(dir.names().empty());
}

}  // namespace
}  // namespace patterntest
