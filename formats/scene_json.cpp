#include "formats/scene_json.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "formats/files.h"

namespace formats {

using nlohmann::json;

namespace {

// ---- Writing -------------------------------------------------------------------------------

/// A stored 32-bit value as the shortest decimal that reads back as the same float, so that
/// 0.1f is written as 0.1 and not as the double nearest to it.
json number(float value) {
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  double shortest = 0;
  std::from_chars(buffer, r.ptr, shortest);
  return shortest;
}

json point(const scene::Point& p) { return json::array({number(p.x), number(p.y), number(p.z)}); }

json time(scene::Time t) {
  t = scene::normalised(t);
  return json::array({t.numerator, t.denominator});
}

json tagToJson(const scene::Tag& tag, const scene::Document& document) {
  json j;
  j["type"] = scene::Tag::typeWord(tag.type);
  j["name"] = tag.name;
  switch (tag.type) {
    case sdk::kTagTexture: {
      const int index = tag.material ? document.materialIndex(tag.material) : -1;
      j["material"] = index >= 0 ? json(index) : json(nullptr);
      j["restriction"] = tag.restriction;
      break;
    }
    case sdk::kTagUVW: {
      json entries = json::array();
      for (const scene::UVWEntry& e : tag.uvw) entries.push_back({point(e.a), point(e.b), point(e.c), point(e.d)});
      j["uvw"] = std::move(entries);
      break;
    }
    case sdk::kTagPolygonSelection:
      j["polygons"] = json(std::vector<std::int32_t>(tag.selection.indices().begin(), tag.selection.indices().end()));
      break;
    case sdk::kTagSmoothing:
      j["angle"] = tag.angle;
      break;
    case sdk::kTagAnnotation:
      j["text"] = tag.text;
      break;
  }
  return j;
}

json objectToJson(const scene::Object& o, const scene::Document& document) {
  json j;
  j["name"] = o.name;
  j["type"] = scene::Object::typeWord(o.type);
  j["selected"] = o.selected;
  j["editorVisibility"] = o.editorVisibility;
  j["renderVisibility"] = o.renderVisibility;
  const scene::PrimitiveParams& p = o.primitive;
  switch (o.type) {
    case sdk::kObjectPolygon: {
      json points = json::array();
      for (const scene::Point& q : o.points) points.push_back(point(q));
      json polygons = json::array();
      for (const scene::Polygon& q : o.polygons) polygons.push_back({q.a, q.b, q.c, q.d});
      j["points"] = std::move(points);
      j["polygons"] = std::move(polygons);
      break;
    }
    case sdk::kObjectCube:
      j["size"] = p.size;
      j["segments"] = p.cubeSegments;
      break;
    case sdk::kObjectPlane:
      j["width"] = p.width;
      j["depth"] = p.depth;
      j["segments"] = p.planeSegments;
      break;
    case sdk::kObjectSphere:
      j["radius"] = p.radius;
      j["segments"] = p.sphereSegments;
      break;
    case sdk::kObjectLight:
      j["brightness"] = p.brightness;
      break;
  }
  json tags = json::array();
  for (const auto& t : o.tags) tags.push_back(tagToJson(*t, document));
  j["tags"] = std::move(tags);
  json tracks = json::array();
  for (const auto& t : o.tracks) {
    json keys = json::array();
    if (t->curve) {
      for (const auto& k : t->curve->keys) {
        keys.push_back({{"time", time(k->time)}, {"value", k->value}, {"interpolation", k->interpolation}});
      }
    }
    tracks.push_back({{"parameter", t->parameter}, {"keys", std::move(keys)}});
  }
  j["tracks"] = std::move(tracks);
  json children = json::array();
  for (const auto& c : o.children) children.push_back(objectToJson(*c, document));
  j["children"] = std::move(children);
  return j;
}

// ---- Reading -------------------------------------------------------------------------------

/// A failure while reading: where in the file and what is wrong.
struct Failure {
  std::string where;
  std::string what;
};

class Reader {
 public:
  explicit Reader(const scene::Document& document) : document_(document) {}

