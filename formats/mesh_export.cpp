// Writing polygon objects with their materials and texture coordinates: OBJ with its MTL, glTF
// (.gltf with its .bin, or one .glb), binary STL and binary PLY. Each file is written in one pass
// from the objects, in time and memory proportional to the mesh.
#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/files.h"
#include "formats/json_writer.h"
#include "formats/mesh_io.h"

namespace formats {

namespace fs = std::filesystem;

namespace {

// The binary formats are written from memory as it is: all of them are little-endian.
static_assert(std::endian::native == std::endian::little);

enum class Kind { Obj, Glb, Gltf, Stl, Ply };

struct Format {
  const char* extension;
  Kind kind;
  /// Only OBJ keeps quadrangles: glTF knows triangles only, and STL and PLY readers commonly
  /// expect them.
  bool triangles;
};

constexpr Format kFormats[] = {
    {".obj", Kind::Obj, false}, {".glb", Kind::Glb, true}, {".gltf", Kind::Gltf, true},
    {".stl", Kind::Stl, true},  {".ply", Kind::Ply, true},
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

const scene::Tag* findSelection(const scene::Object& object, const std::string& name) {
  for (const auto& tag : object.tags) {
    if (tag->type == sdk::kTagPolygonSelection && tag->name == name) return tag.get();
  }
  return nullptr;
}

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

/// Why the object cannot be written as it is, or empty: every index must name a point, and no
/// coordinate may be NaN or infinite, because those would reach the file.
std::string objectProblem(const scene::Object& object) {
  const auto size = static_cast<std::int64_t>(object.points.size());
  for (const scene::Polygon& q : object.polygons) {
    for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
      if (i < 0 || i >= size) return "a polygon of \"" + object.name + "\" names a point that does not exist";
    }
  }
  for (const scene::Point& p : object.points) {
    if (!finite(p)) return "a point of \"" + object.name + "\" is not a finite number";
  }
  if (const scene::Tag* uvw = object.tag(sdk::kTagUVW, 0)) {
    for (const scene::UVWEntry& e : uvw->uvw) {
      if (!finite(e.a) || !finite(e.b) || !finite(e.c) || !finite(e.d)) {
        return "a texture coordinate of \"" + object.name + "\" is not a finite number";
      }
    }
  }
  return {};
}

// ---- The mesh as the files receive it --------------------------------------------------------

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

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

/// The bits of a coordinate, with -0 made 0 so that equal numbers give equal bits.
std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value + 0.0f); }

/// For each point of the object, the first point at exactly the same position. The unfolding
/// gives the triangles of a piece corners of their own; the files share one vertex between
/// them (readers weld such corners anyway), which keeps the files at the size of the surface.
std::vector<std::uint32_t> samePosition(const std::vector<scene::Point>& points) {
  struct Hash {
    std::size_t operator()(const std::array<std::uint32_t, 3>& k) const {
      std::uint64_t h = k[0];
      h = h * 0x9E3779B97F4A7C15ull ^ k[1];
      h = h * 0x9E3779B97F4A7C15ull ^ k[2];
      return static_cast<std::size_t>(h ^ (h >> 29));
    }
  };
  std::unordered_map<std::array<std::uint32_t, 3>, std::uint32_t, Hash> firstAt;
  firstAt.reserve(points.size());
  std::vector<std::uint32_t> same(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const scene::Point& p = points[i];
    same[i] = firstAt.try_emplace({bitsOf(p.x), bitsOf(p.y), bitsOf(p.z)}, static_cast<std::uint32_t>(i)).first->second;
  }
  return same;
}

