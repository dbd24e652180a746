// A user's work is never lost: over many random scenes (fixed seeds), one undo of a run gives
// back the document exactly, redo gives the result exactly, and the same run on the same scene
// gives the same result; a write that fails leaves an earlier file of that name as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/files.h"
#include "formats/scene_json.h"
#include "support.h"
#include "temp_dir.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string canonical(const scene::Document& d) { return formats::sceneToJson(d); }

/// A random scene from a seed, the same on every platform (only mt19937's raw output is used):
/// closed, open and non-manifold meshes, parametric objects, nulls with children, materials
/// with texture tags restricted to selections, texture coordinates, visibility tracks, a
/// timeline, a random selection, and now and then a polygon that names no point or a point that
/// is not a number.
class RandomScene {
 public:
  explicit RandomScene(unsigned seed) : random_(seed) {}

  std::unique_ptr<scene::Document> document() {
    auto d = std::make_unique<scene::Document>();
    const int materials = below(3);
    for (int i = 0; i < materials; ++i) {
      auto m = std::make_unique<scene::Material>();
      m->name = "Material " + std::to_string(i);
      m->color = {unit(), unit(), unit()};
      if (below(2)) m->values["specular"] = unit();
      d->addMaterial(std::move(m));
    }
    d->time.current = {below(60), 30};
    d->time.maximum = {90 + below(30), 30};
    const int objects = 1 + below(4);
    for (int i = 0; i < objects; ++i) d->append(object(*d, 0));
    if (d->activeObjects(true).empty()) d->objects().front()->selected = true;
    return d;
  }

  foldra::Settings settings() {
    foldra::Settings s;
    s.Originalflag = below(3) != 0;
    s.Materialflag = below(3) != 0;
    s.Seitenflag = below(2) != 0;
    s.Laschenflag = below(4) != 0;
    s.Seitenbreite = 10 + below(40);
    s.Seitenhoehe = 10 + below(40);
    s.Laschenbreite = 0.2 + below(10) / 4.0;
    s.AlsAnimation = below(3);
    return s;
  }

 private:
  int below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  double unit() { return static_cast<double>(random_() % 1001) / 1000.0; }

  std::unique_ptr<scene::Object> mesh() {
    switch (below(8)) {
      case 0: return tetrahedron(1 + below(20));
      case 1: return cube(1 + below(20));
      case 2: return bumpySphere(random_(), 1);
      case 3: return grid(1 + below(4), 1 + below(4), 0.5 + below(3));
      case 4: return openCylinder(3 + below(5), 1 + below(3));
      case 5: return torus(6 + below(4), 4 + below(3));
      case 6: return nonManifold();
      default: return icosphere(below(2), 1 + below(10));
    }
  }

  void decorate(scene::Object& o, const scene::Document& d) {
    if (below(4) == 0 && !o.polygons.empty()) {
      // Something broken from another program: a polygon naming no point, a duplicate face, a
      // point that is not a number.
      switch (below(3)) {
        case 0: o.polygons.push_back({0, 1, static_cast<std::int32_t>(o.points.size()) + 5, 0}); break;
        case 1: o.polygons.push_back(o.polygons.front()); break;
        default: o.points.push_back({std::numeric_limits<float>::quiet_NaN(), 0, 0}); o.polygons.push_back({0, 1, static_cast<std::int32_t>(o.points.size()) - 1, static_cast<std::int32_t>(o.points.size()) - 1}); break;
      }
    }
    const auto polygons = static_cast<std::int32_t>(o.polygons.size());
    if (!d.materials().empty() && below(2)) {
      scene::Tag* selection = o.addTag(sdk::kTagPolygonSelection, "Part");
      for (std::int32_t p = 0; p < polygons; ++p) {
        if (below(2)) selection->selection.add(p);
      }
      scene::Tag* texture = o.addTag(sdk::kTagTexture, "Texture");
      texture->material = d.materials()[static_cast<std::size_t>(below(static_cast<int>(d.materials().size())))].get();
      texture->restriction = below(2) ? "Part" : "";
    }
    if (below(2)) {
      scene::Tag* uvw = o.addTag(sdk::kTagUVW, "UVW");
      for (std::int32_t p = 0; p < polygons; ++p) {
        const float u = static_cast<float>(unit()), v = static_cast<float>(unit());
        uvw->uvw.push_back({{u, v, 0}, {v, u, 0}, {u, u, 0}, {v, v, 0}});
      }
    }
    if (below(3) == 0) o.addTag(sdk::kTagAnnotation, "Note")->text = "seed note";
    if (below(3) == 0) {
      auto track = std::make_unique<scene::Track>();
      track->parameter = sdk::kObjectEditorVisibility;
      track->curve = std::make_unique<scene::Curve>();
      track->curve->keyAt({below(10), 30})->value = sdk::kVisibilityOff;
      track->curve->keyAt({10 + below(10), 30})->value = sdk::kVisibilityOn;
      o.tracks.push_back(std::move(track));
    }
  }

