// Hostile inputs through the foldra program: files that are empty, not meshes at all, lying
// about their size, full of coordinates that are not numbers, of broken polygons, of edges
// shared by three polygons and of triangles without area. Each run ends in one clear error or
// a sound result: no crash, no file when it fails, no NaN or infinity in any file it writes,
// and memory in proportion to what the file really holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "support.h"
#include "temp_dir.h"

extern char** environ;

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Outcome {
  int exit = -1;
  std::string err;
  /// Peak resident memory of the program, in KiB.
  long peakKiB = 0;
  double seconds = 0;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

/// Runs the program with these arguments in `folder`; its own peak memory comes from wait4.
Outcome runProgram(const TempDir& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> words{FOLDRA_PROGRAM, "--quiet"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string errFile = folder.file("stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  Outcome r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    ADD_FAILURE() << "cannot start " << FOLDRA_PROGRAM;
    return r;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.peakKiB = usage.ru_maxrss;
  r.err = slurp(errFile);
  fs::remove(errFile);
  return r;
}

/// One line on stderr that starts with "foldra: " and names the file; exit code 1; nothing
/// written, not even a staging folder.
void expectCleanFailure(const TempDir& folder, const Outcome& r, const std::string& file) {
  EXPECT_EQ(r.exit, 1) << r.err;
  EXPECT_EQ(r.err.rfind("foldra: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(file), std::string::npos) << "the message names the file: " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
  for (const std::string& name : folder.names()) {
    EXPECT_TRUE(name == file || name.rfind("in", 0) == 0) << "left behind: " << name;
  }
}

/// NaN or infinity written as a word ("nan", "-inf", "Infinity"), as printf, iostreams and
/// to_chars write them.
bool hasNonFiniteWord(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto letter = [&](std::size_t i) { return i < lower.size() && std::isalpha(static_cast<unsigned char>(lower[i])); };
  for (const std::string word : {"nan", "inf", "infinity"}) {
    for (std::size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1)) {
      if ((at == 0 || !letter(at - 1)) && !letter(at + word.size())) return true;
    }
  }
  return false;
}

/// Checks every file a successful run wrote: the scene reads back (our reader takes finite
/// numbers only, and a NaN would have been written as null), the text formats hold no NaN or
/// infinity, and the mesh files read back with finite coordinates.
void expectSoundOutputs(const TempDir& folder) {
  std::string error;
  const auto scene = formats::loadScene(folder.file("out.json"), &error);
  ASSERT_NE(scene, nullptr) << error;
  EXPECT_FALSE(scene->objects().empty());
  for (const char* text : {"out.json", "out.obj", "out.mtl", "out-1.svg"}) {
    if (!fs::exists(folder.file(text))) continue;
    EXPECT_FALSE(hasNonFiniteWord(slurp(folder.file(text)))) << text;
  }
  for (const char* mesh : {"out.obj", "out.stl", "out.ply", "out.glb"}) {
    ASSERT_TRUE(fs::exists(folder.file(mesh))) << mesh;
    scene::Document d;
    EXPECT_TRUE(formats::importMesh(folder.file(mesh), d, &error)) << error;
  }
  EXPECT_TRUE(fs::exists(folder.file("out.pdf")));
}

const std::vector<std::string> kAllOutputs = {"-o", "out.json", "-o", "out.obj", "-o", "out.stl", "-o", "out.ply",
                                              "-o", "out.glb",  "-o", "out.pdf", "-o", "out.svg"};

std::vector<std::string> withAllOutputs(std::vector<std::string> arguments) {
  arguments.insert(arguments.end(), kAllOutputs.begin(), kAllOutputs.end());
  return arguments;
}

std::string garbage(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

std::string asciiPly(int declaredVertices, const std::string& body, int faces) {
  return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(declaredVertices) +
         "\nproperty float x\nproperty float y\nproperty float z\nelement face " + std::to_string(faces) +
         "\nproperty list uchar int vertex_indices\nend_header\n" + body;
}

std::string binaryStl(std::uint32_t declared, int facets) {
  std::string bytes(80, ' ');
  bytes.append(reinterpret_cast<const char*>(&declared), 4);
  const float corners[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  for (int f = 0; f < facets; ++f) {
    const float normal[3] = {0, 0, 1};
    bytes.append(reinterpret_cast<const char*>(normal), sizeof normal);
    for (const auto& c : corners) bytes.append(reinterpret_cast<const char*>(c), sizeof c);
    bytes.append(2, '\0');
  }
  return bytes;
}

}  // namespace

TEST(Hostile, EmptyFilesOfEveryKindAreRefusedByName) {
  TempDir folder;
  for (const char* name : {"in.obj", "in.stl", "in.ply", "in.glb", "in.json"}) {
    SCOPED_TRACE(name);
    put(folder.file(name), "");
    const Outcome r = runProgram(folder, {name, "-o", "out.json"});
    expectCleanFailure(folder, r, name);
    EXPECT_NE(r.err.find("empty"), std::string::npos) << r.err;
    fs::remove(folder.file(name));
  }
}

TEST(Hostile, BinaryGarbageWithAMeshExtensionIsRefusedByName) {
  TempDir folder;
  unsigned seed = 1;
  for (const char* name : {"in.obj", "in.stl", "in.ply", "in.glb", "in.gltf", "in.json"}) {
    for (std::size_t size : {1u, 84u, 4096u}) {
      SCOPED_TRACE(std::string(name) + " of " + std::to_string(size) + " bytes");
      put(folder.file(name), garbage(size, seed++));
      const Outcome r = runProgram(folder, {name, "-o", "out.json"});
      expectCleanFailure(folder, r, name);
      fs::remove(folder.file(name));
    }
  }
}

TEST(Hostile, CountsBeyondWhatTheFileHoldsAreRefusedWithoutTheirMemory) {
  TempDir folder;
  // What the program needs anyway, measured on a small sound file.
  put(folder.file("in-small.stl"), binaryStl(3, 3));
  const Outcome small = runProgram(folder, {"in-small.stl", "-o", "out.json"});
  ASSERT_EQ(small.exit, 0) << small.err;
  fs::remove(folder.file("out.json"));
  const std::string triangle = "0 0 0\n1 0 0\n0 1 0\n";
  const std::string binaryTriangle = [] {
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::string b(reinterpret_cast<const char*>(corners), sizeof corners);
    const unsigned char count = 3;
    const std::int32_t indices[3] = {0, 1, 2};
    b.append(reinterpret_cast<const char*>(&count), 1);
    b.append(reinterpret_cast<const char*>(indices), sizeof indices);
    return b;
  }();
  std::string binaryPly = asciiPly(10'000'000, "", 1);
  binaryPly.replace(binaryPly.find("ascii"), 5, "binary_little_endian");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"in-count.stl", binaryStl(10'000'000, 3)},
      {"in-ascii.ply", asciiPly(10'000'000, triangle + "3 0 1 2\n", 1)},
      {"in-binary.ply", binaryPly + binaryTriangle},
      {"in-faces.ply", asciiPly(3, triangle + "3 0 1 2\n", 10'000'000)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    put(folder.file(name), bytes);
    const Outcome r = runProgram(folder, {name, "-o", "out.json"});
    expectCleanFailure(folder, r, name);
    // Ten million points would take at least 120 MB; the refusal takes next to nothing.
    EXPECT_LT(r.peakKiB, small.peakKiB + 32 * 1024) << "peak " << r.peakKiB << " KiB against " << small.peakKiB;
    fs::remove(folder.file(name));
  }
}

TEST(Hostile, CoordinatesThatAreNoFiniteFloatAreRefusedByName) {
  TempDir folder;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"in-nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"in-huge.obj", "v 1e308 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"in-inf.obj", "v 0 0 0\nv inf 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"in-minus-inf.obj", "v 0 0 0\nv 1 0 0\nv 0 -inf 0\nf 1 2 3\n"},
      {"in-huge.ply", asciiPly(3, "0 0 0\n1e308 0 0\n0 1 0\n3 0 1 2\n", 1)},
      {"in-nan.stl", "solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex nan 0 0\nvertex 0 1 0\n"
                     "endloop\nendfacet\nendsolid s\n"},
      {"in-huge.json", R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon",
         "points": [[0, 0, 0], [1e308, 0, 0], [0, 1, 0]], "polygons": [[0, 1, 2]]}]})"},
      {"in-nan.json", R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon",
         "points": [[0, 0, 0], [NaN, 0, 0], [0, 1, 0]], "polygons": [[0, 1, 2]]}]})"},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    put(folder.file(name), text);
    expectCleanFailure(folder, runProgram(folder, {name, "-o", "out.json"}), name);
    fs::remove(folder.file(name));
  }
}