/// The object's polygons grouped by material into primitives. The materials are recorded as
/// pointers in `materialOf` (one per primitive) until the whole mesh's order is known.
MeshObject groupByMaterial(const scene::Document& document, const scene::Object& object,
                           std::vector<const scene::Material*>* materialOf) {
  MeshObject out;
  out.name = object.name;
  const scene::Tag* uvwTag = object.tag(sdk::kTagUVW, 0);
  out.hasUVs = uvwTag != nullptr;
  const std::vector<const scene::Material*> materials = polygonMaterials(document, object);
  const std::vector<std::uint32_t> same = samePosition(object.points);

  // The vertices made so far at each position, as a chain through `vertices`: few corners
  // meet at one position, so a walk along the chain finds a corner's vertex in constant time.
  struct Vertex {
    std::uint32_t next;
    std::uint32_t primitive;
    std::uint32_t u, v;
    std::uint32_t index;
  };
  std::vector<std::uint32_t> first(object.points.size(), kNone);
  std::vector<Vertex> vertices;
  vertices.reserve(object.polygons.size() * 2);
  for (std::size_t p = 0; p < object.polygons.size(); ++p) {
    const auto slot = static_cast<std::uint32_t>(
        std::find(materialOf->begin(), materialOf->end(), materials[p]) - materialOf->begin());
    if (slot == materialOf->size()) {
      materialOf->push_back(materials[p]);
      out.primitives.emplace_back();
    }
    Primitive& primitive = out.primitives[slot];
    const scene::Polygon& q = object.polygons[p];
    const scene::UVWEntry uvw = uvwTag && p < uvwTag->uvw.size() ? uvwTag->uvw[p] : scene::UVWEntry{};
    const std::int32_t points[4] = {q.a, q.b, q.c, q.d};
    const scene::Point cornerUVs[4] = {uvw.a, uvw.b, uvw.c, uvw.d};
    const int count = scene::isTriangle(q) ? 3 : 4;
    for (int k = 0; k < count; ++k) {
      const std::uint32_t point = same[static_cast<std::size_t>(points[k])];
      const float u = cornerUVs[k].x + 0.0f, v = cornerUVs[k].y + 0.0f;
      const std::uint32_t uBits = bitsOf(u), vBits = bitsOf(v);
      std::uint32_t found = first[point];
      while (found != kNone &&
             !(vertices[found].primitive == slot && vertices[found].u == uBits && vertices[found].v == vBits)) {
        found = vertices[found].next;
      }
      if (found == kNone) {
        const auto index = static_cast<std::uint32_t>(primitive.vertexCount());
        const scene::Point& position = object.points[point];
        primitive.positions.insert(primitive.positions.end(), {position.x, position.y, position.z});
        if (out.hasUVs) primitive.uvs.insert(primitive.uvs.end(), {u, v});
        primitive.points.push_back(point);
        found = static_cast<std::uint32_t>(vertices.size());
        vertices.push_back({first[point], slot, uBits, vBits, index});
        first[point] = found;
      }
      primitive.corners.push_back(vertices[found].index);
    }
    primitive.sizes.push_back(static_cast<std::uint8_t>(count));
  }
  return out;
}

/// The objects as the format receives them, or an empty mesh with *problem set. Quadrangles are
/// cut into triangles with the host's own rule where the format needs them, on a copy of one
/// object at a time, so that selections and texture coordinates follow.
Mesh buildMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects,
               const Format& format, std::string* problem) {
  Mesh mesh;
  std::vector<std::vector<const scene::Material*>> materialsOf;
  for (const scene::Object* object : objects) {
    if (!object || object->type != sdk::kObjectPolygon || object->polygons.empty()) continue;
    *problem = objectProblem(*object);
    if (!problem->empty()) return {};
    std::vector<const scene::Material*>& materialOf = materialsOf.emplace_back();
    if (format.triangles) {
      auto copy = std::make_unique<scene::Object>(sdk::kObjectPolygon);
      copy->name = object->name;
      copy->points = object->points;
      copy->polygons = object->polygons;
      for (const auto& tag : object->tags) {
        copy->tags.push_back(scene::cloneTag(*tag, [](scene::Material* m) { return m; }));
      }
      scene::triangulate(*copy);
      mesh.objects.push_back(groupByMaterial(document, *copy, &materialOf));
    } else {
      mesh.objects.push_back(groupByMaterial(document, *object, &materialOf));
    }
    mesh.anyUVs = mesh.anyUVs || mesh.objects.back().hasUVs;
  }
  for (const auto& materialOf : materialsOf) {
    for (const scene::Material* m : materialOf) {
      if (std::find(mesh.materials.begin(), mesh.materials.end(), m) == mesh.materials.end()) mesh.materials.push_back(m);
    }
  }
  const auto order = [&](const scene::Material* m) {
    return m ? document.materialIndex(m) : std::numeric_limits<int>::max();
  };
  std::sort(mesh.materials.begin(), mesh.materials.end(),
            [&](const scene::Material* a, const scene::Material* b) { return order(a) < order(b); });
  for (std::size_t o = 0; o < mesh.objects.size(); ++o) {
    std::vector<Primitive>& primitives = mesh.objects[o].primitives;
    for (std::size_t p = 0; p < primitives.size(); ++p) {
      primitives[p].material = static_cast<std::size_t>(
          std::find(mesh.materials.begin(), mesh.materials.end(), materialsOf[o][p]) - mesh.materials.begin());
    }
    std::sort(primitives.begin(), primitives.end(),
              [](const Primitive& a, const Primitive& b) { return a.material < b.material; });
  }
  return mesh;
}