  const json& at(const json& j, const char* key, const std::string& where) const {
    if (!j.is_object() || !j.contains(key)) throw Failure{where, std::string("missing \"") + key + "\""};
    return j.at(key);
  }
  const json* optional(const json& j, const char* key) const {
    return j.is_object() && j.contains(key) ? &j.at(key) : nullptr;
  }
  std::string text(const json& j, const std::string& where) const {
    if (!j.is_string()) throw Failure{where, "expected a text"};
    return j.get<std::string>();
  }
  bool boolean(const json& j, const std::string& where) const {
    if (!j.is_boolean()) throw Failure{where, "expected true or false"};
    return j.get<bool>();
  }
  double real(const json& j, const std::string& where) const {
    if (!j.is_number()) throw Failure{where, "expected a number"};
    const double v = j.get<double>();
    if (!std::isfinite(v)) throw Failure{where, "not a finite number"};
    return v;
  }
  float single(const json& j, const std::string& where) const {
    const double v = real(j, where);
    if (std::fabs(v) > FLT_MAX) throw Failure{where, "number out of range"};
    return static_cast<float>(v);
  }
  std::int32_t integer(const json& j, const std::string& where) const {
    if (!j.is_number_integer()) throw Failure{where, "expected an integer"};
    const auto v = j.get<std::int64_t>();
    if (v < INT32_MIN || v > INT32_MAX) throw Failure{where, "integer out of range"};
    return static_cast<std::int32_t>(v);
  }
  const json& array(const json& j, const std::string& where, std::size_t size = 0) const {
    if (!j.is_array()) throw Failure{where, "expected a list"};
    if (size && j.size() != size) throw Failure{where, "expected a list of " + std::to_string(size)};
    return j;
  }
  scene::Point point(const json& j, const std::string& where) const {
    array(j, where, 3);
    return {single(j[0], where + "[0]"), single(j[1], where + "[1]"), single(j[2], where + "[2]")};
  }
  scene::Time time(const json& j, const std::string& where) const {
    array(j, where, 2);
    if (!j[0].is_number_integer() || !j[1].is_number_integer()) throw Failure{where, "expected [numerator, denominator]"};
    const auto d = j[1].get<std::int64_t>();
    if (d <= 0) throw Failure{where, "the denominator must be positive"};
    return scene::normalised({j[0].get<std::int64_t>(), d});
  }

  std::unique_ptr<scene::Tag> tag(const json& j, const std::string& where) const {
    auto t = std::make_unique<scene::Tag>();
    const std::string type = text(at(j, "type", where), where + ".type");
    t->name = j.contains("name") ? text(j["name"], where + ".name") : std::string();
    if (type == "texture") {
      t->type = sdk::kTagTexture;
      if (const json* m = optional(j, "material"); m && !m->is_null()) {
        const std::int32_t index = integer(*m, where + ".material");
        if (index < 0 || static_cast<std::size_t>(index) >= document_.materials().size()) {
          throw Failure{where + ".material", "material " + std::to_string(index) + " does not exist (the scene has " +
                                                 std::to_string(document_.materials().size()) + ")"};
        }
        t->material = document_.materials()[static_cast<std::size_t>(index)].get();
      }
      if (const json* r = optional(j, "restriction")) t->restriction = text(*r, where + ".restriction");
    } else if (type == "uvw") {
      t->type = sdk::kTagUVW;
      const json& entries = array(at(j, "uvw", where), where + ".uvw");
      t->uvw.reserve(entries.size());
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string w = where + ".uvw[" + std::to_string(i) + "]";
        const json& e = array(entries[i], w, 4);
        t->uvw.push_back({point(e[0], w + "[0]"), point(e[1], w + "[1]"), point(e[2], w + "[2]"), point(e[3], w + "[3]")});
      }
    } else if (type == "selection") {
      t->type = sdk::kTagPolygonSelection;
      const json& polygons = array(at(j, "polygons", where), where + ".polygons");
      for (std::size_t i = 0; i < polygons.size(); ++i) {
        const std::int32_t index = integer(polygons[i], where + ".polygons[" + std::to_string(i) + "]");
        if (index < 0) throw Failure{where + ".polygons[" + std::to_string(i) + "]", "a polygon index cannot be negative"};
        t->selection.add(index);
      }
    } else if (type == "smoothing") {
      t->type = sdk::kTagSmoothing;
      if (const json* a = optional(j, "angle")) t->angle = real(*a, where + ".angle");
    } else if (type == "annotation") {
      t->type = sdk::kTagAnnotation;
      if (const json* a = optional(j, "text")) t->text = text(*a, where + ".text");
    } else {
      throw Failure{where + ".type", "unknown tag type \"" + type + "\""};
    }
    return t;
  }

