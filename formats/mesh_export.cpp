// Writing polygon objects with their materials and texture coordinates: OBJ with its MTL, glTF
// (.gltf with its .bin, or one .glb), binary STL and binary PLY. Each file is written in one pass
// from the objects, in time and memory proportional to the mesh. The formats are one table here;
// the grouping of polygons every format receives is mesh_groups.cpp, each writer a file of its
// own.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/mesh_export.h"

namespace formats {

namespace fs = std::filesystem;

namespace detail {

Output::Output(const std::string& path, const std::string& shownPath) : shownPath_(shownPath) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_) std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
}

Output::~Output() {
  if (file_) std::fclose(file_);
}

bool Output::close(std::string* error) {
  const bool opened = file_ != nullptr;
  const bool closed = opened && std::fclose(file_) == 0;
  file_ = nullptr;
  if (!opened || failed_ || !closed) {
    *error = shownPath_ + ": cannot be written";
    return false;
  }
  return true;
}

std::string materialName(const scene::Material* material) { return material ? material->name : "Default"; }

float channel(const scene::Material* material, std::size_t c) {
  const double value = material ? material->color[c] : 0.8;
  if (!std::isfinite(value)) return 0.8f;
  return static_cast<float>(std::clamp(value, 0.0, 1.0));
}

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

}  // namespace detail

namespace {

/// A mesh format: its extension and its writer. Another format is one more row, with its writer
/// in a file of its own.
struct Format {
  const char* extension;
  /// Only OBJ keeps quadrangles: glTF knows triangles only, and STL and PLY readers commonly
  /// expect them.
  bool triangles;
  bool (*write)(const detail::Mesh& mesh, const std::string& path, const MeshExportOptions& options,
                std::string* error);
};

constexpr Format kFormats[] = {
    {".obj", false, detail::writeObj}, {".glb", true, detail::writeGlb}, {".gltf", true, detail::writeGltf},
    {".stl", true, detail::writeStl},  {".ply", true, detail::writePly},
};

const Format* formatOf(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Format& f : kFormats) {
    if (extension == f.extension) return &f;
  }
  return nullptr;
}

// ".obj, .glb, .gltf, .stl and .ply"
std::string extensionList() {
  std::string list;
  const std::size_t count = std::size(kFormats);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " and " : ", ";
    list += kFormats[i].extension;
  }
  return list;
}

}  // namespace

bool canExportMesh(const std::string& path) { return formatOf(path) != nullptr; }

std::vector<std::string> exportExtensions() {
  std::vector<std::string> extensions;
  for (const Format& f : kFormats) extensions.push_back(f.extension);
  return extensions;
}

bool exportMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects,
                const std::string& path, std::string* error, const MeshExportOptions& options) {
  const Format* format = formatOf(path);
  if (!format) {
    const std::string extension = fs::path(path).extension().string();
    const std::string what =
        extension.empty() ? "has no file extension" : "cannot write files of type \"" + extension + "\"";
    *error = path + ": " + what + " (" + extensionList() + " can be written)";
    return false;
  }
  std::string problem;
  const detail::Mesh mesh = detail::buildMesh(document, objects, format->triangles, &problem);
  if (!problem.empty() || mesh.objects.empty()) {
    *error = path + ": " + (problem.empty() ? "nothing to export" : problem);
    return false;
  }
  return format->write(mesh, path, options, error);
}

}  // namespace formats