std::string materialName(const scene::Material* material) { return material ? material->name : "Default"; }

/// A colour channel as the formats take it: a number from 0 to 1.
float channel(const scene::Material* material, std::size_t c) {
  const double value = material ? material->color[c] : 0.8;
  if (!std::isfinite(value)) return 0.8f;
  return static_cast<float>(std::clamp(value, 0.0, 1.0));
}

/// Text on one line of a line-based file: line breaks and other control characters would end
/// the line or the name early.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

// ---- Files -------------------------------------------------------------------------------------

/// A file written through a large buffer; the first failure is kept.
class Output {
 public:
  Output(const std::string& path, const std::string& shownPath) : shownPath_(shownPath) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_) std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (file_) std::fclose(file_);
  }

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
  bool close(std::string* error) {
    const bool opened = file_ != nullptr;
    const bool closed = opened && std::fclose(file_) == 0;
    file_ = nullptr;
    if (!opened || failed_ || !closed) {
      *error = shownPath_ + ": cannot be written";
      return false;
    }
    return true;
  }

 private:
  std::FILE* file_ = nullptr;
  std::string shownPath_;
  bool failed_ = false;
};

/// Appends the shortest text that reads back as the same float.
void appendNumber(std::string& out, float value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

void appendNumber(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

// ---- OBJ and MTL -------------------------------------------------------------------------------

/// OBJ: each object as a group ("g", which readers take with the whole line as its name, where
/// "o" often ends at a space) with its points ("v", each once, in the order of first use) and
/// its distinct texture coordinates ("vt", likewise), then its polygons after "usemtl" for each
/// material; the materials in the MTL file beside it.
bool writeObj(const Mesh& mesh, const std::string& path, std::string* error) {
  const fs::path mtlPath = fs::path(path).replace_extension(".mtl");
  StagedFiles files;
  {
    Output obj(files.stage(path), path);
    std::string text = "# Foldra\nmtllib " + oneLine(mtlPath.filename().string()) + "\n";
    const auto flushIfLarge = [&] {
      if (text.size() < (1 << 20)) return;
      obj.write(text);
      text.clear();
    };
    std::uint64_t pointBase = 1, uvBase = 1;
    std::vector<std::uint32_t> pointNumber;
    std::unordered_map<std::uint64_t, std::uint32_t> uvNumber;
    for (const MeshObject& object : mesh.objects) {
      text += "g " + oneLine(object.name) + "\n";
      // Numbers within the object, given in the order of first use.
      pointNumber.clear();
      uvNumber.clear();
      std::vector<std::vector<std::uint32_t>> vertexPoint, vertexUV;
      std::uint32_t points = 0;
      for (const Primitive& primitive : object.primitives) {
        std::vector<std::uint32_t>& ofPoint = vertexPoint.emplace_back(primitive.vertexCount());
        vertexUV.emplace_back(object.hasUVs ? primitive.vertexCount() : 0);
        for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
          const std::uint32_t point = primitive.points[v];
          if (point >= pointNumber.size()) pointNumber.resize(point + 1, kNone);
          if (pointNumber[point] == kNone) {
            pointNumber[point] = points++;
            text += "v ";
            appendNumber(text, primitive.positions[3 * v]);
            text += ' ';
            appendNumber(text, primitive.positions[3 * v + 1]);
            text += ' ';
            appendNumber(text, primitive.positions[3 * v + 2]);
            text += '\n';
            flushIfLarge();
          }
          ofPoint[v] = pointNumber[point];
        }
      }
      if (object.hasUVs) {
        for (std::size_t p = 0; p < object.primitives.size(); ++p) {
          const Primitive& primitive = object.primitives[p];
          for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
            const float u = primitive.uvs[2 * v], w = primitive.uvs[2 * v + 1];
            const std::uint64_t key = std::uint64_t{bitsOf(u)} << 32 | bitsOf(w);
            const auto [it, added] = uvNumber.try_emplace(key, static_cast<std::uint32_t>(uvNumber.size()));
            if (added) {
              text += "vt ";
              appendNumber(text, u);
              text += ' ';
              appendNumber(text, w);
              text += '\n';
              flushIfLarge();
            }
            vertexUV[p][v] = it->second;
          }
        }
      }
      for (std::size_t p = 0; p < object.primitives.size(); ++p) {
        const Primitive& primitive = object.primitives[p];
        text += "usemtl " + oneLine(materialName(mesh.materials[primitive.material])) + "\n";
        std::size_t corner = 0;
        for (const std::uint8_t size : primitive.sizes) {
          text += 'f';
          for (std::uint8_t k = 0; k < size; ++k, ++corner) {
            const std::uint32_t vertex = primitive.corners[corner];
            text += ' ';
            appendNumber(text, pointBase + vertexPoint[p][vertex]);
            if (object.hasUVs) {
              text += '/';
              appendNumber(text, uvBase + vertexUV[p][vertex]);
            }
          }
          text += '\n';
          flushIfLarge();
        }
      }
      pointBase += points;
      uvBase += uvNumber.size();
    }
    obj.write(text);
    if (!obj.close(error)) return false;
  }
  {
    Output mtl(files.stage(mtlPath.string()), mtlPath.string());
    std::string text = "# Foldra\n";
    for (const scene::Material* material : mesh.materials) {
      text += "\nnewmtl " + oneLine(materialName(material)) + "\nKd";
      for (std::size_t c = 0; c < 3; ++c) {
        text += ' ';
        appendNumber(text, channel(material, c));
      }
      text += '\n';
      // The path is written as the document holds it.
      if (material && !material->texture.empty()) text += "map_Kd " + oneLine(material->texture) + "\n";
    }
    mtl.write(text);
    if (!mtl.close(error)) return false;
  }
  return files.commit(error);
}

