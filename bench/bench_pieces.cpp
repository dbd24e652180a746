// The pieces an unfolding method makes, as a person who cuts and glues them sees them: how
// many, how many of a single triangle or smaller than 1 cm², how much cutting, how many tabs,
// how many cut edges have none, how many sheets they take, and how long the unfolding took.
//
//   bench_pieces MESH METHOD [--size MM | --height MM] [--tab MM] [--fold-shut MM] [--page WxH]
//                [--margin MM] [--no-page] [--bare-seams] [--draw FILE]
//
// MESH is a mesh file, or a generated mesh: sphere:LEVELS (a bumpy icosphere, 20 * 4^LEVELS
// triangles), smooth:LEVELS (the same without bumps), torus:AROUNDxTUBE (2 triangles per
// quadrangle), terrain:N (N x N quadrangles of random heights), hills:N (N x N quadrangles of
// gentle hills, 2 N^2 triangles). METHOD is compact or longest-edge. The model is scaled so that
// its largest dimension is --size millimetres (150), or its height (y extent) --height
// millimetres; the page limit is on (--no-page: off, as for mesh or scene output), the page
// --page (210x297) less --margin (10) on every side; --bare-seams lets compact leave seams
// without a tab; tabs are --tab millimetres (6 for compact, 17 for longest-edge,
// the program's defaults); compact folds shut the seams inside a piece that open at most
// --fold-shut millimetres (0.2, the program's default). --draw writes the pattern (line art, every fold drawn) to FILE
// (.pdf, .svg or .png), to look at.
//
// Prints one line: mesh triangles method pieces parts singles under-1cm2 cut-edges cut-mm tabs
// untabbed sheets median-edge-mm seconds cpu-seconds peak-MiB. `parts` counts the pieces whose
// triangles fall apart into more than one part through their folds; `untabbed` the cut edges
// without a tab on either side; the method is "compact-bare" with --bare-seams. The seconds are
// those of the unfolding stage alone (with the glue tabs it makes), as the host runs it after
// intake and preparation: wall-clock time, and the processor time the stage took, which other
// work on the machine changes less; the peak memory is the process's largest resident size up
// to the end of the unfolding, before the figures are counted.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "formats/mesh_io.h"
#include "geometry/kernel.h"
#include "host/run_state.h"
#include "intake/intake.h"
#include "pattern/pattern.h"
#include "shell/execute.h"
#include "support.h"
#include "unfold/unfold.h"

