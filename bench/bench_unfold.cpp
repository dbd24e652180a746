// Time of preparation plus unfolding on generated closed meshes, the number of pieces and the
// peak memory. Run through scripts/bench.sh, which runs one size per process so that the peak
// memory belongs to that size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "geometry/kernel.h"
#include "intake/intake.h"
#include "support.h"
#include "unfold/unfold.h"

namespace {

using namespace testing_support;

/// A torus of about `triangles` triangles: closed, folds both ways, many equal edges.
std::unique_ptr<scene::Object> closedMesh(int triangles) {
  const int quads = triangles / 2;
  const int tube = std::max(8, static_cast<int>(std::sqrt(quads / 2.5)));
  const int around = quads / tube;
  return torus(around, tube, 10.0, 3.0);
}

void PrepareAndUnfold(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  LinkedHost h;
  h.add(closedMesh(size));
  foldra::settings = foldra::Settings{};
  foldra::settings.Laschenbreite = 0.2;
  foldra::run.activeDocument = foldra::host::api().activeDocument();
  std::size_t triangles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    foldra::clearContainers();
    foldra::clearTriangleLists();
    foldra::collectObjects();
    state.ResumeTiming();
    foldra::prepareTriangles();
    foldra::Algokante();
    triangles = foldra::run.gtvec[0].size();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["triangles"] = static_cast<double>(triangles);
  state.counters["pieces"] = validPieces();
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(PrepareAndUnfold)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
