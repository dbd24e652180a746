// The mesh as every writer receives it: each object's polygons grouped by material into
// primitives, corners with the same position and texture coordinate sharing one vertex, and the
// materials in the document's order. Also the host's rule for which material a polygon uses.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/mesh_export.h"

namespace formats {

namespace {

const scene::Tag* findSelection(const scene::Object& object, const std::string& name) {
  for (const auto& tag : object.tags) {
    if (tag->type == sdk::kTagPolygonSelection && tag->name == name) return tag.get();
  }
  return nullptr;
}

}  // namespace

namespace detail {

namespace {

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

}  // namespace

Mesh buildMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects, bool triangles,
               std::string* problem) {
  Mesh mesh;
  std::vector<std::vector<const scene::Material*>> materialsOf;
  for (const scene::Object* object : objects) {
    if (!object || object->type != sdk::kObjectPolygon || object->polygons.empty()) continue;
    *problem = objectProblem(*object);
    if (!problem->empty()) return {};
    std::vector<const scene::Material*>& materialOf = materialsOf.emplace_back();
    if (triangles) {
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

}  // namespace detail

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

}  // namespace formats
