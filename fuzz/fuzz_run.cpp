// Fuzz target: whole runs of the module on small scenes decoded from the bytes. The scenes are
// what users' files and other modules hand over at worst: repeated, collinear, NaN, infinite and
// huge points; polygons with out-of-range and repeated indices, edges shared by three or more
// polygons, duplicate faces; selections, texture tags and texture coordinates that do not match
// the polygons; hierarchies with primitives; and any settings the dialog's texts can give (page
// sizes of 0, negative or NaN, any tab width, layout and unfolding method).
//
// Each run is one undo group through our host, with the module's code linked in. Afterwards:
// every piece has finite points and valid indices, the unfolding checker passes, the module's
// description of its run holds together and names as many pieces as the run added (and the
// pattern can be read from it), one undo gives back the document as it was (its scene text), and
// redo gives the result again.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <string>

#include "formats/scene_json.h"
#include "geometry/kernel.h"
#include "host/edge_marks.h"
#include "job/pattern_input.h"
#include "runtime/run_report.h"
#include "shell/report.h"
#include "support.h"

namespace {

[[noreturn]] void failure(const std::string& what) {
  std::fprintf(stderr, "fuzz_run: %s\n", what.c_str());
  std::abort();
}

float coordinate(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return 0.0f;
    case 1: return std::numeric_limits<float>::quiet_NaN();
    case 2: return std::numeric_limits<float>::infinity();
    case 3: return -std::numeric_limits<float>::infinity();
    case 4: return static_cast<float>(in.ConsumeBool() ? 1e308 : -1e308);  // beyond float: infinite
    case 5: return in.ConsumeBool() ? FLT_MAX : -FLT_MAX;
    case 6: return in.ConsumeBool() ? 1e-30f : FLT_MIN;
    case 7: return in.ConsumeBool() ? 1e29f : -1e29f;  // large, and still unfolded
    case 8: return static_cast<float>(in.ConsumeIntegralInRange<int>(-4, 4));
    case 9: {
      const auto bits = in.ConsumeIntegral<std::uint32_t>();
      float f;
      static_assert(sizeof f == sizeof bits);
      __builtin_memcpy(&f, &bits, sizeof f);
      return f;
    }
    default: return static_cast<float>(in.ConsumeIntegralInRange<int>(-1000, 1000)) / 100.0f;
  }
}

float uv(FuzzedDataProvider& in) {
  const float f = coordinate(in);
  return std::isfinite(f) ? f : 0.5f;
}

double setting(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return 0.0;
    case 1: return -static_cast<double>(in.ConsumeIntegralInRange<int>(1, 300));
    case 2: return std::numeric_limits<double>::quiet_NaN();
    case 3: return std::numeric_limits<double>::infinity();
    case 4: return -std::numeric_limits<double>::infinity();
    case 5: return 1e-300;
    case 6: return 1e300;
    case 7: return in.ConsumeFloatingPoint<double>();
    default: return static_cast<double>(in.ConsumeIntegralInRange<int>(1, 4000)) / 100.0;
  }
}

std::int32_t pointIndex(FuzzedDataProvider& in, std::size_t points) {
  const auto v = in.ConsumeIntegral<std::uint8_t>();
  const auto n = static_cast<std::int32_t>(points);
  if (v < 240 || n == 0) return n > 0 ? static_cast<std::int32_t>(v % n) : 0;
  switch (v % 4) {
    case 0: return -1;
    case 1: return n;
    case 2: return std::numeric_limits<std::int32_t>::max();
    default: return std::numeric_limits<std::int32_t>::min();
  }
}