  std::unique_ptr<scene::Object> object(const scene::Document& d, int depth) {
    std::unique_ptr<scene::Object> o;
    switch (below(depth == 0 ? 6 : 8)) {
      case 0:
        o = std::make_unique<scene::Object>(sdk::kObjectNull);
        o->name = "Group";
        break;
      case 1:
        o = std::make_unique<scene::Object>(sdk::kObjectCube);
        o->name = "Box";
        o->primitive.size = {10.0 + below(50), 10.0 + below(50), 10.0 + below(50)};
        break;
      case 2:
        o = std::make_unique<scene::Object>(sdk::kObjectSphere);
        o->name = "Ball";
        o->primitive.sphereSegments = 4 + below(6);
        break;
      case 3:
        o = std::make_unique<scene::Object>(sdk::kObjectLight);
        o->name = "Lamp";
        break;
      default:
        o = mesh();
        o->name += std::to_string(depth);
        decorate(*o, d);
        break;
    }
    o->selected = below(3) != 0;
    if (depth < 2) {
      const int children = below(3);
      for (int i = 0; i < children; ++i) o->children.push_back(object(d, depth + 1));
    }
    return o;
  }

  std::mt19937 random_;
};

/// The scene of a seed placed into a fresh host with the module linked in.
void place(LinkedHost& h, unsigned seed) {
  RandomScene random(seed);
  auto d = random.document();
  h.host.setActiveDocument(std::move(d));
}

}  // namespace

TEST(WorkKept, UndoGivesBackTheDocumentAndRedoTheResultOverRandomScenes) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    LinkedHost h;
    place(h, seed);
    const foldra::Settings settings = RandomScene(seed * 7919).settings();
    const std::string before = canonical(h.document());
    h.execute(settings);
    const std::string after = canonical(h.document());
    if (h.document().undoCount() == 0) {
      EXPECT_EQ(after, before) << "a run without an undo step changes nothing";
      continue;
    }
    ASSERT_EQ(h.document().undoCount(), 1u) << "a run is one undo step";
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(h.document().undo());
      ASSERT_EQ(canonical(h.document()), before) << "undo, round " << round;
      ASSERT_TRUE(h.document().redo());
      ASSERT_EQ(canonical(h.document()), after) << "redo, round " << round;
    }
  }
}

TEST(WorkKept, TheSameRunOnTheSameSceneGivesTheSameResult) {
  for (unsigned seed = 100; seed < 130; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const foldra::Settings settings = RandomScene(seed * 31).settings();
    std::string results[2];
    for (std::string& result : results) {
      LinkedHost h;
      place(h, seed);
      h.execute(settings);
      result = canonical(h.document());
    }
    ASSERT_EQ(results[0], results[1]);
  }
}

TEST(WorkKept, AFailedCommitLeavesEveryEarlierFileAsItWas) {
  TempDir folder;
  std::ofstream(folder.file("a.txt")) << "earlier a";
  std::ofstream(folder.file("c.txt")) << "earlier c";
  // b.txt cannot be replaced: a folder with something in it stands under that name.
  fs::create_directories(folder.file("b.txt/inside"));
  {
    formats::StagedFiles files;
    std::ofstream(files.stage(folder.file("a.txt"))) << "new a";
    std::ofstream(files.stage(folder.file("b.txt"))) << "new b";
    std::ofstream(files.stage(folder.file("c.txt"))) << "new c";
    std::string error;
    EXPECT_FALSE(files.commit(&error));
    EXPECT_NE(error.find("b.txt"), std::string::npos) << error;
  }
  std::stringstream a, c;
  a << std::ifstream(folder.file("a.txt")).rdbuf();
  c << std::ifstream(folder.file("c.txt")).rdbuf();
  EXPECT_EQ(a.str(), "earlier a") << "a file moved into place before the failure is taken back";
  EXPECT_EQ(c.str(), "earlier c");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"})) << "nothing else is left";
}

TEST(WorkKept, AWriteThatFailsMidwayLeavesTheEarlierFile) {
  TempDir folder;
  const std::string earlier = "earlier scene, kept\n";
  std::ofstream(folder.file("out.json")) << earlier;
  std::ofstream(folder.file("out.obj")) << earlier;
  // The program runs with a file size limit far below its outputs: every write beyond it fails
  // (the signal that would end the program is ignored, as a shell's `ulimit -f` user may have).
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2048, 2048};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (chdir(folder.path().c_str()) != 0) _exit(100);
    if (!freopen("/dev/null", "w", stdout) || !freopen("err.txt", "w", stderr)) _exit(101);
    execl(FOLDRA_PROGRAM, FOLDRA_PROGRAM, "--quiet", (FOLDRA_SOURCE_DIR + std::string("/examples/house.obj")).c_str(),
          "-o", "out.json", "-o", "out.obj", static_cast<char*>(nullptr));
    _exit(102);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the program ends by itself";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::stringstream err, json, obj;
  err << std::ifstream(folder.file("err.txt")).rdbuf();
  json << std::ifstream(folder.file("out.json")).rdbuf();
  obj << std::ifstream(folder.file("out.obj")).rdbuf();
  EXPECT_NE(err.str().find("out."), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("cannot be written"), std::string::npos) << err.str();
  EXPECT_EQ(json.str(), earlier);
  EXPECT_EQ(obj.str(), earlier);
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"err.txt", "out.json", "out.obj"}));
}
