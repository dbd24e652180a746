// The foldra program run as a user runs it: files in, files out, messages and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "job/methods.h"
#include "job/output_formats.h"
#include "job/settings.h"
#include "support.h"
#include "unzip_all.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Result {
  int exit = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// A fresh working folder per test.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("foldra-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  Result foldra(const std::string& arguments) {
    const std::string command = "cd '" + folder_.string() + "' && '" FOLDRA_PROGRAM "' " + arguments + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    Result r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(folder_ / "out.txt");
    r.err = slurp(folder_ / "err.txt");
    fs::remove(folder_ / "out.txt");
    fs::remove(folder_ / "err.txt");
    return r;
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  void write(const std::string& name, const std::string& text) { std::ofstream(folder_ / name) << text; }
  void writeScene(const std::string& name, std::unique_ptr<scene::Object> object) {
    scene::Document d;
    d.append(std::move(object));
    std::string error;
    ASSERT_TRUE(formats::saveScene(d, path(name), &error)) << error;
  }
  std::unique_ptr<scene::Document> read(const std::string& name) {
    std::string error;
    auto d = formats::loadScene(path(name), &error);
    EXPECT_NE(d, nullptr) << error;
    return d;
  }
  /// Files in the folder (besides those the test wrote itself).
  std::vector<std::string> files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder_)) out.push_back(fs::relative(e.path(), folder_).string());
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path folder_;
};

/// The output checker's failures, one per line; empty when all is well.
std::string checked(const scene::Document& d, const std::vector<std::array<double, 3>>& source, double pageW = 0,
                    double pageH = 0) {
  std::string all;
  for (const auto& f : checkPieceObjects(d, source, pageW, pageH)) all += "\n  " + f;
  return all;
}

}  // namespace

TEST_F(Cli, UnfoldsAGeneratedMeshIntoFlatCongruentPieces) {
  auto sphere = icosphere(2);
  const auto source = triangleSides(*sphere);
  writeScene("sphere.json", std::move(sphere));
  const Result r = foldra("sphere.json -o pieces.json --quiet");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "");
  auto d = read("pieces.json");
  EXPECT_EQ(d->findObject("Icosphere"), nullptr) << "originals are removed by default";
  EXPECT_EQ(checked(*d, source), "");
}

TEST_F(Cli, PiecesFitThePrintableAreaOfThePage) {
  auto sphere = bumpySphere(4, 2);
  const auto source = triangleSides(*sphere);
  writeScene("bumpy.json", std::move(sphere));
  // 10 mm per unit: a 60 x 50 mm page with 5 mm margins leaves 5 x 4 units.
  const Result r = foldra("bumpy.json --scale 10 --page 60x50 --margin 5 --tab-width 5 -o pieces.json");
  ASSERT_EQ(r.exit, 0) << r.err;
  auto d = read("pieces.json");
  EXPECT_GT(d->objects().size(), 4u);
  EXPECT_EQ(checked(*d, source, 5.0, 4.0), "");
  EXPECT_NE(r.out.find("piece"), std::string::npos);
}

TEST_F(Cli, CompactByDefaultLongestEdgeOnRequest) {
  writeScene("bumpy.json", bumpySphere(5, 2));
  auto pieces = [&](const std::string& extra) {
    const Result r = foldra("bumpy.json --scale 4 " + extra + " -o pieces.json -o pattern.svg");
    EXPECT_EQ(r.exit, 0) << r.err;
    // The summary counts the cut edges that carry no tab.
    EXPECT_NE(r.out.find("without a tab"), std::string::npos) << r.out;
    return read("pieces.json")->objects().size();
  };
  const std::size_t compact = pieces("");
  const std::size_t longestEdge = pieces("--unfold longest-edge");
  EXPECT_LT(compact, longestEdge);
  EXPECT_EQ(pieces("--unfold compact --tab-depth 6"), compact) << "compact's tabs are 6 mm unless given";
}

