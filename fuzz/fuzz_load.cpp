// Fuzz target: every file loader of our host on arbitrary bytes. The first byte picks the
// format (native scene JSON, or a mesh file of one of the extensions Assimp reads); the rest is
// the file. A loader must answer with a document or an error, never crash, and a document it
// answers must be sound: finite coordinates, point indices in range, one texture coordinate
// entry per polygon, a scene file that reads back to the same text, and mesh files that can be
// written (each input in one of the formats, picked by its size).
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "scene/document.h"

namespace {

const char* const kExtensions[] = {".json", ".obj", ".stl", ".ply", ".glb", ".gltf"};
constexpr std::size_t kFormats = sizeof kExtensions / sizeof kExtensions[0];

[[noreturn]] void failure(const char* what) {
  std::fprintf(stderr, "fuzz_load: %s\n", what);
  std::abort();
}

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

std::string scratchFile(const char* extension) {
  static const std::string base =
      (std::filesystem::temp_directory_path() / ("foldra-fuzz-load-" + std::to_string(getpid()))).string();
  return base + extension;
}

/// Writes the document's polygon objects as a mesh file of the format, which must succeed
/// for every sound document that has a polygon to write.
void checkWritable(const scene::Document& document, const char* extension) {
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : document.allObjects()) objects.push_back(o);
  const std::string path = scratchFile(extension) + ".out";
  const std::string file = path + extension;
  std::string error;
  if (!formats::exportMesh(document, objects, file, &error) && error.find("nothing to export") == std::string::npos) {
    std::fprintf(stderr, "%s\n", error.c_str());
    failure("a sound document cannot be written as a mesh file");
  }
  for (const char* side : {".mtl", ".bin"}) std::remove((path + side).c_str());
  std::remove(file.c_str());
}

void checkDocument(const scene::Document& document) {
  for (const scene::Object* o : document.allObjects()) {
    const auto count = static_cast<std::int32_t>(o->points.size());
    for (const scene::Point& p : o->points) {
      if (!finite(p)) failure("a loaded point is not finite");
    }
    for (const scene::Polygon& q : o->polygons) {
      for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
        if (i < 0 || i >= count) failure("a loaded polygon names a point that does not exist");
      }
    }
    for (const auto& tag : o->tags) {
      for (const scene::UVWEntry& e : tag->uvw) {
        if (!finite(e.a) || !finite(e.b) || !finite(e.c) || !finite(e.d)) failure("a texture coordinate is not finite");
      }
    }
  }
  for (const auto& m : document.materials()) {
    for (double c : m->color) {
      if (!std::isfinite(c)) failure("a material colour is not finite");
    }
  }
  // What we write we read back, to the same text.
  const std::string text = formats::sceneToJson(document);
  std::string error;
  const auto again = formats::sceneFromJson(text, &error);
  if (!again) {
    std::fprintf(stderr, "%s\n", error.c_str());
    failure("a document's own scene text does not read back");
  }
  if (formats::sceneToJson(*again) != text) failure("a document's scene text reads back differently");
  checkWritable(document, kExtensions[1 + text.size() % (kFormats - 1)]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t format = data[0] % kFormats;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;
  if (format == 0) {
    const auto document = formats::sceneFromJson(bytes, &error);
    if (document) checkDocument(*document);
    else if (error.empty()) failure("the scene reader refused without saying why");
    return 0;
  }
  const std::string path = scratchFile(kExtensions[format]);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  scene::Document document;
  if (formats::importMesh(path, document, &error)) {
    checkDocument(document);
  } else {
    if (error.rfind(path, 0) != 0) failure("an import error does not start with the file's name");
    if (!document.objects().empty()) failure("a failed import left objects in the document");
  }
  std::remove(path.c_str());
  return 0;
}