TEST(Hostile, HugeAndTinyFiniteCoordinatesGiveSoundFiles) {
  TempDir folder;
  // The largest floats, a sliver next to them and a triangle of 1e-30: every length and every
  // product of lengths must stay finite on the way to the files.
  put(folder.file("in.obj"),
      "v 3e38 0 0\nv -3e38 0 0\nv 0 3e38 0\nv 0 0 3e38\nf 1 2 3\nf 1 3 4\nf 2 4 3\n"
      "v 0 0 0\nv 1e-30 0 0\nv 0 1e-30 0\nf 5 6 7\n");
  const Outcome r = runProgram(folder, withAllOutputs({"in.obj"}));
  ASSERT_EQ(r.exit, 0) << r.err;
  expectSoundOutputs(folder);
}

TEST(Hostile, BrokenPolygonsGiveAClearErrorOrASoundResult) {
  TempDir folder;
  // Out-of-range indices: the mesh reader refuses the file by name.
  put(folder.file("in-range.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
  expectCleanFailure(folder, runProgram(folder, {"in-range.obj", "-o", "out.json"}), "in-range.obj");
  fs::remove(folder.file("in-range.obj"));
  put(folder.file("in-negative.json"), R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon",
      "points": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "polygons": [[0, 1, -1]]}]})");
  expectCleanFailure(folder, runProgram(folder, {"in-negative.json", "-o", "out.json"}), "in-negative.json");
  fs::remove(folder.file("in-negative.json"));
  // Repeated indices (a corner twice, a quadrangle folded onto a triangle, a duplicate face) are
  // polygons without area, or twice the same: the run goes through.
  put(folder.file("in.json"), R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon",
      "points": [[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 0], [0, 0, 1]],
      "polygons": [[0, 1, 2], [0, 0, 1], [1, 1, 1], [1, 3, 2, 1], [0, 1, 2], [0, 2, 4], [3, 3, 4, 4]]}]})");
  const Outcome r = runProgram(folder, withAllOutputs({"in.json"}));
  ASSERT_EQ(r.exit, 0) << r.err;
  expectSoundOutputs(folder);
}