// ---- glTF and GLB ------------------------------------------------------------------------------

constexpr int kFloat = 5126;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

/// A texture image of the file: its path as the document holds it, and its bytes when it is
/// embedded.
struct Image {
  std::string path;
  std::string bytes;
  const char* mimeType = nullptr;
};

/// Reads a texture image to embed; glTF takes PNG and JPEG only, told by their first bytes.
bool readImage(Image& image, std::string* error) {
  std::ifstream in(image.path, std::ios::binary);
  image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    *error = image.path + ": the texture cannot be read";
    return false;
  }
  if (image.bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
    image.mimeType = "image/png";
  } else if (image.bytes.compare(0, 3, "\xff\xd8\xff") == 0) {
    image.mimeType = "image/jpeg";
  } else {
    *error = image.path + ": the texture " + (image.bytes.empty() ? "cannot be read" : "is neither PNG nor JPEG") +
             ", which a glTF file can embed";
    return false;
  }
  return true;
}

std::size_t padded(std::size_t size) { return (size + 3) / 4 * 4; }

/// The binary buffer: every primitive's positions, then the texture coordinates of those that
/// have them, then every primitive's corner indices, then the embedded images, each padded to
/// four bytes. Positions and texture coordinates are each one buffer view with a stride, the
/// indices one more, each image one of its own.
struct Layout {
  std::size_t positions = 0, uvs = 0, indices = 0, images = 0;
  std::size_t total() const { return positions + uvs + indices + images; }
};

Layout layoutOf(const Mesh& mesh, const std::vector<Image>& images) {
  Layout layout;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      layout.positions += primitive.positions.size() * sizeof(float);
      layout.uvs += primitive.uvs.size() * sizeof(float);
      layout.indices += primitive.corners.size() * sizeof(std::uint32_t);
    }
  }
  for (const Image& image : images) layout.images += padded(image.bytes.size());
  return layout;
}