  std::unique_ptr<scene::Object> object(const json& j, const std::string& where) const {
    if (!j.is_object()) throw Failure{where, "expected an object"};
    const std::string typeWord = text(at(j, "type", where), where + ".type");
    const std::int32_t type = scene::Object::typeFromWord(typeWord);
    if (type == 0) throw Failure{where + ".type", "unknown object type \"" + typeWord + "\""};
    auto o = std::make_unique<scene::Object>(type);
    o->name = j.contains("name") ? text(j["name"], where + ".name") : std::string(typeWord);
    if (const json* s = optional(j, "selected")) o->selected = boolean(*s, where + ".selected");
    if (const json* v = optional(j, "editorVisibility")) o->editorVisibility = integer(*v, where + ".editorVisibility");
    if (const json* v = optional(j, "renderVisibility")) o->renderVisibility = integer(*v, where + ".renderVisibility");
    scene::PrimitiveParams& p = o->primitive;
    if (type == sdk::kObjectPolygon) {
      const json& points = array(at(j, "points", where), where + ".points");
      o->points.reserve(points.size());
      for (std::size_t i = 0; i < points.size(); ++i) o->points.push_back(point(points[i], where + ".points[" + std::to_string(i) + "]"));
      const json& polygons = array(at(j, "polygons", where), where + ".polygons");
      o->polygons.reserve(polygons.size());
      const auto count = static_cast<std::int64_t>(o->points.size());
      for (std::size_t i = 0; i < polygons.size(); ++i) {
        const std::string w = where + ".polygons[" + std::to_string(i) + "]";
        const json& q = array(polygons[i], w);
        if (q.size() != 3 && q.size() != 4) throw Failure{w, "a polygon has 3 or 4 point indices"};
        std::int32_t index[4];
        for (std::size_t c = 0; c < q.size(); ++c) {
          index[c] = integer(q[c], w + "[" + std::to_string(c) + "]");
          if (index[c] < 0 || index[c] >= count) {
            throw Failure{w, "point index " + std::to_string(index[c]) + " out of range (the object has " +
                                 std::to_string(count) + " points)"};
          }
        }
        if (q.size() == 3) index[3] = index[2];
        o->polygons.push_back({index[0], index[1], index[2], index[3]});
      }
    } else if (type == sdk::kObjectCube) {
      if (const json* s = optional(j, "size")) {
        array(*s, where + ".size", 3);
        for (int i = 0; i < 3; ++i) p.size[static_cast<std::size_t>(i)] = real((*s)[static_cast<std::size_t>(i)], where + ".size");
      }
      if (const json* s = optional(j, "segments")) {
        array(*s, where + ".segments", 3);
        for (int i = 0; i < 3; ++i) p.cubeSegments[static_cast<std::size_t>(i)] = integer((*s)[static_cast<std::size_t>(i)], where + ".segments");
      }
    } else if (type == sdk::kObjectPlane) {
      if (const json* v = optional(j, "width")) p.width = real(*v, where + ".width");
      if (const json* v = optional(j, "depth")) p.depth = real(*v, where + ".depth");
      if (const json* s = optional(j, "segments")) {
        array(*s, where + ".segments", 2);
        for (int i = 0; i < 2; ++i) p.planeSegments[static_cast<std::size_t>(i)] = integer((*s)[static_cast<std::size_t>(i)], where + ".segments");
      }
    } else if (type == sdk::kObjectSphere) {
      if (const json* v = optional(j, "radius")) p.radius = real(*v, where + ".radius");
      if (const json* v = optional(j, "segments")) p.sphereSegments = integer(*v, where + ".segments");
    } else if (type == sdk::kObjectLight) {
      if (const json* v = optional(j, "brightness")) p.brightness = real(*v, where + ".brightness");
    }
    for (int i : {0, 1, 2}) {
      if (p.cubeSegments[static_cast<std::size_t>(i)] < 1 || p.cubeSegments[static_cast<std::size_t>(i)] > 1000) throw Failure{where + ".segments", "segments must be 1 to 1000"};
    }
    if (p.planeSegments[0] < 1 || p.planeSegments[1] < 1 || p.planeSegments[0] > 1000 || p.planeSegments[1] > 1000 ||
        p.sphereSegments < 3 || p.sphereSegments > 1000) {
      throw Failure{where + ".segments", "segments out of range"};
    }
    if (const json* tags = optional(j, "tags")) {
      array(*tags, where + ".tags");
      for (std::size_t i = 0; i < tags->size(); ++i) o->tags.push_back(tag((*tags)[i], where + ".tags[" + std::to_string(i) + "]"));
    }
    if (const json* tracks = optional(j, "tracks")) {
      array(*tracks, where + ".tracks");
      for (std::size_t i = 0; i < tracks->size(); ++i) {
        const std::string w = where + ".tracks[" + std::to_string(i) + "]";
        auto track = std::make_unique<scene::Track>();
        track->parameter = integer(at((*tracks)[i], "parameter", w), w + ".parameter");
        track->curve = std::make_unique<scene::Curve>();
        const json& keys = array(at((*tracks)[i], "keys", w), w + ".keys");
        for (std::size_t k = 0; k < keys.size(); ++k) {
          const std::string kw = w + ".keys[" + std::to_string(k) + "]";
          scene::Key* key = track->curve->keyAt(time(at(keys[k], "time", kw), kw + ".time"));
          key->value = integer(at(keys[k], "value", kw), kw + ".value");
          if (const json* i2 = optional(keys[k], "interpolation")) key->interpolation = integer(*i2, kw + ".interpolation");
        }
        o->tracks.push_back(std::move(track));
      }
    }
    if (const json* children = optional(j, "children")) {
      array(*children, where + ".children");
      for (std::size_t i = 0; i < children->size(); ++i) o->children.push_back(object((*children)[i], where + ".children[" + std::to_string(i) + "]"));
    }
    return o;
  }