namespace {

using Clock = std::chrono::steady_clock;
using foldra::gt;

struct Figures {
  int pieces = 0, parts = 0, singles = 0, small = 0, cuts = 0, tabs = 0, untabbed = 0, sheets = 0;
  double cutLength = 0, medianEdge = 0;
};

/// True when the piece's triangles are not all joined to its first through folds.
bool fallsApart(const foldra::gtc& piece) {
  std::unordered_set<const gt*> reached{piece.triangles.front()};
  std::vector<const gt*> stack{piece.triangles.front()};
  while (!stack.empty()) {
    const gt* t = stack.back();
    stack.pop_back();
    for (int k = 0; k < 3; ++k) {
      const gt* g = t->nb[k];
      if (g && foldra::isFold(*t, k) && reached.insert(g).second) stack.push_back(g);
    }
  }
  return reached.size() != piece.triangles.size();
}

std::unique_ptr<scene::Object> generated(const std::string& mesh) {
  const auto colon = mesh.find(':');
  if (colon == std::string::npos) return nullptr;
  const std::string kind = mesh.substr(0, colon), size = mesh.substr(colon + 1);
  if (kind == "sphere") return testing_support::bumpySphere(1, std::atoi(size.c_str()), 100.0, 0.1);
  if (kind == "smooth") return testing_support::bumpySphere(1, std::atoi(size.c_str()), 100.0, 0.0);
  if (kind == "hills") return testing_support::hills(std::atoi(size.c_str()));
  if (kind == "terrain") return testing_support::terrain(1, std::atoi(size.c_str()));
  if (kind == "torus") {
    const auto x = size.find('x');
    if (x == std::string::npos) return nullptr;
    return testing_support::torus(std::atoi(size.substr(0, x).c_str()), std::atoi(size.substr(x + 1).c_str()), 10, 4);
  }
  return nullptr;
}

/// Processor time of this process: steadier than the clock on a machine shared with other work.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double areaOf(const gt& t) { return foldra::length(foldra::cross(t.P[1] - t.P[0], t.P[2] - t.P[0])) / 2; }

pattern::Point2 flat(foldra::Vec3 v) { return {v.x, v.y}; }

/// Counts what the run state holds; `scale` is millimetres per model unit. With `drawing`, also
/// writes the pattern there.
Figures measure(double scale, const pattern::PatternOptions& paper, const std::string& drawing) {
  Figures f;
  pattern::PatternInput input;
  for (const auto& c : foldra::run.containers) {
    if (!c->valid || c->triangles.empty()) continue;
    ++f.pieces;
    double area = 0;
    pattern::Piece piece;
    for (const gt* t : c->triangles) {
      area += areaOf(*t);
      pattern::Triangle triangle;
      for (int k = 0; k < 3; ++k) triangle.p[static_cast<std::size_t>(k)] = flat(t->p[k]);
      piece.triangles.push_back(triangle);
      for (int k = 0; k < 3; ++k) {
        const bool fold = foldra::isFold(*t, k);
        if (!fold || t->serial < t->nb[k]->serial) {
          pattern::Edge edge;
          edge.a = flat(t->p[k]);
          edge.b = flat(t->p[(k + 1) % 3]);
          edge.kind = fold ? pattern::EdgeKind::Mountain : pattern::EdgeKind::Cut;
          edge.foldDegrees = 90;
          piece.edges.push_back(edge);
        }
        if (!t->placedLugs[k][0]) continue;
        ++f.tabs;
        pattern::Tab tab;
        tab.corners = {flat(t->p[(k + 1) % 3]), flat(t->p[k]), flat(*t->placedLugs[k][1]), flat(*t->placedLugs[k][0])};
        piece.tabs.push_back(tab);
      }
    }
    if (c->triangles.size() == 1) ++f.singles;
    if (fallsApart(*c)) ++f.parts;
    if (area * scale * scale < 100) ++f.small;
    input.pieces.push_back(std::move(piece));
  }
  std::vector<double> edges;
  for (const auto& list : foldra::run.gtvec) {
    for (const auto& t : list) {
      if (!t->usable) continue;
      for (int k = 0; k < 3; ++k) edges.push_back(foldra::length(t->P[(k + 1) % 3] - t->P[k]) * scale);
      for (int k = 0; k < 3; ++k) {
        const gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (!g || s < 0 || !g->usable || g->nb[s] != t.get() || t->serial > g->serial) continue;
        if (foldra::isFold(*t, k)) continue;
        ++f.cuts;
        f.cutLength += foldra::length(t->P[(k + 1) % 3] - t->P[k]) * scale;
        if (!t->placedLugs[k][0] && !g->placedLugs[s][0]) ++f.untabbed;
      }
    }
  }
  if (!edges.empty()) {
    std::nth_element(edges.begin(), edges.begin() + static_cast<std::ptrdiff_t>(edges.size() / 2), edges.end());
    f.medianEdge = edges[edges.size() / 2];
  }
  pattern::PatternOptions options = paper;
  options.scale = scale;
  f.sheets = pattern::packPattern(input, options).sheets;
  if (!drawing.empty()) {
    options.fill = false;
    pattern::PatternReport report;
    std::string error;
    if (!pattern::writePattern(input, options, drawing, &report, &error)) std::fprintf(stderr, "bench_pieces: %s\n", error.c_str());
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_pieces MESH compact|longest-edge [--size MM] [--tab MM] [--fold-shut MM] [--page WxH] [--margin MM] [--no-page]\n");
    return 2;
  }
  const std::string mesh = argv[1];
  const std::string method = argv[2];
  if (method != "compact" && method != "longest-edge") {
    std::fprintf(stderr, "bench_pieces: unknown method %s\n", method.c_str());
    return 2;
  }
  const bool compact = method == "compact";
  double size = 150, tab = compact ? 6 : 17, foldShut = 0.2;
  std::string drawing;
  pattern::PatternOptions paper;
  bool bareSeams = false, pageLimit = true;
  double height = 0;
  for (int i = 3; i < argc; ++i) {
    // Flags take no value.
    if (!std::strcmp(argv[i], "--no-page")) {
      pageLimit = false;
      continue;
    }
    if (!std::strcmp(argv[i], "--bare-seams")) {
      bareSeams = true;
      continue;
    }
    if (i + 1 == argc) break;
    if (!std::strcmp(argv[i], "--height")) height = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--size")) size = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--tab")) tab = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--fold-shut")) foldShut = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--margin")) paper.margin = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--draw")) drawing = argv[i + 1];
    if (!std::strcmp(argv[i], "--page") && std::sscanf(argv[i + 1], "%lfx%lf", &paper.pageWidth, &paper.pageHeight) != 2) {
      std::fprintf(stderr, "bench_pieces: --page WxH\n");
      return 2;
    }
    ++i;
  }

  testing_support::LinkedHost h;
  std::string name = mesh;
  if (auto object = generated(mesh)) {
    h.add(std::move(object));
  } else {
    std::string error;
    if (!formats::importMesh(mesh, h.document(), &error)) {
      std::fprintf(stderr, "bench_pieces: %s\n", error.c_str());
      return 1;
    }
    name = mesh.substr(mesh.find_last_of('/') + 1);
  }
  double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
  for (const auto& o : h.document().objects()) {
    o->selected = true;
    for (const auto& p : o->points) {
      const double v[3] = {p.x, p.y, p.z};
      for (int i = 0; i < 3; ++i) low[i] = std::min(low[i], v[i]), high[i] = std::max(high[i], v[i]);
    }
  }
  const double largest = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
  const double scale = height > 0 ? height / (high[1] - low[1]) : size / largest;

  foldra::Settings& s = foldra::settings;
  s = foldra::Settings{};
  s.Originalflag = false;
  s.Seitenflag = pageLimit;
  s.Seitenbreite = (paper.pageWidth - 2 * paper.margin) / scale;
  s.Seitenhoehe = (paper.pageHeight - 2 * paper.margin) / scale;
  s.Laschenbreite = tab / scale;
  s.Nahtspalt = foldShut / scale;
  s.OffeneNaehte = bareSeams;
  s.Abwicklungsart = compact ? foldra::kUnfoldCompact : foldra::kUnfoldLongestEdge;
  foldra::run.activeDocument = foldra::host::api().activeDocument();
  foldra::clearTriangleLists();
  foldra::clearContainers();
  foldra::collectObjects();
  foldra::prepareTriangles();
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  foldra::unfoldTriangles();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuStart;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  std::size_t triangles = 0;
  for (const auto& list : foldra::run.gtvec) triangles += list.size();
  const Figures f = measure(scale, paper, drawing);
  foldra::releaseCopyDocuments();
  const std::string shown = compact && bareSeams ? "compact-bare" : method;
  std::printf("%s %zu %s %d %d %d %d %d %.0f %d %d %d %.1f %.3f %.3f %.1f\n", name.c_str(), triangles, shown.c_str(), f.pieces,
              f.parts, f.singles, f.small, f.cuts, f.cutLength, f.tabs, f.untabbed, f.sheets, f.medianEdge, seconds, cpu, peakMiB);
  return 0;
}