TEST(Hostile, EdgesOfThreePolygonsAndTrianglesWithoutAreaUnfoldSoundly) {
  TempDir folder;
  // Three fins on one edge, a duplicate face, a triangle on a line, a triangle whose corners
  // are one point, and a zero-length edge between two points of the same position.
  put(folder.file("in.json"), R"({"format": "foldra-scene", "version": 1, "objects": [{"type": "polygon",
      "points": [[0, 0, 0], [4, 0, 0], [2, 4, 0], [2, -2, 3], [2, -2, -3], [8, 0, 0], [6, 0, 0],
                 [0, 0, 0], [9, 9, 9], [9, 9, 9], [9, 9, 9], [4, 0, 0]],
      "polygons": [[0, 1, 2], [1, 0, 3], [0, 1, 4], [0, 1, 2], [1, 6, 5], [8, 9, 10], [1, 11, 2], [7, 0, 4]]}]})");
  const Outcome r = runProgram(folder, withAllOutputs({"in.json"}));
  ASSERT_EQ(r.exit, 0) << r.err;
  expectSoundOutputs(folder);

  // The same through the module with the checker watching the unfolding itself.
  std::string error;
  auto scene = formats::loadScene(folder.file("in.json"), &error);
  ASSERT_NE(scene, nullptr) << error;
  for (const bool pageLimit : {false, true}) {
    LinkedHost h;
    auto copy = scene::cloneDocument(*scene);
    for (const auto& o : copy->objects()) {
      auto clone = scene::cloneObject(*o, [](scene::Material* m) { return m; });
      clone->selected = true;
      h.add(std::move(clone));
    }
    foldra::Settings s;
    s.Seitenflag = pageLimit;
    s.Seitenbreite = 6;
    s.Seitenhoehe = 6;
    ASSERT_TRUE(h.unfold(s));
    CheckOptions check;
    check.pageLimit = pageLimit;
    check.pageWidth = s.Seitenbreite;
    check.pageHeight = s.Seitenhoehe;
    for (const std::string& f : checkUnfolding(check)) ADD_FAILURE() << f;
  }
}