 private:
  const scene::Document& document_;
};

}  // namespace

std::string sceneToJson(const scene::Document& document) {
  json j;
  j["format"] = "foldra-scene";
  j["version"] = 1;
  const scene::TimeSettings& t = document.time;
  j["time"] = {{"current", time(t.current)}, {"fps", t.fps}, {"minimum", time(t.minimum)},
               {"maximum", time(t.maximum)}, {"loopStart", time(t.loopMinimum)}, {"loopEnd", time(t.loopMaximum)}};
  json materials = json::array();
  for (const auto& m : document.materials()) {
    materials.push_back({{"name", m->name},
                         {"type", m->type == sdk::kMaterialStandard ? json("standard") : json(m->type)},
                         {"color", m->color},
                         {"texture", m->texture},
                         {"values", m->values}});
  }
  j["materials"] = std::move(materials);
  json objects = json::array();
  for (const auto& o : document.objects()) objects.push_back(objectToJson(*o, document));
  j["objects"] = std::move(objects);
  // Names come from other programs' files in any encoding; bytes that are not UTF-8 become
  // U+FFFD instead of failing the whole scene.
  return j.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::unique_ptr<scene::Document> sceneFromJson(const std::string& text, std::string* error) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::parse_error& e) {
    std::string what = e.what();
    const auto at = what.find("parse error");
    *error = "not valid JSON (" + (at == std::string::npos ? what : what.substr(at)) + ")";
    return nullptr;
  }
  auto doc = std::make_unique<scene::Document>();
  Reader r(*doc);
  try {
    if (!j.is_object() || !j.contains("format") || j["format"] != "foldra-scene") {
      throw Failure{"", "not a scene file (expected \"format\": \"foldra-scene\")"};
    }
    if (!j.contains("version") || !j["version"].is_number_integer() || j["version"].get<int>() != 1) {
      throw Failure{"version", "unsupported version (this program reads version 1)"};
    }
    if (const json* t = r.optional(j, "time")) {
      scene::TimeSettings& ts = doc->time;
      if (const json* v = r.optional(*t, "current")) ts.current = r.time(*v, "time.current");
      if (const json* v = r.optional(*t, "fps")) ts.fps = r.integer(*v, "time.fps");
      if (ts.fps <= 0) throw Failure{"time.fps", "the frame rate must be positive"};
      if (const json* v = r.optional(*t, "minimum")) ts.minimum = r.time(*v, "time.minimum");
      if (const json* v = r.optional(*t, "maximum")) ts.maximum = r.time(*v, "time.maximum");
      if (const json* v = r.optional(*t, "loopStart")) ts.loopMinimum = r.time(*v, "time.loopStart");
      if (const json* v = r.optional(*t, "loopEnd")) ts.loopMaximum = r.time(*v, "time.loopEnd");
    }
    if (const json* materials = r.optional(j, "materials")) {
      r.array(*materials, "materials");
      for (std::size_t i = 0; i < materials->size(); ++i) {
        const std::string w = "materials[" + std::to_string(i) + "]";
        const json& m = (*materials)[i];
        if (!m.is_object()) throw Failure{w, "expected an object"};
        auto material = std::make_unique<scene::Material>();
        if (const json* v = r.optional(m, "name")) material->name = r.text(*v, w + ".name");
        if (const json* v = r.optional(m, "type")) {
          if (v->is_string()) {
            if (*v != "standard") throw Failure{w + ".type", "unknown material type"};
          } else {
            material->type = r.integer(*v, w + ".type");
          }
        }
        if (const json* v = r.optional(m, "color")) {
          r.array(*v, w + ".color", 3);
          for (std::size_t c = 0; c < 3; ++c) material->color[c] = r.real((*v)[c], w + ".color");
        }
        if (const json* v = r.optional(m, "texture")) material->texture = r.text(*v, w + ".texture");
        if (const json* v = r.optional(m, "values")) {
          if (!v->is_object()) throw Failure{w + ".values", "expected an object"};
          for (const auto& [key, value] : v->items()) material->values[key] = r.real(value, w + ".values." + key);
        }
        doc->addMaterial(std::move(material));
      }
    }
    const json& objects = r.array(r.at(j, "objects", ""), "objects");
    for (std::size_t i = 0; i < objects.size(); ++i) doc->append(r.object(objects[i], "objects[" + std::to_string(i) + "]"));
  } catch (const Failure& f) {
    *error = f.where.empty() ? f.what : f.where + ": " + f.what;
    return nullptr;
  } catch (const json::exception& e) {
    *error = std::string("malformed scene (") + e.what() + ")";
    return nullptr;
  }
  return doc;
}

std::unique_ptr<scene::Document> loadScene(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return nullptr;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  if (buffer.str().empty()) {
    *error = path + ": the file is empty";
    return nullptr;
  }
  std::string why;
  auto document = sceneFromJson(buffer.str(), &why);
  if (!document) *error = path + ": " + why;
  return document;
}

bool saveScene(const scene::Document& document, const std::string& path, std::string* error) {
  return writeFileAtomically(path, sceneToJson(document), error);
}

}  // namespace formats