TEST_F(Cli, LayoutsPlaceThePieces) {
  auto sphere = icosphere(1);
  writeScene("sphere.json", std::move(sphere));
  for (const char* layout : {"row", "stack", "animation"}) {
    const Result r = foldra(std::string("sphere.json --scale 10 --page 60x60 --layout ") + layout + " -o out.json");
    ASSERT_EQ(r.exit, 0) << r.err;
    auto d = read("out.json");
    ASSERT_GT(d->objects().size(), 1u);
    std::set<float> planes;
    for (const auto& o : d->objects()) {
      double minX = 1e30, maxX = -1e30, minY = 1e30, maxY = -1e30;
      for (const auto& p : o->points) {
        minX = std::min<double>(minX, p.x), maxX = std::max<double>(maxX, p.x);
        minY = std::min<double>(minY, p.y), maxY = std::max<double>(maxY, p.y);
      }
      EXPECT_NEAR((minY + maxY) / 2, 0, 1e-3) << "centred on y = 0";
      planes.insert(o->points.front().z);
      if (std::string(layout) != "row") {
        EXPECT_NEAR((minX + maxX) / 2, 0, 1e-3) << layout;
      }
      if (std::string(layout) == "animation") {
        EXPECT_EQ(o->tracks.size(), 2u);
      }
    }
    EXPECT_EQ(planes.size(), std::string(layout) == "stack" ? d->objects().size() : 1u) << layout;
  }
}

TEST_F(Cli, MaterialsAndSelectionsSurviveAnObjWithTwoMaterials) {
  write("two.mtl", "newmtl Paper\nKd 0.9 0.9 0.8\n\nnewmtl Ink\nKd 0.1 0.1 0.4\n");
  write("two.obj",
        "mtllib two.mtl\no Box\n"
        "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
        "usemtl Paper\nf 1/1 4/4 3/3 2/2\nf 5/1 6/2 7/3 8/4\nf 1/1 2/2 6/3 5/4\n"
        "usemtl Ink\nf 3/1 4/2 8/3 7/4\nf 2/1 3/2 7/3 6/4\nf 1/1 5/2 8/3 4/4\n");
  const Result r = foldra("two.obj --scale 20 -o pieces.json -o pieces.obj");
  ASSERT_EQ(r.exit, 0) << r.err;
  auto d = read("pieces.json");
  ASSERT_EQ(d->materials().size(), 2u);
  std::map<std::string, std::size_t> selected;
  for (const auto& o : d->objects()) {
    const scene::Tag* paper = o->tag(sdk::kTagTexture, 0);
    ASSERT_NE(paper, nullptr);
    EXPECT_EQ(paper->material, d->materials()[0].get());
    for (int i = 0; const scene::Tag* s = o->tag(sdk::kTagPolygonSelection, i); ++i) selected[s->name] += s->selection.size();
    EXPECT_NE(o->tag(sdk::kTagUVW, 0), nullptr);
  }
  EXPECT_EQ(selected["Paper"], 6u);
  EXPECT_EQ(selected["Ink"], 6u);
  EXPECT_TRUE(fs::exists(path("pieces.mtl")));
  EXPECT_NE(slurp(path("pieces.mtl")).find("Ink"), std::string::npos);
}

TEST_F(Cli, OutputsAreTheSameEveryTime) {
  writeScene("torus.json", torus(12, 6));
  ASSERT_EQ(foldra("torus.json -o a.json -o a.obj -o a.pdf -o a.svg --quiet").exit, 0);
  ASSERT_EQ(foldra("torus.json -o b.json -o b.obj -o b.pdf -o b.svg --quiet").exit, 0);
  EXPECT_EQ(slurp(path("a.json")), slurp(path("b.json")));
  std::string objA = slurp(path("a.obj")), objB = slurp(path("b.obj"));
  // The mesh files name their material library after themselves.
  for (auto* s : {&objA, &objB}) {
    const auto at = s->find(".mtl");
    if (at != std::string::npos) s->replace(at - 1, 1, "x");
  }
  EXPECT_EQ(objA, objB);
  EXPECT_EQ(slurp(path("a.pdf")), slurp(path("b.pdf")));
  EXPECT_EQ(slurp(path("a-1.svg")), slurp(path("b-1.svg")));
}

