#include "studio/scene_view.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "formats/mesh_io.h"

namespace studio {

namespace {

using nlohmann::json;

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

double channel(double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.8; }

json timeJson(scene::Time t) {
  t = scene::normalised(t);
  return json::array({t.numerator, t.denominator});
}

/// Geometry of one polygon object: triangles with their material index, and tabs.
void addGeometry(const scene::Document& document, const scene::Object& object, bool piece,
                 const std::map<const scene::Material*, int>& materialIndex, json& out) {
  json points = json::array(), triangles = json::array(), materials = json::array(), tabs = json::array();
  json uv = json::array();
  const scene::Tag* uvw = object.tag(sdk::kTagUVW, 0);
  bool anyUV = false;
  auto corner = [&](std::size_t polygon, int k) {
    scene::Point p{};
    if (uvw && polygon < uvw->uvw.size()) {
      const scene::UVWEntry& e = uvw->uvw[polygon];
      p = k == 0 ? e.a : k == 1 ? e.b : k == 2 ? e.c : e.d;
      anyUV = true;
    }
    uv.push_back(std::isfinite(p.x) ? p.x : 0.0);
    uv.push_back(std::isfinite(p.y) ? p.y : 0.0);
  };
  const auto count = static_cast<std::int64_t>(object.points.size());
  std::vector<bool> good(object.points.size());
  for (std::size_t i = 0; i < object.points.size(); ++i) {
    const scene::Point& p = object.points[i];
    good[i] = finite(p);
    points.push_back(good[i] ? p.x : 0.0);
    points.push_back(good[i] ? p.y : 0.0);
    points.push_back(good[i] ? p.z : 0.0);
  }
  auto usable = [&](std::int32_t i) { return i >= 0 && i < count && good[static_cast<std::size_t>(i)]; };
  const auto polygonMaterial = formats::polygonMaterials(document, object);
  for (std::size_t k = 0; k < object.polygons.size(); ++k) {
    const scene::Polygon& q = object.polygons[k];
    const bool triangle = scene::isTriangle(q);
    if (!usable(q.a) || !usable(q.b) || !usable(q.c) || (!triangle && !usable(q.d))) continue;
    if (piece && !triangle) {
      tabs.insert(tabs.end(), {q.a, q.b, q.c, q.a, q.c, q.d});
      continue;
    }
    auto it = polygonMaterial[k] ? materialIndex.find(polygonMaterial[k]) : materialIndex.end();
    const int m = it == materialIndex.end() ? -1 : it->second;
    triangles.insert(triangles.end(), {q.a, q.b, q.c});
    materials.push_back(m);
    corner(k, 0), corner(k, 1), corner(k, 2);
    if (!triangle) {
      triangles.insert(triangles.end(), {q.a, q.c, q.d});
      materials.push_back(m);
      corner(k, 0), corner(k, 2), corner(k, 3);
    }
  }
  out["points"] = std::move(points);
  out["triangles"] = std::move(triangles);
  out["materials"] = std::move(materials);
  out["tabs"] = std::move(tabs);
  if (anyUV) out["uv"] = std::move(uv);
}

}  // namespace

json sceneView(const scene::Document& document, const std::map<const scene::Object*, int>& pieces) {
  json view;
  std::map<const scene::Material*, int> materialIndex;
  json materials = json::array();
  for (const auto& m : document.materials()) {
    materialIndex[m.get()] = static_cast<int>(materials.size());
    json entry = {{"name", m->name}, {"color", {channel(m->color[0]), channel(m->color[1]), channel(m->color[2])}}};
    if (!m->texture.empty()) entry["texture"] = materials.size();
    materials.push_back(std::move(entry));
  }
  view["materials"] = std::move(materials);
  view["time"] = {{"fps", document.time.fps > 0 ? document.time.fps : 30},
                  {"minimum", timeJson(document.time.minimum)},
                  {"maximum", timeJson(document.time.maximum)}};
  json objects = json::array();
  std::map<const scene::Object*, int> index;
  for (const scene::Object* o : document.allObjects()) {
    index[o] = static_cast<int>(objects.size());
    json entry;
    entry["name"] = o->name;
    const auto parent = o->parent() ? index.find(o->parent()) : index.end();
    entry["parent"] = parent == index.end() ? -1 : parent->second;
    const auto piece = pieces.find(o);
    entry["piece"] = piece == pieces.end() ? -1 : piece->second;
    entry["visibility"] = o->editorVisibility;
    json keys = json::array();
    for (const auto& track : o->tracks) {
      if (track->parameter != sdk::kObjectEditorVisibility || !track->curve) continue;
      for (const auto& key : track->curve->keys) {
        const scene::Time t = scene::normalised(key->time);
        keys.push_back({t.numerator, t.denominator, key->value, key->interpolation});
      }
      break;
    }
    entry["keys"] = std::move(keys);
    if (o->type == sdk::kObjectPolygon) {
      addGeometry(document, *o, piece != pieces.end(), materialIndex, entry);
    } else if (auto form = scene::primitiveToPolygons(*o)) {
      addGeometry(document, *form, false, materialIndex, entry);
    }
    objects.push_back(std::move(entry));
  }
  view["objects"] = std::move(objects);
  return view;
}

}  // namespace studio