std::unique_ptr<scene::Object> polygonObject(FuzzedDataProvider& in) {
  auto o = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  o->name = "Mesh";
  const int points = in.ConsumeIntegralInRange<int>(0, 24);
  for (int i = 0; i < points; ++i) {
    const int how = in.ConsumeIntegralInRange<int>(0, 7);
    if (how == 0 && !o->points.empty()) {  // a repeated point
      o->points.push_back(o->points[in.ConsumeIntegralInRange<std::size_t>(0, o->points.size() - 1)]);
    } else if (how == 1 && o->points.size() >= 2) {  // on the line through two earlier points
      const scene::Point a = o->points[in.ConsumeIntegralInRange<std::size_t>(0, o->points.size() - 1)];
      const scene::Point b = o->points[in.ConsumeIntegralInRange<std::size_t>(0, o->points.size() - 1)];
      const float t = static_cast<float>(in.ConsumeIntegralInRange<int>(-8, 8)) / 4.0f;
      o->points.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
    } else {
      o->points.push_back({coordinate(in), coordinate(in), coordinate(in)});
    }
  }
  const int polygons = in.ConsumeIntegralInRange<int>(0, 40);
  for (int i = 0; i < polygons; ++i) {
    if (in.ConsumeIntegralInRange<int>(0, 9) == 0 && !o->polygons.empty()) {  // a duplicate face
      o->polygons.push_back(o->polygons[in.ConsumeIntegralInRange<std::size_t>(0, o->polygons.size() - 1)]);
      continue;
    }
    scene::Polygon q;
    q.a = pointIndex(in, o->points.size());
    q.b = pointIndex(in, o->points.size());
    q.c = pointIndex(in, o->points.size());
    q.d = in.ConsumeBool() ? q.c : pointIndex(in, o->points.size());
    o->polygons.push_back(q);
  }
  const int tags = in.ConsumeIntegralInRange<int>(0, 4);
  for (int t = 0; t < tags; ++t) {
    const std::string name = "S" + std::to_string(in.ConsumeIntegralInRange<int>(0, 2));
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {
        scene::Tag* tag = o->addTag(sdk::kTagPolygonSelection, name);
        const int count = in.ConsumeIntegralInRange<int>(0, 8);
        for (int k = 0; k < count; ++k) tag->selection.add(in.ConsumeIntegralInRange<std::int32_t>(0, polygons + 2));
        break;
      }
      case 1: {
        scene::Tag* tag = o->addTag(sdk::kTagUVW, "UVW");
        const int count = in.ConsumeBool() ? polygons : in.ConsumeIntegralInRange<int>(0, polygons + 2);
        for (int k = 0; k < count; ++k) {
          scene::UVWEntry e;
          // Finite, as every loader of ours requires; what the module computes from them must be too.
          e.a = {uv(in), uv(in), 0};
          e.b = {uv(in), uv(in), 0};
          e.c = {uv(in), uv(in), 0};
          e.d = e.c;
          tag->uvw.push_back(e);
        }
        break;
      }
      case 2: {
        // Texture tags get their material once the document's materials exist.
        scene::Tag* tag = o->addTag(sdk::kTagTexture, "Texture");
        tag->restriction = in.ConsumeBool() ? name : std::string();
        tag->text = std::to_string(in.ConsumeIntegralInRange<int>(-1, 3));  // material to link
        break;
      }
      default:
        o->addTag(sdk::kTagSmoothing, "Smoothing")->angle = setting(in);
        break;
    }
  }
  return o;
}

std::unique_ptr<scene::Object> anyObject(FuzzedDataProvider& in, int depth) {
  std::unique_ptr<scene::Object> o;
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      o = std::make_unique<scene::Object>(sdk::kObjectNull);
      o->name = "Null";
      break;
    case 1:
      o = std::make_unique<scene::Object>(sdk::kObjectCube);
      o->name = "Cube";
      for (auto& s : o->primitive.size) s = static_cast<double>(in.ConsumeIntegralInRange<int>(-2, 40)) * 5;
      for (auto& s : o->primitive.cubeSegments) s = in.ConsumeIntegralInRange<int>(1, 3);
      break;
    case 2:
      o = std::make_unique<scene::Object>(sdk::kObjectPlane);
      o->name = "Plane";
      o->primitive.width = static_cast<double>(in.ConsumeIntegralInRange<int>(-2, 40)) * 5;
      o->primitive.depth = in.ConsumeBool() ? 1e30 : 100.0;
      for (auto& s : o->primitive.planeSegments) s = in.ConsumeIntegralInRange<int>(1, 3);
      break;
    case 3:
      o = std::make_unique<scene::Object>(sdk::kObjectSphere);
      o->name = "Sphere";
      o->primitive.radius = static_cast<double>(in.ConsumeIntegralInRange<int>(-2, 40)) * 5;
      o->primitive.sphereSegments = in.ConsumeIntegralInRange<int>(3, 8);
      break;
    default:
      o = polygonObject(in);
      break;
  }
  o->selected = in.ConsumeIntegralInRange<int>(0, 3) != 0;
  if (depth < 2) {
    const int children = in.ConsumeIntegralInRange<int>(0, 2);
    for (int i = 0; i < children; ++i) o->children.push_back(anyObject(in, depth + 1));
  }
  return o;
}