/// The glTF JSON of the mesh. `bufferUri` names the .bin file; empty for the GLB's own chunk.
std::string gltfJson(const Mesh& mesh, const std::vector<Image>& images,
                     const std::vector<std::size_t>& imageOf, const Layout& layout, const std::string& bufferUri) {
  JsonWriter out;
  out.beginObject();
  out.key("asset");
  out.beginObject(JsonLayout::Inline);
  out.textMember("version", "2.0");
  out.textMember("generator", "Foldra");
  out.endObject();
  out.integerMember("scene", 0);
  out.key("scenes");
  out.beginArray();
  out.beginObject(JsonLayout::Inline);
  out.key("nodes");
  out.beginArray();
  for (std::size_t o = 0; o < mesh.objects.size(); ++o) out.integer(static_cast<std::int64_t>(o));
  out.endArray();
  out.endObject();
  out.endArray();

  out.key("nodes");
  out.beginArray();
  for (std::size_t o = 0; o < mesh.objects.size(); ++o) {
    out.beginObject(JsonLayout::Inline);
    out.textMember("name", mesh.objects[o].name);
    out.integerMember("mesh", static_cast<std::int64_t>(o));
    out.endObject();
  }
  out.endArray();

  // Accessors in the order the meshes name them: per primitive its positions, its texture
  // coordinates where the object has them, and its indices.
  out.key("meshes");
  out.beginArray();
  std::int64_t accessor = 0;
  for (const MeshObject& object : mesh.objects) {
    out.beginObject(JsonLayout::Inline);
    out.textMember("name", object.name);
    out.key("primitives");
    out.beginArray();
    for (const Primitive& primitive : object.primitives) {
      out.beginObject();
      out.key("attributes");
      out.beginObject();
      out.integerMember("POSITION", accessor++);
      if (object.hasUVs) {
        out.integerMember("TEXCOORD_0", accessor++);
      }
      out.endObject();
      out.integerMember("indices", accessor++);
      out.integerMember("material", static_cast<std::int64_t>(primitive.material));
      out.endObject();
    }
    out.endArray();
    out.endObject();
  }
  out.endArray();

  out.key("materials");
  out.beginArray();
  for (std::size_t m = 0; m < mesh.materials.size(); ++m) {
    const scene::Material* material = mesh.materials[m];
    out.beginObject(JsonLayout::Inline);
    out.textMember("name", materialName(material));
    out.key("pbrMetallicRoughness");
    out.beginObject();
    out.key("baseColorFactor");
    out.beginArray();
    for (std::size_t c = 0; c < 3; ++c) out.number(channel(material, c));
    out.number(1.0f);
    out.endArray();
    if (imageOf[m] != kNone) {
      out.key("baseColorTexture");
      out.beginObject();
      out.integerMember("index", static_cast<std::int64_t>(imageOf[m]));
      out.endObject();
    }
    // Paper is matte.
    out.integerMember("metallicFactor", 0);
    out.endObject();
    out.endObject();
  }
  out.endArray();

  if (!images.empty()) {
    out.key("textures");
    out.beginArray();
    for (std::size_t i = 0; i < images.size(); ++i) {
      out.beginObject(JsonLayout::Inline);
      out.integerMember("source", static_cast<std::int64_t>(i));
      out.endObject();
    }
    out.endArray();
  }

  const std::int64_t positionView = 0;
  const std::int64_t uvView = layout.uvs ? 1 : -1;
  const std::int64_t indexView = layout.uvs ? 2 : 1;
  if (!images.empty()) {
    out.key("images");
    out.beginArray();
    std::int64_t view = indexView + 1;
    for (const Image& image : images) {
      out.beginObject(JsonLayout::Inline);
      if (image.mimeType) {
        out.integerMember("bufferView", view++);
        out.textMember("mimeType", image.mimeType);
      } else {
        // The path is written as the document holds it.
        out.textMember("uri", image.path);
      }
      out.endObject();
    }
    out.endArray();
  }

  const auto accessorEntry = [&](std::int64_t view, std::size_t offset, std::size_t count, int component,
                                 const char* type) {
    out.beginObject(JsonLayout::Inline);
    out.integerMember("bufferView", view);
    out.integerMember("byteOffset", static_cast<std::int64_t>(offset));
    out.integerMember("componentType", component);
    out.integerMember("count", static_cast<std::int64_t>(count));
    out.textMember("type", type);
  };
  out.key("accessors");
  out.beginArray();
  std::size_t positionOffset = 0, uvOffset = 0, indexOffset = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      accessorEntry(positionView, positionOffset, primitive.vertexCount(), kFloat, "VEC3");
      // Readers need the bounds of the positions.
      std::array<float, 3> low{}, high{};
      for (std::size_t c = 0; c < 3; ++c) low[c] = high[c] = primitive.positions[c];
      for (std::size_t i = 0; i < primitive.positions.size(); ++i) {
        low[i % 3] = std::min(low[i % 3], primitive.positions[i]);
        high[i % 3] = std::max(high[i % 3], primitive.positions[i]);
      }
      out.key("min");
      out.beginArray();
      for (float v : low) out.number(v);
      out.endArray();
      out.key("max");
      out.beginArray();
      for (float v : high) out.number(v);
      out.endArray();
      out.endObject();
      positionOffset += primitive.positions.size() * sizeof(float);
      if (object.hasUVs) {
        accessorEntry(uvView, uvOffset, primitive.vertexCount(), kFloat, "VEC2");
        out.endObject();
        uvOffset += primitive.uvs.size() * sizeof(float);
      }
      accessorEntry(indexView, indexOffset, primitive.corners.size(), kUnsignedInt, "SCALAR");
      out.endObject();
      indexOffset += primitive.corners.size() * sizeof(std::uint32_t);
    }
  }
  out.endArray();

  const auto view = [&](std::size_t offset, std::size_t length, int stride, int target) {
    out.beginObject(JsonLayout::Inline);
    out.integerMember("buffer", 0);
    out.integerMember("byteOffset", static_cast<std::int64_t>(offset));
    out.integerMember("byteLength", static_cast<std::int64_t>(length));
    // Several accessors share the attribute views, which the format allows only with a stride.
    if (stride) {
      out.integerMember("byteStride", stride);
    }
    if (target) {
      out.integerMember("target", target);
    }
    out.endObject();
  };
  out.key("bufferViews");
  out.beginArray();
  view(0, layout.positions, 12, kArrayBuffer);
  if (layout.uvs) view(layout.positions, layout.uvs, 8, kArrayBuffer);
  view(layout.positions + layout.uvs, layout.indices, 0, kElementArrayBuffer);
  std::size_t imageOffset = layout.positions + layout.uvs + layout.indices;
  for (const Image& image : images) {
    if (!image.mimeType) continue;
    view(imageOffset, image.bytes.size(), 0, 0);
    imageOffset += padded(image.bytes.size());
  }
  out.endArray();

  out.key("buffers");
  out.beginArray();
  out.beginObject(JsonLayout::Inline);
  out.integerMember("byteLength", static_cast<std::int64_t>(layout.total()));
  if (!bufferUri.empty()) {
    out.textMember("uri", bufferUri);
  }
  out.endObject();
  out.endArray();
  out.endObject();
  out.finish();
  return out.takeText();
}

