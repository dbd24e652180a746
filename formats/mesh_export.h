// What the mesh writers share: the mesh as every file receives it (the objects' polygons grouped
// by material, corners sharing vertices), a buffered output file, and the small conversions of
// names, colours and numbers. Each format's writer has a file of its own (mesh_obj.cpp,
// mesh_gltf.cpp, mesh_stl.cpp, mesh_ply.cpp); exportMesh (mesh_export.cpp) picks one by the
// path's extension.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "formats/mesh_io.h"
#include "scene/document.h"

namespace formats::detail {

// The binary formats are written from memory as it is: all of them are little-endian.
static_assert(std::endian::native == std::endian::little);

/// The polygons of one object that use one material. Corners share a vertex when they have the
/// same position and the same texture coordinate.
struct Primitive {
  /// Index into Mesh::materials.
  std::size_t material = 0;
  /// x, y, z of each vertex.
  std::vector<float> positions;
  /// u, v of each vertex, as the document holds them; empty when the object has no texture
  /// coordinates.
  std::vector<float> uvs;
  /// The object's point of each vertex (the first point at its position).
  std::vector<std::uint32_t> points;
  /// Vertex indices, polygon after polygon.
  std::vector<std::uint32_t> corners;
  /// Corners of each polygon: 3, or 4 for a quadrangle in a format that keeps them.
  std::vector<std::uint8_t> sizes;

  std::size_t vertexCount() const { return positions.size() / 3; }
};

struct MeshObject {
  std::string name;
  bool hasUVs = false;
  /// One per material the object uses, in the order of Mesh::materials.
  std::vector<Primitive> primitives;
};

/// What a file receives: the materials in use, in the document's order with the grey default
/// (null) last, and the polygon objects that have polygons.
struct Mesh {
  std::vector<const scene::Material*> materials;
  std::vector<MeshObject> objects;
  bool anyUVs = false;
};

inline constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

/// The bits of a coordinate, with -0 made 0 so that equal numbers give equal bits.
inline std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value + 0.0f); }

/// The objects as the format receives them, or an empty mesh with *problem set. Quadrangles are
/// cut into triangles with the host's own rule where `triangles` asks for them, on a copy of one
/// object at a time, so that selections and texture coordinates follow.
Mesh buildMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects, bool triangles,
               std::string* problem);

/// A file written through a large buffer; the first failure is kept.
class Output {
 public:
  Output(const std::string& path, const std::string& shownPath);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  void write(const void* data, std::size_t size) {
    if (file_ && size && std::fwrite(data, 1, size, file_) != size) failed_ = true;
  }
  void write(std::string_view text) { write(text.data(), text.size()); }
  template <typename T>
  void writeArray(const std::vector<T>& values) {
    write(values.data(), values.size() * sizeof(T));
  }
  template <typename T>
  void writeValue(const T& value) {
    write(&value, sizeof value);
  }

  /// Closes the file; false with *error naming it when anything failed.
  bool close(std::string* error);

 private:
  std::FILE* file_ = nullptr;
  std::string shownPath_;
  bool failed_ = false;
};

/// Appends the shortest text that reads back as the same float.
inline void appendNumber(std::string& out, float value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

inline void appendNumber(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

/// The material's name in a file; "Default" for the grey default.
std::string materialName(const scene::Material* material);

/// A colour channel as the formats take it: a number from 0 to 1.
float channel(const scene::Material* material, std::size_t c);

/// Text on one line of a line-based file: line breaks and other control characters would end
/// the line or the name early.
std::string oneLine(std::string text);

// The writers, one per format. Each writes its files under temporary names and renames them
// when all are complete; false with *error naming the file.

/// OBJ with its MTL beside it.
bool writeObj(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error);
/// One GLB file.
bool writeGlb(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error);
/// glTF with its .bin beside it.
bool writeGltf(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error);
/// Binary STL.
bool writeStl(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error);
/// Binary PLY.
bool writePly(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error);

}  // namespace formats::detail
