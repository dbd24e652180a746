// An object of a document: a polygon object, a parametric primitive, a null or a light, with its
// tags, animation tracks and children.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/tag.h"
#include "scene/track.h"
#include "scene/types.h"

namespace scene {

class Document;

/// Parameters of the parametric kinds; each kind reads only its own fields.
struct PrimitiveParams {
  /// Cube: edge lengths along x, y, z.
  std::array<double, 3> size{200.0, 200.0, 200.0};
  /// Cube: subdivisions along x, y, z (at least 1).
  std::array<std::int32_t, 3> cubeSegments{1, 1, 1};
  /// Plane (in the x-z plane, facing +y): width along x and depth along z.
  double width = 400.0;
  double depth = 400.0;
  /// Plane: subdivisions along x and z (at least 1).
  std::array<std::int32_t, 2> planeSegments{4, 4};
  /// Sphere: radius and number of segments around the equator (at least 3; half as many rings).
  double radius = 100.0;
  std::int32_t sphereSegments = 24;
  /// Light: brightness (1 = 100 %).
  double brightness = 1.0;

  bool operator==(const PrimitiveParams&) const = default;
};

class Object {
 public:
  explicit Object(std::int32_t objectType = sdk::kObjectPolygon) : type(objectType) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  std::int32_t type;
  std::string name = "Object";
  bool selected = false;
  /// Parameters 901 and 902: sdk::kVisibilityOn, kVisibilityOff or kVisibilityDefault.
  std::int32_t editorVisibility = sdk::kVisibilityDefault;
  std::int32_t renderVisibility = sdk::kVisibilityDefault;
  /// Polygon objects only.
  std::vector<Point> points;
  std::vector<Polygon> polygons;
  /// Parametric kinds only.
  PrimitiveParams primitive;
  std::vector<std::unique_ptr<Tag>> tags;
  std::vector<std::unique_ptr<Track>> tracks;
  std::vector<std::unique_ptr<Object>> children;

  /// The object this one stands below; null at the top level or while free.
  Object* parent() const { return parent_; }
  /// The document that owns the object: in its tree, or in its store of removed objects (where
  /// undo finds it). Null while the object is free.
  Document* document() const { return document_; }

  /// The index-th tag of the type in tag order, or null.
  Tag* tag(std::int32_t tagType, std::int32_t index) const;
  Tag* addTag(std::int32_t tagType, const std::string& tagName);
  /// Value of parameter 901 or 902 at a time, following the parameter's track when it has one.
  std::int32_t visibilityAt(std::int32_t parameter, Time time) const;
  /// True for the kinds that have a polygon form.
  bool convertible() const;

  static const char* typeWord(std::int32_t type);
  static std::int32_t typeFromWord(const std::string& word);

 private:
  friend class Document;
  Object* parent_ = nullptr;
  Document* document_ = nullptr;
};

/// A copy of an object with its tags, tracks and subtree. Texture tags are pointed at the
/// materials that `mapMaterial` answers for their old ones.
template <typename MapMaterial>
std::unique_ptr<Object> cloneObject(const Object& source, MapMaterial mapMaterial);

/// A copy of a tag whose material link is mapped by `mapMaterial`.
template <typename MapMaterial>
std::unique_ptr<Tag> cloneTag(const Tag& source, MapMaterial mapMaterial) {
  auto tag = std::make_unique<Tag>(source);
  tag->material = source.material ? mapMaterial(source.material) : nullptr;
  return tag;
}

/// A copy of a track with its curve and keys.
inline std::unique_ptr<Track> cloneTrack(const Track& source) {
  auto track = std::make_unique<Track>();
  track->parameter = source.parameter;
  if (source.curve) {
    track->curve = std::make_unique<Curve>();
    for (const auto& key : source.curve->keys) track->curve->keys.push_back(std::make_unique<Key>(*key));
  }
  return track;
}

template <typename MapMaterial>
std::unique_ptr<Object> cloneObject(const Object& source, MapMaterial mapMaterial) {
  auto copy = std::make_unique<Object>(source.type);
  copy->name = source.name;
  copy->selected = source.selected;
  copy->editorVisibility = source.editorVisibility;
  copy->renderVisibility = source.renderVisibility;
  copy->points = source.points;
  copy->polygons = source.polygons;
  copy->primitive = source.primitive;
  for (const auto& tag : source.tags) copy->tags.push_back(cloneTag(*tag, mapMaterial));
  for (const auto& track : source.tracks) copy->tracks.push_back(cloneTrack(*track));
  for (const auto& child : source.children) copy->children.push_back(cloneObject(*child, mapMaterial));
  return copy;
}

/// Turns every polygon of a polygon object into triangles in place, keeping its texture-coordinate
/// and polygon-selection tags consistent: a triangle takes the texture coordinates of the corners
/// it was cut from, and belongs to every selection its polygon belonged to. A quadrangle is cut
/// along the diagonal a-c unless that would fold one half over (a non-convex quadrangle whose
/// reflex corner is a or c), in which case it is cut along b-d.
void triangulate(Object& object);

/// Where a triangle of an object's triangulated form (as `triangulate` makes it) comes from: its
/// polygon, and the polygon's corners (0..3) it takes, in order.
struct TriangleOrigin {
  std::size_t polygon = 0;
  int corners[3] = {0, 1, 2};
};
std::vector<TriangleOrigin> triangleOrigins(const Object& object);

/// The object's edge (4 x polygon + side) that side j of triangle t of its triangulated form
/// lies on, running the same way; -1 for the diagonal of a quadrangle, which is no edge of the
/// object, and for a triangle past the form.
std::int32_t sourceEdge(const Object& object, const std::vector<TriangleOrigin>& origins, std::size_t t, int j);

/// The polygon form of a cube, plane or sphere, with its texture coordinates; null for other kinds.
std::unique_ptr<Object> primitiveToPolygons(const Object& primitive);

}  // namespace scene