TEST_F(Cli, DefaultOutputsAndTheBundledExample) {
  const Result r = foldra("");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("foldra-out/house.json")));
  EXPECT_TRUE(fs::exists(path("foldra-out/house.obj")));
  EXPECT_NE(r.out.find("1 object, 16 triangles"), std::string::npos) << r.out;
  auto d = read("foldra-out/house.json");
  EXPECT_EQ(d->materials().size(), 2u);
}

TEST_F(Cli, UsageErrorsSayWhatIsAllowed) {
  writeScene("cube.json", cube());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"cube.json --page 0x297", "--page: expected WIDTHxHEIGHT in millimetres, both greater than 0"},
      {"cube.json --page abc", "--page: expected WIDTHxHEIGHT"},
      {"cube.json --tab-width -3", "expected a number greater than 0"},
      {"cube.json --tab-width nan", "expected a number greater than 0"},
      {"cube.json --scale 0", "expected a number greater than 0"},
      {"cube.json --layout spiral", "--layout"},
      {"cube.json --unfold spiral", "--unfold"},
      {"cube.json --tab-depth 0", "expected a number greater than 0"},
      {"cube.json -o out.xyz", "out.xyz: unknown output format"},
      {"cube.json --margin 200", "--margin: the margins leave no printable area"},
      {"cube.json --scale 2 --height 100", "excludes"},
      {"cube.json --frobnicate", "frobnicate"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result r = foldra(arguments);
    EXPECT_EQ(r.exit, 2) << arguments;
    EXPECT_NE(r.err.find(message), std::string::npos) << arguments << ": " << r.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"cube.json"})) << "nothing written";
  const Result help = foldra("--help");
  EXPECT_EQ(help.exit, 0);
  for (const char* option : {"--layout", "--unfold", "--page", "--no-tabs", "--tab-depth", "--tab-width", "--keep-originals", "--no-materials",
                             "--select", "--module", "--quiet", "--version", "--scale", "--height", "--dpi"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.out.find("17"), std::string::npos) << "defaults are listed";
  // Every format and every way of cutting is named where a person looks for it.
  const Result unknown = foldra("cube.json -o out.xyz");
  for (const job::OutputFormat& f : job::outputFormats()) {
    const std::string& extension = f.extension;
    EXPECT_NE(unknown.err.find(extension), std::string::npos) << extension << ": " << unknown.err;
    EXPECT_NE(help.out.find(" " + extension + " "), std::string::npos) << extension;
  }
  for (const job::Method& m : job::kMethods) {
    const std::string described = std::string(m.name) + " (" + std::string(m.description) + ")";
    EXPECT_NE(help.out.find(described), std::string::npos) << described;
    EXPECT_NE(help.out.find(job::typed(m.tabDepth) + " for " + std::string(m.name)), std::string::npos) << m.name;
  }
}