void linkMaterials(scene::Object& o, const scene::Document& document) {
  for (auto& tag : o.tags) {
    if (tag->type != sdk::kTagTexture) continue;
    const int index = std::stoi(tag->text);
    tag->text.clear();
    if (index >= 0 && static_cast<std::size_t>(index) < document.materials().size()) {
      tag->material = document.materials()[static_cast<std::size_t>(index)].get();
    }
  }
  for (auto& child : o.children) linkMaterials(*child, document);
}

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

void checkPiece(const scene::Object& o) {
  const auto count = static_cast<std::int32_t>(o.points.size());
  for (const scene::Point& p : o.points) {
    if (!finite(p)) failure("piece " + o.name + " has a point that is not finite");
  }
  for (const scene::Polygon& q : o.polygons) {
    for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
      if (i < 0 || i >= count) failure("piece " + o.name + " has a polygon that names no point");
    }
  }
  // Texture coordinates are the source's, carried over (the tag keeps one entry per source
  // triangle); the inputs' are finite, so must be the pieces'.
  for (const auto& tag : o.tags) {
    for (const scene::UVWEntry& e : tag->uvw) {
      if (!finite(e.a) || !finite(e.b) || !finite(e.c) || !finite(e.d)) failure("piece " + o.name + " has a texture coordinate that is not finite");
    }
  }
  for (const auto& child : o.children) checkPiece(*child);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  testing_support::LinkedHost h;
  scene::Document& document = h.document();
  const int materials = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < materials; ++i) {
    auto m = std::make_unique<scene::Material>();
    m->name = "M" + std::to_string(in.ConsumeIntegralInRange<int>(0, 2));
    m->color = {0.5, in.ConsumeBool() ? 0.2 : 0.9, 0.1};
    document.addMaterial(std::move(m));
  }
  const int objects = in.ConsumeIntegralInRange<int>(1, 3);
  for (int i = 0; i < objects; ++i) {
    auto o = anyObject(in, 0);
    linkMaterials(*o, document);
    document.append(std::move(o));
  }
  document.time.current = {in.ConsumeIntegralInRange<std::int64_t>(-5, 5), in.ConsumeIntegralInRange<std::int64_t>(1, 4)};
  foldra::Settings s;
  s.Originalflag = in.ConsumeBool();
  s.Materialflag = in.ConsumeBool();
  s.Seitenflag = in.ConsumeBool();
  s.Laschenflag = in.ConsumeBool();
  s.Seitenbreite = setting(in);
  s.Seitenhoehe = setting(in);
  s.Laschenbreite = setting(in);
  const std::int32_t layouts[] = {0, 1, 2, -1, 3, std::numeric_limits<std::int32_t>::min()};
  s.AlsAnimation = layouts[in.ConsumeIntegralInRange<std::size_t>(0, 5)];
  const std::int32_t methods[] = {foldra::kUnfoldLongestEdge, foldra::kUnfoldCompact, 7};
  s.Abwicklungsart = methods[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
  s.Nahtspalt = setting(in);
  // Edges a person marked, from what the input has left (so that the findings kept before
  // marks existed read as they did): always cut, never cut, the tab's side, no tab, on any
  // edge, an edge past the polygons among them.
  const std::vector<scene::Object*> all = document.allObjects();
  for (int marks = in.ConsumeIntegralInRange<int>(0, 6); marks > 0 && !all.empty(); --marks) {
    scene::Object* o = all[in.ConsumeIntegralInRange<std::size_t>(0, all.size() - 1)];
    if (o->type != sdk::kObjectPolygon) continue;
    static const char* const kinds[] = {foldra::kEdgesCut, foldra::kEdgesFold, foldra::kEdgesTab, foldra::kEdgesNoTab};
    scene::Tag* tag = o->addTag(sdk::kTagEdgeSelection, kinds[in.ConsumeIntegralInRange<int>(0, 3)]);
    const int count = in.ConsumeIntegralInRange<int>(1, 12);
    const auto last = static_cast<std::int32_t>(4 * o->polygons.size() + 4);
    for (int k = 0; k < count; ++k) tag->selection.add(in.ConsumeIntegralInRange<std::int32_t>(0, last));
  }

  const std::string before = formats::sceneToJson(document);
  // For reading a finding: the scene and the settings of the run.
  static const bool verbose = std::getenv("FOLDRA_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    std::fprintf(stderr, "%s\nsettings: originals %d materials %d page %d (%g x %g) tabs %d (%g) layout %d unfolding %d fold shut %g\n",
                 before.c_str(), s.Originalflag, s.Materialflag, s.Seitenflag, s.Seitenbreite, s.Seitenhoehe,
                 s.Laschenflag, s.Laschenbreite, s.AlsAnimation, s.Abwicklungsart, s.Nahtspalt);
  }
  std::set<const scene::Object*> old;
  for (const scene::Object* o : document.allObjects()) old.insert(o);
  const std::size_t undoSteps = document.undoCount();

  h.execute(s);

  std::size_t added = 0;
  for (const auto& o : document.objects()) {
    if (old.count(o.get())) continue;
    checkPiece(*o);
    ++added;
  }
  runtime::RunReport report;
  std::string reportError;
  if (!runtime::collectRunReport([](const sdk::RunReportSink& sink) { return foldra::describeRun(sink); }, &report,
                                 &reportError)) {
    failure("the run's description: " + reportError);
  }
  if (report.pieces.size() != added) {
    failure("the run's description has " + std::to_string(report.pieces.size()) + " pieces where the run added " +
            std::to_string(added));
  }
  if (job::patternInput(report, "").pieces.size() != added) failure("the pattern's pieces are not the run's");
  testing_support::CheckOptions check = testing_support::CheckOptions::of(s);
  // Points are told apart to an absolute tolerance, which doubles resolve for moderate
  // coordinates only (see CheckOptions::precise).
  for (const auto& list : foldra::run.gtvec) {
    for (const auto& t : list) {
      for (const foldra::Vec3& p : t->P) {
        if (t->usable && std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}) > 1e6) check.precise = false;
      }
    }
  }
  const auto problems = testing_support::checkUnfolding(check);
  if (!problems.empty()) {
    if (verbose) {
      for (const auto& list : foldra::run.gtvec) {
        for (const auto& t : list) {
          std::fprintf(stderr, "triangle %d/%llu piece %d usable %d P", t->objectIndex,
                       static_cast<unsigned long long>(t->serial), t->containerIndex, t->usable);
          for (const foldra::Vec3& q : t->P) std::fprintf(stderr, " (%.9g %.9g %.9g)", q.x, q.y, q.z);
          std::fprintf(stderr, " p");
          for (const foldra::Vec3& q : t->p) std::fprintf(stderr, " (%.9g %.9g)", q.x, q.y);
          std::fprintf(stderr, "\n");
        }
      }
    }
    failure("the unfolding checker: " + problems.front());
  }

  const std::string after = formats::sceneToJson(document);
  if (document.undoCount() == undoSteps) {
    if (after != before) failure("the run changed the document without an undo step");
    return 0;
  }
  if (document.undoCount() != undoSteps + 1) failure("the run made more than one undo step");
  if (!document.undo()) failure("the run cannot be undone");
  if (formats::sceneToJson(document) != before) failure("undo does not give back the document as it was");
  if (!document.redo()) failure("the run cannot be redone");
  if (formats::sceneToJson(document) != after) failure("redo does not give back the run's result");
  return 0;
}