/// Writes the binary buffer as layoutOf lays it out. glTF counts texture coordinates from the
/// top of the image, the document from the bottom.
void writeBuffer(Output& out, const Mesh& mesh, const std::vector<Image>& images) {
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) out.writeArray(primitive.positions);
  }
  std::vector<float> flipped;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      flipped = primitive.uvs;
      for (std::size_t i = 1; i < flipped.size(); i += 2) flipped[i] = 1.0f - flipped[i];
      out.writeArray(flipped);
    }
  }
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) out.writeArray(primitive.corners);
  }
  for (const Image& image : images) {
    if (!image.mimeType) continue;
    out.write(image.bytes);
    out.write(std::string(padded(image.bytes.size()) - image.bytes.size(), '\0'));
  }
}

bool writeGltf(const Mesh& mesh, const Format& format, const std::string& path, const MeshExportOptions& options,
               std::string* error) {
  // One image per texture path, in the order of first use.
  std::vector<Image> images;
  std::vector<std::size_t> imageOf(mesh.materials.size(), kNone);
  for (std::size_t m = 0; m < mesh.materials.size(); ++m) {
    const scene::Material* material = mesh.materials[m];
    if (!material || material->texture.empty()) continue;
    const auto same = std::find_if(images.begin(), images.end(), [&](const Image& i) { return i.path == material->texture; });
    imageOf[m] = static_cast<std::size_t>(same - images.begin());
    if (same != images.end()) continue;
    Image& image = images.emplace_back();
    image.path = material->texture;
    if (options.embedTextures && !readImage(image, error)) return false;
  }
  const Layout layout = layoutOf(mesh, images);
  StagedFiles files;
  if (format.kind == Kind::Glb) {
    std::string json = gltfJson(mesh, images, imageOf, layout, "");
    json.resize(padded(json.size()), ' ');
    const std::size_t bin = padded(layout.total());
    const std::uint64_t total = 12 + 8 + json.size() + 8 + bin;
    if (total > std::numeric_limits<std::uint32_t>::max()) {
      *error = path + ": the mesh is too large for a GLB file (4 GB at most)";
      return false;
    }
    Output out(files.stage(path), path);
    const std::uint32_t header[5] = {0x46546C67, 2, static_cast<std::uint32_t>(total),
                                     static_cast<std::uint32_t>(json.size()), 0x4E4F534A};
    out.write(header, sizeof header);
    out.write(json);
    const std::uint32_t binHeader[2] = {static_cast<std::uint32_t>(bin), 0x004E4942};
    out.write(binHeader, sizeof binHeader);
    writeBuffer(out, mesh, images);
    out.write(std::string(bin - layout.total(), '\0'));
    if (!out.close(error)) return false;
  } else {
    const fs::path binPath = fs::path(path).replace_extension(".bin");
    // The name is not percent-encoded: Assimp's reader (ours too) takes the uri literally, and
    // a plain name stays readable for lenient readers as well.
    const std::string json = gltfJson(mesh, images, imageOf, layout, binPath.filename().string());
    Output gltf(files.stage(path), path);
    gltf.write(json);
    if (!gltf.close(error)) return false;
    Output out(files.stage(binPath.string()), binPath.string());
    writeBuffer(out, mesh, images);
    if (!out.close(error)) return false;
  }
  return files.commit(error);
}