TEST_F(Cli, ServeRefusesWhatItCannotDo) {
  writeScene("cube.json", cube());
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"serve --port 70000", 2, "--port"},
      {"serve --max-upload 0", 2, "expected a number greater than 0"},
      {"serve --session-timeout -1", 2, "expected a number greater than 0"},
      {"serve cube.json", 2, "cube.json"},
      {"serve --port 0 --module missing.cdl", 1, "missing.cdl: no such module file"},
  };
  for (const auto& [arguments, code, message] : cases) {
    const Result r = foldra(arguments);
    EXPECT_EQ(r.exit, code) << arguments;
    EXPECT_NE(r.err.find(message), std::string::npos) << arguments << ": " << r.err;
    EXPECT_EQ(r.out, "") << arguments << ": nothing served";
  }
  const Result help = foldra("serve --help");
  EXPECT_EQ(help.exit, 0);
  for (const char* option : {"--host", "--port", "--max-upload", "--session-timeout", "--module"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST_F(Cli, BadInputsGiveOneLineNamingTheFile) {
  write("empty.obj", "");
  write("garbage.ply", "this is not a mesh at all\n");
  write("nan.obj", "v 0 0 0\nv 1 0 0\nv nan 1 0\nf 1 2 3\n");
  write("light.json", R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "light", "name": "Lamp"}]})");
  write("index.json", R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon", "points": [[0,0,0],[1,0,0],[0,1,0]], "polygons": [[0,1,7]]}]})");
  writeScene("cube.json", cube());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing.obj -o out.json", "missing.obj: no such file"},
      {"empty.obj -o out.json", "empty.obj: the file is empty"},
      {"garbage.ply -o out.json", "garbage.ply: "},
      {"nan.obj -o out.json", "nan.obj: "},
      {"light.json -o out.json", "nothing to unfold"},
      {"index.json -o out.json", "index.json: objects[0].polygons[0]: point index 7 out of range"},
      {"cube.json --select Nothing -o out.json", "no object named \"Nothing\""},
      {"cube.json --module missing.cdl -o out.json", "missing.cdl: no such module file"},
      {"cube.json --module cube.json -o out.json", "cube.json: cannot be loaded"},
      {"cube.json -o missing-folder/out.json", "no such folder"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result r = foldra(arguments);
    EXPECT_EQ(r.exit, 1) << arguments;
    EXPECT_NE(r.err.find("foldra: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << arguments << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_FALSE(fs::exists(path("out.json"))) << arguments;
  }
  for (const auto& f : files()) EXPECT_EQ(f.find(".foldra-"), std::string::npos) << "no staging folder left: " << f;
}

TEST_F(Cli, WritesAPrintablePatternInThreeFormats) {
  writeScene("cube.json", cube(100));
  const Result r = foldra("cube.json --scale 1 --page 150x150 -o cube.pdf -o cube.svg -o cube.png --dpi 50");
  ASSERT_EQ(r.exit, 0) << r.err;
  int sheets = 0;
  while (fs::exists(path("cube-" + std::to_string(sheets + 1) + ".svg"))) ++sheets;
  ASSERT_GT(sheets, 1) << "a 100 mm cube does not fit one 150 mm sheet";
  EXPECT_TRUE(fs::exists(path("cube-" + std::to_string(sheets) + ".png")));
  EXPECT_FALSE(fs::exists(path("cube-" + std::to_string(sheets + 1) + ".png")));
  const std::string svg = slurp(path("cube-1.svg"));
  EXPECT_NE(svg.find("width=\"150mm\""), std::string::npos) << "150 mm";
  EXPECT_TRUE(fs::exists(path("cube-overview.svg")));
  EXPECT_TRUE(fs::exists(path("cube-overview.png")));
#ifdef FOLDRA_PDFINFO
  FILE* pipe = popen((std::string(FOLDRA_PDFINFO) + " '" + path("cube.pdf") + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string info;
  char line[256];
  while (fgets(line, sizeof line, pipe)) info += line;
  pclose(pipe);
  const auto pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(std::stoi(info.substr(pages + 6)), sheets + 1) << "the overview and the sheets: " << info;
  EXPECT_NE(info.find("425.197 x 425.197 pts"), std::string::npos) << info;
#endif
}

TEST_F(Cli, PatternOptionsSizeLabelsOverviewAndSheets) {
  writeScene("ball.json", icosphere(3, 50));
  // Small pages: the page limit cuts the ball into many small pieces, a few a sheet.
  Result r = foldra("ball.json --scale 1 --page 30x30 --margin 5 -o many.svg --no-overview --label-size 1.5");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_FALSE(fs::exists(path("many-overview.svg")));
  int sheets = 0;
  while (fs::exists(path("many-" + std::to_string(sheets + 1) + ".svg"))) ++sheets;
  ASSERT_GT(sheets, 20);
  EXPECT_NE(r.err.find("the pattern needs " + std::to_string(sheets) + " sheets"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--fit-sheets"), std::string::npos) << r.err;
  // The summary names the fill of many sheets as one range, not a number per sheet.
  EXPECT_NE(r.out.find("pattern on " + std::to_string(sheets) + " sheets, "), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("sheets, [0-9]+(\u2013[0-9]+)? % full\n"))) << r.out;
  EXPECT_EQ(r.err.find("small on paper"), std::string::npos) << "8 mm edges: " << r.err;

  r = foldra("ball.json --page 70x70 --margin 5 -o four.svg --fit-sheets 4");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("four-overview.svg")));
  EXPECT_TRUE(fs::exists(path("four-1.svg")));
  EXPECT_FALSE(fs::exists(path("four-5.svg")));
  EXPECT_NE(r.out.find("to fit 4 sheets the model is"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("the pattern needs"), std::string::npos) << r.err;

  EXPECT_EQ(foldra("ball.json --fit-sheets 2 --scale 1 -o x.pdf").exit, 2) << "--fit-sheets chooses the scale";
  r = foldra("ball.json --fit-sheets 2 -o x.obj");
  EXPECT_EQ(r.exit, 2) << "no pattern to fit";
  EXPECT_NE(r.err.find("no pattern output"), std::string::npos) << r.err;
  EXPECT_EQ(foldra("ball.json --label-size 0 -o x.pdf").exit, 2);

  // At a fifth of the size the median edge is 1.5 mm on paper: said once, with the scale that makes
  // them 3 mm, for a scene as for a pattern.
  r = foldra("ball.json --scale 0.2 -o small.json");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the triangles are small on paper: half their edges are 1.5 mm or shorter"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("--scale 0.4 "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("small on paper"), r.err.rfind("small on paper")) << "once: " << r.err;
}

TEST_F(Cli, SharedMeshes) {
  const std::string shared = sharedMeshes();
  if (shared.empty()) GTEST_SKIP() << "../shared/meshes is not here";
  for (const char* mesh : {"hourglass_ico.obj", "map-bump.obj", "spot.obj"}) {
    const Result r = foldra("'" + shared + "/" + mesh + "' -o out.json --quiet");
    ASSERT_EQ(r.exit, 0) << mesh << ": " << r.err;
    auto d = read("out.json");
    ASSERT_FALSE(d->objects().empty()) << mesh;
    std::size_t triangles = 0;
    for (const auto& o : d->objects()) {
      const float z = o->points.front().z;
      for (const auto& p : o->points) ASSERT_EQ(p.z, z);
      for (const auto& q : o->polygons) triangles += scene::isTriangle(q) ? 1 : 0;
    }
    if (std::string(mesh) == "spot.obj") {
      EXPECT_EQ(triangles, 5856u);
      // Each piece's tags hold its own polygons, not the whole source's.
      EXPECT_LT(fs::file_size(path("out.json")), 10u << 20);
    }
    if (std::string(mesh) == "hourglass_ico.obj") {
      EXPECT_EQ(triangles, 40u);
    }
    if (std::string(mesh) == "map-bump.obj") {
      EXPECT_EQ(triangles, 400u);
      EXPECT_EQ(d->materials().size(), 2u);
    }
  }
}

TEST_F(Cli, LabelsOnADenseMeshAreShortAndComeInPairs) {
  const std::string shared = sharedMeshes();
  if (shared.empty()) GTEST_SKIP() << "../shared/meshes is not here";
  // With bare seams, as few pieces as compact makes: numbers of two digits.
  const Result r = foldra("'" + shared + "/spot.obj' -o spot.svg --no-overview --bare-seams");
  ASSERT_EQ(r.exit, 0) << r.err;
  // Piece numbers are black; edge labels are grey: the edge's number, printed on both copies.
  static const std::regex text(R"re(fill="(#[0-9a-f]{6})">([0-9]+)([a-z]*)</text>)re");
  std::set<std::string> pieces;
  std::map<std::string, int> named;
  int labels = 0;
  for (int sheet = 1; fs::exists(path("spot-" + std::to_string(sheet) + ".svg")); ++sheet) {
    const std::string svg = slurp(path("spot-" + std::to_string(sheet) + ".svg"));
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
      const std::smatch& m = *it;
      EXPECT_TRUE(m[3].str().empty()) << m[0];
      if (m[1] == "#000000") {
        pieces.insert(m[2]);
        continue;
      }
      ++labels;
      ++named[m[2]];
      EXPECT_LE(m[2].length(), 4u) << m[0];
    }
  }
  EXPECT_GT(pieces.size(), 10u);
  EXPECT_LT(pieces.size(), 100u);
  EXPECT_GT(labels, 4000) << "a label on every copy of every cut edge";
  for (const auto& [number, count] : named) EXPECT_EQ(count, 2) << "edge " << number;
  EXPECT_NE(r.err.find("below 1.5 mm; at about --scale "), std::string::npos) << r.err;
}

TEST_F(Cli, ObjectsBelowASelectedObjectAreUnfoldedToo) {
  // A group with two polygon objects below it, one of them with a third below it.
  scene::Document d;
  auto group = std::make_unique<scene::Object>(sdk::kObjectNull);
  group->name = "Group";
  scene::Object* g = d.append(std::move(group));
  d.append(cube(), g);
  scene::Object* t = d.append(tetrahedron(), g);
  d.append(icosphere(0), t);
  std::string error;
  ASSERT_TRUE(formats::saveScene(d, path("nested.json"), &error)) << error;
  const Result r = foldra("nested.json --scale 10 -o out.json");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out.find("3 objects, 36 triangles"), std::string::npos) << r.out;
  auto result = read("out.json");
  EXPECT_EQ(result->findObject("Group"), nullptr);
  std::size_t triangles = 0;
  for (const auto& o : result->objects()) {
    for (const auto& q : o->polygons) triangles += scene::isTriangle(q) ? 1 : 0;
  }
  EXPECT_EQ(triangles, 36u) << "12 of the cube, 4 of the tetrahedron, 20 of the icosahedron below it";
}

TEST_F(Cli, ACornerThatClosesAlmostExactlyGivesPiecesThatDoNotOverlap) {
  // Eight triangles around (0,0,0), ring points at heights +-0.02: the angles add up to 360.44
  // degrees, and laid around the corner the last triangle would overlap the first.
  std::ostringstream obj;
  obj.precision(9);
  obj << "v 0 0 0\n";
  for (int k = 0; k < 8; ++k) {
    const double a = k * 3.14159265358979323846 / 4;
    obj << "v " << std::cos(a) << ' ' << std::sin(a) << ' ' << (k % 2 ? -0.02 : 0.02) << '\n';
  }
  for (int k = 0; k < 8; ++k) obj << "f 1 " << 2 + k << ' ' << 2 + (k + 1) % 8 << '\n';
  write("saddle.obj", obj.str());
  for (const char* tabs : {"--no-tabs", ""}) {
    const Result r = foldra(std::string("saddle.obj --scale 100 ") + tabs + " -o s.json -o s.obj --quiet");
    ASSERT_EQ(r.exit, 0) << r.err;
    std::string error;
    scene::Document source;
    ASSERT_TRUE(formats::importMesh(path("saddle.obj"), source, &error)) << error;
    EXPECT_EQ(checked(*read("s.json"), triangleSides(*source.objects().front())), "") << tabs;
  }
}

TEST_F(Cli, TwoFacesWoundAgainstEachOtherFoldBackIntoTheModel) {
  // Both triangles run their shared side from A = (0,0,0) to B = (4,0,0); their third corners
  // are C = (1,3,0) and D = (3,-2,0.5).
  write("t.obj", "v 0 0 0\nv 4 0 0\nv 1 3 0\nv 3 -2 0.5\nf 1 2 3\nf 1 2 4\n");
  const Result r = foldra("t.obj --scale 1 -o t.json --quiet");
  ASSERT_EQ(r.exit, 0) << r.err;
  auto d = read("t.json");
  ASSERT_EQ(d->objects().size(), 1u);
  const scene::Object& piece = *d->objects().front();
  ASSERT_EQ(piece.polygons.size(), 2u) << "one piece of two triangles, no tabs";
  auto distance = [](const scene::Point& p, const scene::Point& q) { return std::hypot(double(p.x - q.x), double(p.y - q.y)); };
  const scene::Point* first = &piece.points[0];
  const scene::Point* second = &piece.points[3];
  // The two flat corners the triangles share, and each triangle's corner off the fold.
  std::vector<std::pair<int, int>> shared;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (distance(first[i], second[j]) < 1e-4) shared.emplace_back(i, j);
    }
  }
  ASSERT_EQ(shared.size(), 2u);
  const int c = 3 - shared[0].first - shared[1].first, e = 3 - shared[0].second - shared[1].second;
  // Folded back up, the corner that lies |AC| from C must lie |AD| from D: both are A.
  for (const auto& [i, j] : shared) {
    const bool a = std::fabs(distance(first[i], first[c]) - std::sqrt(10.0)) < 1e-4;
    EXPECT_NEAR(distance(second[j], second[e]), a ? std::sqrt(13.25) : std::sqrt(5.25), 1e-4) << (a ? "A" : "B");
  }
}

TEST_F(Cli, ASeamThatOpensLessThanTheFoldShutWidthIsFoldedNotCut) {
  // A low cone of eight faces round (0, 0, 0.5): laid flat in one piece, its one seam from the
  // apex opens 0.0745 units at the ring, 0.56 mm at 7.5 mm a unit.
  std::string obj = "v 0 0 0.5\n";
  for (int k = 0; k < 8; ++k) {
    obj += "v " + std::to_string(10 * std::cos(k * std::acos(-1.0) / 4)) + " " + std::to_string(10 * std::sin(k * std::acos(-1.0) / 4)) + " 0\n";
  }
  for (int k = 0; k < 8; ++k) obj += "f 1 " + std::to_string(2 + k) + " " + std::to_string(2 + (k + 1) % 8) + "\n";
  write("cone.obj", obj);
  // With bare seams allowed the seam stays open in one piece unless it folds shut.
  for (const auto& [width, bare] : {std::pair{"0", "1 cut edge without a tab"}, std::pair{"0.2", "1 cut edge without a tab"},
                                    std::pair{"1", "0 cut edges without a tab"}}) {
    const Result r = foldra(std::string("cone.obj --scale 7.5 --bare-seams --fold-shut ") + width + " -o cone.json");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find(bare), std::string::npos) << width << ": " << r.out;
    EXPECT_NE(r.out.find("1 piece"), std::string::npos) << width << ": " << r.out;
  }
  // By default a seam too narrow for a tab is cut into two pieces whose seams both carry one.
  for (const auto& [width, pieces] : {std::pair{"0", "2 pieces"}, std::pair{"0.2", "2 pieces"}, std::pair{"1", "1 piece"}}) {
    const Result r = foldra(std::string("cone.obj --scale 7.5 --fold-shut ") + width + " -o cone.json");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("0 cut edges without a tab"), std::string::npos) << width << ": " << r.out;
    EXPECT_NE(r.out.find(pieces), std::string::npos) << width << ": " << r.out;
  }
}