TEST(SlowHostile, AFlatGridOfTwoHundredThousandTrianglesWithThePageLimit) {
  TempDir folder;
  {
    std::ofstream out(folder.file("in.obj"));
    const int nx = 400, ny = 250;  // 100,000 quadrangles: 200,000 triangles
    for (int j = 0; j <= ny; ++j) {
      for (int i = 0; i <= nx; ++i) out << "v " << i << ' ' << j << " 0\n";
    }
    for (int j = 0; j < ny; ++j) {
      for (int i = 0; i < nx; ++i) {
        const int a = j * (nx + 1) + i + 1;
        out << "f " << a << ' ' << a + 1 << ' ' << a + nx + 2 << ' ' << a + nx + 1 << '\n';
      }
    }
  }
  const Outcome r = runProgram(folder, {"in.obj", "--page", "210x297", "--scale", "2", "-o", "out.json", "-o", "out.obj"});
  std::printf("200,000 triangles with the page limit: %.1f s, %ld MiB\n", r.seconds, r.peakKiB / 1024);
  ASSERT_EQ(r.exit, 0) << r.err;
  std::string error;
  const auto scene = formats::loadScene(folder.file("out.json"), &error);
  ASSERT_NE(scene, nullptr) << error;
  EXPECT_FALSE(hasNonFiniteWord(slurp(folder.file("out.obj"))));
}

// ---- The same inputs given to the module directly, as another host could hand them over ------

namespace {

std::unique_ptr<scene::Object> polygons(const std::vector<scene::Point>& points,
                                        const std::vector<scene::Polygon>& faces) {
  auto o = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  o->name = "Input";
  o->selected = true;
  o->points = points;
  o->polygons = faces;
  return o;
}

/// Every point of every object the run added is a finite number.
void expectFinitePieces(const scene::Document& d, std::size_t originals) {
  ASSERT_GT(d.objects().size(), originals);
  for (std::size_t i = 0; i < d.objects().size(); ++i) {
    for (const scene::Point& p : d.objects()[i]->points) {
      ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) << d.objects()[i]->name;
    }
  }
}

}  // namespace

TEST(HostileRun, CornersThatAreNoNumberOrTooLargeLeaveTheirTrianglesOut) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (const scene::Point bad : {scene::Point{nan, 0, 0}, scene::Point{0, inf, 0}, scene::Point{0, 0, -inf},
                                 scene::Point{3e38f, 0, 0}, scene::Point{0, -2e30f, 0}}) {
    LinkedHost h;
    auto o = cube();
    o->points.push_back(bad);
    const auto last = static_cast<std::int32_t>(o->points.size() - 1);
    o->polygons.push_back({0, 1, last, last});
    o->polygons.push_back({last, 2, 3, 3});
    h.add(std::move(o));
    foldra::Settings s;
    s.Originalflag = true;
    h.execute(s);
    for (const std::string& f : checkUnfolding({})) ADD_FAILURE() << f;
    expectFinitePieces(h.document(), 0);
    int usable = 0;
    for (const auto& t : foldra::run.gtvec.at(0)) usable += t->usable ? 1 : 0;
    EXPECT_EQ(usable, 12) << "the cube's triangles, and none with the bad corner";
  }
}

TEST(HostileRun, TabWidthsOfNoSizeMakeNoTabs) {
  for (const double width : {0.0, -5.0, -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(), 1e-300}) {
    SCOPED_TRACE(width);
    LinkedHost h;
    h.add(cube());
    foldra::Settings s;
    s.Laschenflag = true;
    s.Laschenbreite = width;
    h.execute(s);
    CheckOptions check;
    check.tabs = false;
    for (const std::string& f : checkUnfolding(check)) ADD_FAILURE() << f;
    expectFinitePieces(h.document(), 0);
  }
  // A huge width is held to the neighbour's height, as any width wider than that.
  LinkedHost h;
  h.add(cube());
  foldra::Settings s;
  s.Laschenbreite = std::numeric_limits<double>::infinity();
  h.execute(s);
  for (const std::string& f : checkUnfoldingFor(s)) ADD_FAILURE() << f;
  expectFinitePieces(h.document(), 0);
}