// ---- STL and PLY -------------------------------------------------------------------------------

/// Binary STL: every triangle with its unit normal (zero for a triangle without area).
bool writeStl(const Mesh& mesh, const std::string& path, std::string* error) {
  std::uint64_t count = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) count += primitive.sizes.size();
  }
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    *error = path + ": too many triangles for an STL file";
    return false;
  }
  StagedFiles files;
  Output out(files.stage(path), path);
  // The header must not start with "solid", which marks a text STL.
  char header[80];
  std::memset(header, ' ', sizeof header);
  std::memcpy(header, "Foldra binary STL", 17);
  out.write(header, sizeof header);
  out.writeValue(static_cast<std::uint32_t>(count));
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      for (std::size_t t = 0; t < primitive.sizes.size(); ++t) {
        float record[12];
        for (std::size_t k = 0; k < 3; ++k) {
          std::memcpy(record + 3 + 3 * k, &primitive.positions[3 * primitive.corners[3 * t + k]], 3 * sizeof(float));
        }
        const double ux = record[6] - record[3], uy = record[7] - record[4], uz = record[8] - record[5];
        const double vx = record[9] - record[3], vy = record[10] - record[4], vz = record[11] - record[5];
        double n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (std::size_t c = 0; c < 3; ++c) {
          const double unit = length > 0 && std::isfinite(length) ? n[c] / length : 0.0;
          record[c] = static_cast<float>(unit);
        }
        out.write(record, sizeof record);
        const std::uint16_t attributes = 0;
        out.writeValue(attributes);
      }
    }
  }
  if (!out.close(error)) return false;
  return files.commit(error);
}