TEST_F(Cli, AProjectGivesTheSamePatternByteForByte) {
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  fs::create_directory(path("model"));
  for (const char* name : {"house.obj", "house.mtl", "house-walls.png"}) fs::copy_file(examples / name, path("model") / fs::path(name));
  // Marked edges travel with the model: cut where the unfolding would join.
  auto ball = icosphere(1);
  scene::Tag* cuts = ball->addTag(sdk::kTagEdgeSelection, "Foldra cut");
  for (const int edge : {4 * 3 + 1, 4 * 7 + 0, 4 * 11 + 2}) cuts->selection.add(edge);
  writeScene("model/marked.json", std::move(ball));
  const std::vector<std::string> runs = {
      "model/house.obj",
      "model/house.obj --page 297x420 --unfold longest-edge --scale 20",
      "model/house.obj --fit-sheets 1 --no-fill --label-size 3",
      "model/marked.json --no-overview --tab-depth 4",
  };
  for (const std::string& run : runs) {
    const Result first = foldra(run + " -o a.foldra -o a.pdf --quiet");
    ASSERT_EQ(first.exit, 0) << run << ": " << first.err;
    // The project needs nothing of the model's folder any more.
    fs::rename(path("model"), path("away"));
    const Result again = foldra("a.foldra -o b.pdf -o b.foldra --quiet");
    fs::rename(path("away"), path("model"));
    ASSERT_EQ(again.exit, 0) << run << ": " << again.err;
    EXPECT_EQ(again.err, first.err) << run << ": the same warnings";
    EXPECT_TRUE(slurp(path("a.pdf")) == slurp(path("b.pdf"))) << run << ": the same pattern";
    EXPECT_TRUE(slurp(path("a.foldra")) == slurp(path("b.foldra"))) << run << ": the same project";
    if (run.find("marked") != std::string::npos) {
      EXPECT_NE(unzipAll(path("a.foldra")).at("model.json").find("Foldra cut"), std::string::npos);
      // The marks are what made this pattern: the same model without them, of the same name,
      // gives another.
      fs::create_directories(path("plain"));
      writeScene("plain/marked.json", icosphere(1));
      ASSERT_EQ(foldra("plain/marked.json --no-overview --tab-depth 4 -o c.pdf --quiet").exit, 0);
      EXPECT_FALSE(slurp(path("c.pdf")) == slurp(path("b.pdf")));
    }
    for (const char* name : {"a.foldra", "a.pdf", "b.pdf", "b.foldra"}) fs::remove(path(name));
  }
}

