// The job layer's files: every output format of the program's list written as it says,
// where the packing put each piece for a viewer and how far an oversize model must shrink, and
// the pieces packed with their materials and images into one archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "formats/mesh_io.h"
#include "job/bundle.h"
#include "job/document.h"
#include "job/output_formats.h"
#include "job/outputs.h"
#include "job/pattern_files.h"
#include "support.h"
#include "temp_dir.h"
#include "unzip_all.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::unzipAll;

namespace {

pattern::Piece triangle(int number, double w, double h) {
  pattern::Piece piece;
  piece.number = number;
  pattern::Triangle t;
  t.p = {pattern::Point2{0, 0}, pattern::Point2{w, 0}, pattern::Point2{0, h}};
  piece.triangles.push_back(t);
  for (int k = 0; k < 3; ++k) piece.edges.push_back({t.p[k], t.p[(k + 1) % 3], pattern::EdgeKind::Cut, 0, 0});
  return piece;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(OutputFormats, EveryOneIsWrittenAsItSaysWhateverTheExtensionsCase) {
  scene::Document document;
  document.append(testing_support::cube());
  pattern::PatternInput input;
  input.pieces = {triangle(1, 50, 40)};
  pattern::PatternOptions options;
  options.dpi = 30;
  options.overview = false;
  TempDir out;
  std::vector<std::string> paths;
  std::set<std::string> extensions;
  for (const job::OutputFormat& f : job::outputFormats()) {
    const std::string& extension = f.extension;
    // The mesh writers and the pattern list their formats each for themselves.
    EXPECT_TRUE(extensions.insert(extension).second) << extension << " is claimed twice";
    std::string upper = extension;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(job::formatOfPath("dir.pdf/A" + upper), &f) << "the extension decides, in any case";
    EXPECT_EQ(job::outputKind("out" + extension), f.kind);
    if (f.kind == job::OutputKind::Scene) {
      EXPECT_TRUE(job::isSceneFile("out" + extension)) << extension;
    }
    paths.push_back(out.file("out-" + extension.substr(1) + extension));
  }
  EXPECT_EQ(job::outputKind("out"), job::OutputKind::Unknown);
  EXPECT_EQ(job::outputKind("out.xyz"), job::OutputKind::Unknown);
  EXPECT_EQ(job::formatOfExtension(".PDF"), job::formatOfPath("a.pdf"));

  // One run writes every format; each output's files are the ones its format promises.
  job::Written written;
  std::string error;
  const job::ProjectSource project{&document, out.path().string(), job::ProjectRun{}};
  ASSERT_TRUE(job::writeOutputs(document, input, options, paths, &written, &error, &project)) << error;
  ASSERT_EQ(written.byOutput.size(), paths.size());
  std::set<std::string> all(written.files.begin(), written.files.end()), promised;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const job::OutputFormat& f = job::outputFormats()[i];
    const fs::path path(paths[i]);
    const std::string stem = (path.parent_path() / path.stem()).string();
    const std::vector<std::string> expected{f.perSheet ? stem + "-1" + f.extension : paths[i]};
    EXPECT_EQ(written.byOutput[i], expected) << f.extension;
    promised.insert(expected.begin(), expected.end());
    if (!f.companion.empty()) promised.insert(stem + f.companion);
  }
  // Nothing else: a file beside an output is its format's companion.
  EXPECT_EQ(all, promised);
}

TEST(PatternLayout, PlacesEveryPieceAndSaysHowMuchAnOversizePieceMustShrink) {
  pattern::PatternInput input;
  input.pieces = {triangle(1, 50, 40), triangle(2, 380, 100), triangle(3, 30, 30)};
  pattern::PatternOptions options;  // A4, 10 mm margins, 1 mm per unit
  const pattern::Packing packing = pattern::packPattern(input, options);
  const job::PatternLayout layout = job::patternLayout(input, packing, options);
  ASSERT_EQ(layout.pieces.size(), 3u);
  // Each piece carries the number printed on it.
  ASSERT_EQ(packing.numbers.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(layout.pieces[i].number, packing.numbers[i]);
  EXPECT_EQ(layout.pageWidth, 210);
  EXPECT_EQ(layout.pageHeight, 297);
  for (int i : {0, 2}) {
    const job::PlacedPiece& p = layout.pieces[static_cast<std::size_t>(i)];
    EXPECT_FALSE(p.oversize);
    EXPECT_EQ(p.triangles, 1);
    // Inside the printable area, measured from the sheet's top-left corner.
    EXPECT_GE(p.left, 10 - 1e-9);
    EXPECT_GE(p.top, 10 - 1e-9);
    EXPECT_LE(p.left + p.width, 200 + 1e-9);
    EXPECT_LE(p.top + p.height, 287 + 1e-9);
  }
  EXPECT_NEAR(layout.pieces[0].width * layout.pieces[0].height, 50 * 40, 1e-6) << "a right triangle's box, turned or not";
  const job::PlacedPiece& big = layout.pieces[1];
  EXPECT_TRUE(big.oversize);
  // Turned upright it is 100 x 380 mm: the printable area's 277 mm height is what it misses.
  const double fit = std::min(190 / big.width, 277 / big.height);
  EXPECT_NEAR(layout.fit, fit, 1e-9);
  EXPECT_LT(layout.fit, 1);
  // The oversize piece is told in `pieces`; the packing's own sentence about it, with its
  // command-line options, is not passed on.
  ASSERT_FALSE(packing.warnings.empty());
  for (const std::string& w : layout.warnings) EXPECT_EQ(w.find("larger than the printable area"), std::string::npos) << w;

  input.pieces.erase(input.pieces.begin() + 1);
  EXPECT_EQ(job::patternLayout(input, pattern::packPattern(input, options), options).fit, 1);
}

TEST(PatternFiles, DrawsEachFormatOnceAndNothingOnceAbandoned) {
  TempDir folder;
  pattern::PatternInput input;
  input.pieces = {triangle(1, 50, 40)};
  pattern::PatternOptions options;
  options.dpi = 30;
  job::PatternFiles files(input, options, folder.path().string());
  std::vector<std::string> png, again;
  std::string error;
  ASSERT_TRUE(files.files(".png", &png, &error)) << error;
  ASSERT_EQ(png.size(), 1u);
  const auto written = fs::last_write_time(png[0]);
  ASSERT_TRUE(files.files(".png", &again, &error));
  EXPECT_EQ(again, png);
  EXPECT_EQ(fs::last_write_time(png[0]), written) << "drawn once";
  files.abandon();
  std::vector<std::string> pdf;
  EXPECT_FALSE(files.files(".pdf", &pdf, &error));
  EXPECT_FALSE(fs::exists(folder.file("pattern.pdf")));
}

TEST(MeshZip, HoldsTheObjItsMaterialsAndTheirImagesByTheirNamesInTheArchive) {
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  TempDir model;
  for (const char* name : {"house.obj", "house.mtl", "house-walls.png"}) fs::copy_file(examples / name, model.path() / name);
  scene::Document document;
  std::string error;
  ASSERT_TRUE(job::loadModel(model.file("house.obj"), document, &error)) << error;

  TempDir out;
  fs::create_directory(out.path() / "a");
  fs::create_directory(out.path() / "b");
  ASSERT_TRUE(job::writeMeshZip(document, model.path().string(), "house-pieces", out.file("a"), out.file("a.zip"), &error))
      << error;
  const auto entries = unzipAll(out.file("a.zip"));
  ASSERT_EQ(entries.size(), 3u);
  ASSERT_TRUE(entries.count("house-pieces.obj") && entries.count("house-pieces.mtl") && entries.count("house-walls.png"));
  EXPECT_NE(entries.at("house-pieces.obj").find("mtllib house-pieces.mtl"), std::string::npos);
  const std::string& mtl = entries.at("house-pieces.mtl");
  EXPECT_NE(mtl.find("map_Kd house-walls.png\n"), std::string::npos) << mtl;
  EXPECT_EQ(entries.at("house-walls.png"), slurp(examples / "house-walls.png"));
  // No path of this machine in the archive.
  for (const auto& [name, content] : entries) {
    EXPECT_EQ(content.find(model.path().string()), std::string::npos) << name;
    EXPECT_EQ(content.find(out.path().string()), std::string::npos) << name;
  }
  // The same document gives the same archive.
  ASSERT_TRUE(job::writeMeshZip(document, model.path().string(), "house-pieces", out.file("b"), out.file("b.zip"), &error));
  EXPECT_TRUE(slurp(out.file("a.zip")) == slurp(out.file("b.zip")));

  // The scene names the image by its file name alone.
  ASSERT_TRUE(job::writeSceneAlone(document, out.file("scene.json"), &error)) << error;
  const std::string scene = slurp(out.file("scene.json"));
  EXPECT_EQ(scene.find(model.path().string()), std::string::npos);
  EXPECT_NE(scene.find("\"house-walls.png\""), std::string::npos);

  // An image that is gone is left out with its reference; the rest still travels.
  fs::remove(model.path() / "house-walls.png");
  fs::create_directory(out.path() / "c");
  ASSERT_TRUE(job::writeMeshZip(document, model.path().string(), "house-pieces", out.file("c"), out.file("c.zip"), &error));
  const auto without = unzipAll(out.file("c.zip"));
  EXPECT_EQ(without.size(), 2u);
  EXPECT_EQ(without.at("house-pieces.mtl").find("map_Kd"), std::string::npos);
}

TEST(EmbeddedImages, AreWrittenIntoTheFolderGivenAndNamedByTheMaterials) {
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  scene::Document house;
  std::string error;
  ASSERT_TRUE(job::loadModel((examples / "house.obj").string(), house, &error)) << error;
  TempDir out;
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : house.allObjects()) objects.push_back(o);
  formats::MeshExportOptions embed;
  embed.embedTextures = true;
  ASSERT_TRUE(formats::exportMesh(house, objects, out.file("house.glb"), &error, embed)) << error;

  fs::create_directory(out.path() / "images");
  scene::Document read;
  ASSERT_TRUE(job::loadModel(out.file("house.glb"), read, &error, "", out.file("images"))) << error;
  int textured = 0;
  for (const auto& m : read.materials()) {
    if (m->texture.empty()) continue;
    ++textured;
    EXPECT_EQ(fs::path(m->texture).parent_path(), out.path() / "images");
    EXPECT_EQ(slurp(m->texture), slurp(examples / "house-walls.png"));
  }
  EXPECT_EQ(textured, 1);

  // Without a folder the materials keep their colours, and nothing is written.
  scene::Document plain;
  ASSERT_TRUE(job::loadModel(out.file("house.glb"), plain, &error)) << error;
  for (const auto& m : plain.materials()) EXPECT_TRUE(m->texture.empty()) << m->name;
}