/// Binary PLY: one vertex list (with s and t where any object has texture coordinates) and
/// the triangles. The first texture goes into the header as the comment readers look for.
bool writePly(const Mesh& mesh, const std::string& path, std::string* error) {
  std::uint64_t vertices = 0, faces = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      vertices += primitive.vertexCount();
      faces += primitive.sizes.size();
    }
  }
  if (vertices > std::numeric_limits<std::int32_t>::max()) {
    *error = path + ": too many vertices for a PLY file";
    return false;
  }
  std::string header = "ply\nformat binary_little_endian 1.0\ncomment Foldra\n";
  for (const scene::Material* material : mesh.materials) {
    if (material && !material->texture.empty()) {
      header += "comment TextureFile " + oneLine(material->texture) + "\n";
      break;
    }
  }
  header += "element vertex ";
  appendNumber(header, vertices);
  header += "\nproperty float x\nproperty float y\nproperty float z\n";
  if (mesh.anyUVs) header += "property float s\nproperty float t\n";
  header += "element face ";
  appendNumber(header, faces);
  header += "\nproperty list uchar int vertex_index\nend_header\n";

  StagedFiles files;
  Output out(files.stage(path), path);
  out.write(header);
  std::vector<float> row;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      if (!mesh.anyUVs) {
        out.writeArray(primitive.positions);
        continue;
      }
      row.clear();
      for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
        row.insert(row.end(), primitive.positions.begin() + static_cast<std::ptrdiff_t>(3 * v),
                   primitive.positions.begin() + static_cast<std::ptrdiff_t>(3 * v + 3));
        if (object.hasUVs) {
          row.insert(row.end(), {primitive.uvs[2 * v], primitive.uvs[2 * v + 1]});
        } else {
          row.insert(row.end(), {0.0f, 0.0f});
        }
      }
      out.writeArray(row);
    }
  }
  std::int32_t base = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      for (std::size_t t = 0; t < primitive.sizes.size(); ++t) {
        char record[13];
        record[0] = 3;
        for (std::size_t k = 0; k < 3; ++k) {
          const std::int32_t index = base + static_cast<std::int32_t>(primitive.corners[3 * t + k]);
          std::memcpy(record + 1 + 4 * k, &index, 4);
        }
        out.write(record, sizeof record);
      }
      base += static_cast<std::int32_t>(primitive.vertexCount());
    }
  }
  if (!out.close(error)) return false;
  return files.commit(error);
}

}  // namespace

/// The material of each polygon as the host assigns it: the last texture tag whose restriction
/// names a selection holding the polygon; for polygons no such tag covers, the last unrestricted
/// texture tag; null where neither exists. Links to materials outside the document count as no
/// link.
std::vector<const scene::Material*> polygonMaterials(const scene::Document& document,
                                                     const scene::Object& object) {
  const std::size_t count = object.polygons.size();
  std::vector<const scene::Material*> materials(count, nullptr);
  std::vector<bool> restricted(count, false);
  const scene::Material* unrestricted = nullptr;
  for (const auto& tag : object.tags) {
    if (tag->type != sdk::kTagTexture || !tag->material || document.materialIndex(tag->material) < 0) {
      continue;
    }
    if (tag->restriction.empty()) {
      unrestricted = tag->material;
      continue;
    }
    const scene::Tag* selection = findSelection(object, tag->restriction);
    if (!selection) continue;
    for (std::int32_t p : selection->selection.indices()) {
      if (p < 0 || static_cast<std::size_t>(p) >= count) continue;
      materials[static_cast<std::size_t>(p)] = tag->material;
      restricted[static_cast<std::size_t>(p)] = true;
    }
  }
  for (std::size_t p = 0; p < count; ++p) {
    if (!restricted[p]) materials[p] = unrestricted;
  }
  return materials;
}

bool canExportMesh(const std::string& path) { return formatOf(path) != nullptr; }

bool exportMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects,
                const std::string& path, std::string* error, const MeshExportOptions& options) {
  const Format* format = formatOf(path);
  if (!format) {
    const std::string extension = fs::path(path).extension().string();
    const std::string what =
        extension.empty() ? "has no file extension" : "cannot write files of type \"" + extension + "\"";
    *error = path + ": " + what + " (.obj, .glb, .gltf, .stl and .ply can be written)";
    return false;
  }
  std::string problem;
  const Mesh mesh = buildMesh(document, objects, *format, &problem);
  if (!problem.empty() || mesh.objects.empty()) {
    *error = path + ": " + (problem.empty() ? "nothing to export" : problem);
    return false;
  }
  switch (format->kind) {
    case Kind::Obj: return writeObj(mesh, path, error);
    case Kind::Glb:
    case Kind::Gltf: return writeGltf(mesh, *format, path, options, error);
    case Kind::Stl: return writeStl(mesh, path, error);
    case Kind::Ply: return writePly(mesh, path, error);
  }
  return false;
}

}  // namespace formats