TEST_F(Cli, AProjectIsReadAloneWithItsSettings) {
  writeScene("cube.json", cube());
  ASSERT_EQ(foldra("cube.json --scale 2 -o p.foldra --quiet").exit, 0);
  write("bad.foldra", "not an archive\n");
  const std::string whole = slurp(path("p.foldra"));
  write("cut.foldra", whole.substr(0, whole.size() - 40));
  const std::vector<std::string> before = files();
  const std::vector<std::pair<std::string, std::string>> usage = {
      {"p.foldra cube.json -o x.pdf", "a project is read alone: p.foldra holds its model, so cube.json cannot be given with it"},
      {"cube.json p.foldra -o x.pdf", "a project is read alone"},
      {"p.foldra --scale 2 -o x.pdf", "a project carries its settings: --scale cannot be given with p.foldra"},
      {"p.foldra --no-tabs --dpi 100 -o x.pdf", "a project carries its settings: --no-tabs or --dpi cannot be given"},
  };
  for (const auto& [arguments, message] : usage) {
    const Result r = foldra(arguments);
    EXPECT_EQ(r.exit, 2) << arguments;
    EXPECT_NE(r.err.find(message), std::string::npos) << arguments << ": " << r.err;
  }
  const Result bad = foldra("bad.foldra -o x.pdf -o x.json");
  EXPECT_EQ(bad.exit, 1);
  EXPECT_EQ(bad.err, "foldra: bad.foldra is not a Foldra project\n");
  const Result cut = foldra("cut.foldra -o x.pdf -o x.foldra");
  EXPECT_EQ(cut.exit, 1);
  EXPECT_EQ(cut.err, "foldra: cut.foldra: the archive is truncated or corrupt\n");
  EXPECT_EQ(files(), before) << "nothing written";

  // What does not change the pieces goes with a project; its scale is the one it was saved with.
  const Result chosen = foldra("p.foldra --select Cube -o x.json");
  ASSERT_EQ(chosen.exit, 0) << chosen.err;
  EXPECT_NE(chosen.out.find("1 object, 12 triangles"), std::string::npos) << chosen.out;
  const Result plain = foldra("p.foldra --quiet");
  ASSERT_EQ(plain.exit, 0) << plain.err;
  EXPECT_TRUE(fs::exists(path("foldra-out/p.json")) && fs::exists(path("foldra-out/p.obj")));
  EXPECT_TRUE(slurp(path("x.json")) == slurp(path("foldra-out/p.json")));
  ASSERT_EQ(foldra("cube.json --scale 2 -o y.json --quiet").exit, 0);
  EXPECT_TRUE(slurp(path("x.json")) == slurp(path("y.json")));
}
