// The writers alone: loads a scene file (the .json a foldra run wrote) and times each output
// format's writer on it in this process, without intake, unfolding or pattern. Prints one line
// per format: the format, the best of three runs in seconds, and the bytes written (side files
// included). scripts/bench_outputs.sh runs it beside the whole-program table, one format per
// process so that a slow writer can be stopped alone.
//
//   bench_formats SCENE.json FOLDER [.json .obj .glb .gltf .stl .ply]
//
// FOLDER receives the files (each run overwrites the last one's); without a list every format
// is timed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::uintmax_t bytesIn(const fs::path& folder) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::directory_iterator(folder)) total += entry.file_size();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_formats SCENE.json FOLDER [.json .obj .glb .gltf .stl .ply]\n");
    return 2;
  }
  std::string error;
  const auto document = formats::loadScene(argv[1], &error);
  if (!document) {
    std::fprintf(stderr, "bench_formats: %s\n", error.c_str());
    return 1;
  }
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : document->allObjects()) objects.push_back(o);

  std::vector<std::string> extensions(argv + 3, argv + argc);
  if (extensions.empty()) extensions = {".json", ".obj", ".glb", ".gltf", ".stl", ".ply"};
  for (const std::string& extension : extensions) {
    const fs::path folder = fs::path(argv[2]) / ("writer" + extension);
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / ("r" + extension)).string();
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
      const auto start = Clock::now();
      const bool ok = extension == ".json" ? formats::saveScene(*document, path, &error)
                                                        : formats::exportMesh(*document, objects, path, &error);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (!ok) {
        std::fprintf(stderr, "bench_formats: %s\n", error.c_str());
        return 1;
      }
      best = std::min(best, seconds);
    }
    std::printf("%s %.4f %ju\n", extension.c_str(), best, bytesIn(folder));
    std::fflush(stdout);
  }
  return 0;
}