TEST(HostileRun, ADoubleSidedFaceAcrossATriangleWithoutAreaDoesNotOverlap) {
  // A face and its reverse (a double-sided face), and a triangle of no area on one of their
  // sides: its sides have fold angle 0 without being flat, and the face and its reverse are
  // linked across sides that differ in space.
  const std::vector<scene::Point> points = {{2.4f, -3.6f, 4.18f}, {0, 7.43f, 7.43f}, {7.43f, 7.43f, 7.43f}};
  for (const bool pageLimit : {false, true}) {
    LinkedHost h;
    h.add(polygons(points, {{0, 0, 2, 2}, {0, 1, 2, 2}, {0, 2, 1, 1}}));
    foldra::Settings s;
    s.Seitenflag = pageLimit;
    ASSERT_TRUE(h.unfold(s));
    CheckOptions check;
    check.pageLimit = pageLimit;
    for (const std::string& f : checkUnfolding(check)) ADD_FAILURE() << f;
  }
}

TEST(HostileRun, ASliverBetweenHugeAndSmallCornersKeepsItsSides) {
  LinkedHost h;
  h.add(polygons({{-1e29f, 1e-30f, -1e29f}, {5.03f, 5.03f, 5.03f}, {5.03f, 0.31f, 1.39f}}, {{0, 1, 2, 2}}));
  foldra::Settings s;
  s.Laschenflag = false;
  ASSERT_TRUE(h.unfold(s));
  CheckOptions check;
  check.tabs = false;
  check.precise = false;  // coordinates of 1e29: only the side lengths are compared
  for (const std::string& f : checkUnfolding(check)) ADD_FAILURE() << f;
}

TEST(Hostile, PlyHeadersThatNeverEndAreRefusedAtOnce) {
  TempDir folder;
  const std::string body = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  std::string noEnd = asciiPly(3, body, 1);
  noEnd.replace(noEnd.find("end_header"), 10, "end_head");
  std::string shouting = noEnd;
  shouting.replace(0, 3, "pLy");
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"in-noend.ply", noEnd}, {"in-case.ply", shouting}}) {
    SCOPED_TRACE(name);
    put(folder.file(name), bytes);
    const Outcome r = runProgram(folder, {name, "-o", "out.json"});
    expectCleanFailure(folder, r, name);
    EXPECT_NE(r.err.find("end_header"), std::string::npos) << r.err;
    EXPECT_LT(r.seconds, 20.0);
    fs::remove(folder.file(name));
  }
}

TEST(Hostile, NamesThatAreNotUtf8AreWrittenReadably) {
  TempDir folder;
  // A Latin-1 object and material name, as older programs write them.
  put(folder.file("in.obj"), "mtllib in.mtl\no Caf\xe9\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl R\xf6t\nf 1 2 3\n");
  put(folder.file("in.mtl"), "newmtl R\xf6t\nKd 1 0 0\n");
  const Outcome r = runProgram(folder, {"in.obj", "-o", "out.json", "-o", "out.obj"});
  ASSERT_EQ(r.exit, 0) << r.err;
  std::string error;
  const auto scene = formats::loadScene(folder.file("out.json"), &error);
  ASSERT_NE(scene, nullptr) << error;
  EXPECT_EQ(scene->objects().size(), 1u);
}

TEST(HostileRun, CoplanarTrianglesThatOverlapInSpaceDoNotOverlapInAPiece) {
  // A triangle, its duplicate, and a fan of three triangles inside it around a middle point,
  // one of them also turned over: all in one plane, and overlapping there already in space.
  const std::vector<scene::Point> points = {
      {5.03f, 5.03f, 2.97f}, {5.03f, 5.03f, 5.03f}, {5.03f, 2.45f, 6.06f}, {5.03f, 3.31f, 5.03f}};
  LinkedHost h;
  h.add(polygons(points, {{0, 1, 2, 2}, {2, 0, 3, 3}, {2, 3, 1, 1}, {0, 3, 1, 1}, {0, 2, 3, 3}, {0, 1, 2, 2}}));
  foldra::Settings s;
  s.Laschenflag = false;
  ASSERT_TRUE(h.unfold(s));
  CheckOptions check;
  check.tabs = false;
  for (const std::string& f : checkUnfolding(check)) ADD_FAILURE() << f;
}
