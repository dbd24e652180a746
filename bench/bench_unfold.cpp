// A whole run through our host on a bumped icosphere, stage by stage: intake, preparation with
// glue tabs, unfolding, scene output. Prints one line of figures; scripts/bench.sh runs one size
// per process (so that the peak memory is that size's) and prints the table.
//
//   bench_unfold LEVELS [--direct] [--page] [--bump B] [--tab W] [--grid N] [--hills N] [--obj FILE]
//
// LEVELS subdivides an icosahedron (radius 100, each point moved in or out by up to 1 %, tabs up
// to 0.2 wide): 4 gives 5,120 triangles, each level four times more. --bump B and --tab W change
// the bump (0.02: 2 % from lowest to highest) and the tab width.
// --direct joins with the direct form (the reference: quadratic). --page turns the page limit
// on. --grid N unfolds a flat grid of N x N quadrangles instead, --hills N a landscape of N x N
// quadrangles of gentle hills. --obj writes the mesh as an OBJ file for timing the foldra
// program, and stops.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "intake/intake.h"
#include "output/output.h"
#include "shell/execute.h"
#include "support.h"
#include "unfold/unfold.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

void writeObj(const scene::Object& object, const char* path) {
  std::ofstream out(path);
  out.precision(9);
  for (const auto& p : object.points) out << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
  for (const auto& f : object.polygons) {
    out << "f " << f.a + 1 << ' ' << f.b + 1 << ' ' << f.c + 1;
    if (f.d != f.c) out << ' ' << f.d + 1;
    out << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_unfold LEVELS [--direct] [--page] [--bump B] [--tab W] [--grid N] [--hills N] [--obj FILE]\n");
    return 2;
  }
  const int levels = std::atoi(argv[1]);
  bool direct = false, page = false;
  int gridSize = 0, hillsSize = 0;
  double bump = 0.02;
  double tab = 0.2;
  const char* obj = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--direct")) direct = true;
    if (!std::strcmp(argv[i], "--page")) page = true;
    if (!std::strcmp(argv[i], "--grid") && i + 1 < argc) gridSize = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--hills") && i + 1 < argc) hillsSize = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--obj") && i + 1 < argc) obj = argv[++i];
    if (!std::strcmp(argv[i], "--bump") && i + 1 < argc) bump = std::atof(argv[++i]);
    if (!std::strcmp(argv[i], "--tab") && i + 1 < argc) tab = std::atof(argv[++i]);
  }
  auto mesh = gridSize > 0    ? testing_support::grid(gridSize, gridSize, 1.0)
              : hillsSize > 0 ? testing_support::hills(hillsSize)
                              : testing_support::bumpySphere(1, levels, 100.0, bump);
  if (obj) {
    writeObj(*mesh, obj);
    return 0;
  }
  testing_support::LinkedHost h;
  h.add(std::move(mesh));
  foldra::settings = foldra::Settings{};
  foldra::settings.Laschenbreite = tab;
  foldra::settings.Seitenflag = page;
  foldra::settings.Originalflag = false;
  foldra::run.activeDocument = foldra::host::api().activeDocument();
  auto& api = foldra::host::api();
  api.startUndo(foldra::run.activeDocument);

  const auto start = Clock::now();
  auto mark = Clock::now();
  foldra::clearTriangleLists();
  foldra::clearContainers();
  foldra::collectObjects();
  const double intake = seconds(mark);
  mark = Clock::now();
  foldra::prepareTriangles();
  foldra::createTabs();
  const double prepare = seconds(mark);
  mark = Clock::now();
  direct ? foldra::AlgokanteDirect() : foldra::Algokante();
  const double unfold = seconds(mark);
  std::size_t triangles = 0;
  for (const auto& list : foldra::run.gtvec) triangles += list.size();
  const int pieces = testing_support::validPieces();
  mark = Clock::now();
  foldra::drawContainer(foldra::layoutMode(foldra::settings.AlsAnimation));
  foldra::releaseCopyDocuments();
  const double output = seconds(mark);
  const double total = seconds(start);
  api.endUndo(foldra::run.activeDocument);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  // triangles intake prepare unfold output total pieces peakMiB bytesPerTriangle
  std::printf("%zu %.3f %.3f %.3f %.3f %.3f %d %.1f %.0f\n", triangles, intake, prepare, unfold, output, total, pieces,
              peakMiB, peakMiB * 1048576.0 / static_cast<double>(triangles));
  return 0;
}
