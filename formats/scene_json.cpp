#include "formats/scene_json.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "formats/files.h"
#include "formats/json_writer.h"

namespace formats {

using nlohmann::json;

namespace {

// ---- Writing -------------------------------------------------------------------------------

/// Writes a document as it goes: the structure (objects, tags, materials) one member per line
/// so that a scene stays readable and its changes show line by line, and the data (points,
/// polygons, texture coordinates, selections) each list on one line, so that the file grows
/// with the mesh by the bytes of its numbers alone, whatever its size.
class SceneWriter {
 public:
  SceneWriter(JsonWriter& out, const scene::Document& document) : out_(out), document_(document) {}

  void write() {
    out_.beginObject();
    out_.textMember("format", "foldra-scene");
    out_.integerMember("version", 1);
    const scene::TimeSettings& t = document_.time;
    out_.key("time");
    out_.beginObject();
    time("current", t.current);
    out_.integerMember("fps", t.fps);
    time("minimum", t.minimum);
    time("maximum", t.maximum);
    time("loopStart", t.loopMinimum);
    time("loopEnd", t.loopMaximum);
    out_.endObject();
    out_.key("materials");
    out_.beginArray();
    for (const auto& m : document_.materials()) material(*m);
    out_.endArray();
    out_.key("objects");
    out_.beginArray();
    for (const auto& o : document_.objects()) object(*o);
    out_.endArray();
    out_.endObject();
    out_.finish();
  }

  /// The first number that could not be written (NaN or infinite), with its owner; empty when
  /// every number was finite.
  const std::string& problem() const { return problem_; }

 private:
  void note(const char* kind, const std::string& name, const char* what) {
    if (problem_.empty()) problem_ = std::string(kind) + " \"" + name + "\": " + what + " is not a finite number";
  }
  void real(double value, const scene::Object& owner, const char* what) {
    if (!out_.number(value)) note("object", owner.name, what);
  }
  void point(const scene::Point& p, const scene::Object& owner, const char* what) {
    out_.beginArray(JsonLayout::Inline);
    bool finite = out_.number(p.x);
    finite = out_.number(p.y) && finite;
    finite = out_.number(p.z) && finite;
    out_.endArray();
    if (!finite) note("object", owner.name, what);
  }
  void time(const char* key, scene::Time t) {
    t = scene::normalised(t);
    out_.key(key);
    out_.beginArray(JsonLayout::Inline);
    out_.integer(t.numerator);
    out_.integer(t.denominator);
    out_.endArray();
  }

  void material(const scene::Material& m) {
    out_.beginObject();
    out_.textMember("name", m.name);
    out_.key("type");
    if (m.type == sdk::kMaterialStandard) {
      out_.string("standard");
    } else {
      out_.integer(m.type);
    }
    out_.key("color");
    out_.beginArray(JsonLayout::Inline);
    bool finite = true;
    for (double c : m.color) finite = out_.number(c) && finite;
    out_.endArray();
    if (!finite) note("material", m.name, "the colour");
    out_.textMember("texture", m.texture);
    out_.key("values");
    out_.beginObject();
    for (const auto& [key, value] : m.values) {
      out_.key(key);
      if (!out_.number(value)) note("material", m.name, "a value");
    }
    out_.endObject();
    out_.endObject();
  }

  void tag(const scene::Tag& tag, const scene::Object& owner) {
    out_.beginObject();
    out_.textMember("type", scene::Tag::typeWord(tag.type));
    out_.textMember("name", tag.name);
    switch (tag.type) {
      case sdk::kTagTexture: {
        const int index = tag.material ? document_.materialIndex(tag.material) : -1;
        out_.key("material");
        if (index >= 0) {
          out_.integer(index);
        } else {
          out_.null();
        }
        out_.textMember("restriction", tag.restriction);
        break;
      }
      case sdk::kTagUVW:
        out_.key("uvw");
        out_.beginArray(JsonLayout::Inline);
        for (const scene::UVWEntry& e : tag.uvw) {
          out_.beginArray();
          for (const scene::Point* p : {&e.a, &e.b, &e.c, &e.d}) point(*p, owner, "a texture coordinate");
          out_.endArray();
        }
        out_.endArray();
        break;
      case sdk::kTagPolygonSelection:
      case sdk::kTagEdgeSelection:
        out_.key(tag.type == sdk::kTagEdgeSelection ? "edges" : "polygons");
        out_.beginArray(JsonLayout::Inline);
        for (std::int32_t index : tag.selection.indices()) out_.integer(index);
        out_.endArray();
        break;
      case sdk::kTagSmoothing:
        out_.key("angle");
        real(tag.angle, owner, "the smoothing angle");
        break;
      case sdk::kTagAnnotation:
        out_.textMember("text", tag.text);
        break;
    }
    out_.endObject();
  }

  void object(const scene::Object& o) {
    out_.beginObject();
    out_.textMember("name", o.name);
    out_.textMember("type", scene::Object::typeWord(o.type));
    out_.booleanMember("selected", o.selected);
    out_.integerMember("editorVisibility", o.editorVisibility);
    out_.integerMember("renderVisibility", o.renderVisibility);
    const scene::PrimitiveParams& p = o.primitive;
    const auto integers = [&](const auto& values) {
      out_.beginArray(JsonLayout::Inline);
      for (std::int32_t v : values) out_.integer(v);
      out_.endArray();
    };
    switch (o.type) {
      case sdk::kObjectPolygon:
        out_.key("points");
        out_.beginArray(JsonLayout::Inline);
        for (const scene::Point& q : o.points) point(q, o, "a point");
        out_.endArray();
        out_.key("polygons");
        out_.beginArray(JsonLayout::Inline);
        for (const scene::Polygon& q : o.polygons) integers(std::array<std::int32_t, 4>{q.a, q.b, q.c, q.d});
        out_.endArray();
        break;
      case sdk::kObjectCube:
        out_.key("size");
        out_.beginArray(JsonLayout::Inline);
        for (double v : p.size) real(v, o, "the size");
        out_.endArray();
        out_.key("segments");
        integers(p.cubeSegments);
        break;
      case sdk::kObjectPlane:
        out_.key("width");
        real(p.width, o, "the width");
        out_.key("depth");
        real(p.depth, o, "the depth");
        out_.key("segments");
        integers(p.planeSegments);
        break;
      case sdk::kObjectSphere:
        out_.key("radius");
        real(p.radius, o, "the radius");
        out_.integerMember("segments", p.sphereSegments);
        break;
      case sdk::kObjectLight:
        out_.key("brightness");
        real(p.brightness, o, "the brightness");
        break;
    }
    out_.key("tags");
    out_.beginArray();
    for (const auto& t : o.tags) tag(*t, o);
    out_.endArray();
    out_.key("tracks");
    out_.beginArray();
    for (const auto& t : o.tracks) {
      out_.beginObject();
      out_.integerMember("parameter", t->parameter);
      out_.key("keys");
      out_.beginArray();
      if (t->curve) {
        for (const auto& k : t->curve->keys) {
          out_.beginObject(JsonLayout::Inline);
          time("time", k->time);
          out_.integerMember("value", k->value);
          out_.integerMember("interpolation", k->interpolation);
          out_.endObject();
        }
      }
      out_.endArray();
      out_.endObject();
    }
    out_.endArray();
    out_.key("children");
    out_.beginArray();
    for (const auto& c : o.children) object(*c);
    out_.endArray();
    out_.endObject();
  }

  JsonWriter& out_;
  const scene::Document& document_;
  std::string problem_;
};

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
    // The shortest text of the largest float reads back as a double a little above it, which
    // still rounds to it: only from half a step above does a number become infinite as a float.
    constexpr double kBeyondFloat = static_cast<double>(FLT_MAX) + 0x1p103;
    if (std::fabs(v) >= kBeyondFloat) throw Failure{where, "number out of range"};
    return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
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
    } else if (type == "selection" || type == "edges") {
      const bool edges = type == "edges";
      t->type = edges ? sdk::kTagEdgeSelection : sdk::kTagPolygonSelection;
      const std::string member = edges ? "edges" : "polygons";
      const json& indices = array(at(j, member.c_str(), where), where + "." + member);
      for (std::size_t i = 0; i < indices.size(); ++i) {
        const std::string w = where + "." + member + "[" + std::to_string(i) + "]";
        const std::int32_t index = integer(indices[i], w);
        if (index < 0) throw Failure{w, edges ? "an edge index cannot be negative" : "a polygon index cannot be negative"};
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
  JsonWriter out;
  SceneWriter(out, document).write();
  return out.takeText();
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
  StagedFiles files;
  const std::string temporary = files.stage(path);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(temporary.c_str(), "wb"), std::fclose);
  if (!file) {
    *error = path + ": cannot be written";
    return false;
  }
  JsonWriter out(file.get());
  SceneWriter writer(out, document);
  writer.write();
  if (!writer.problem().empty()) {
    *error = path + ": " + writer.problem();
    return false;
  }
  const bool written = !out.failed() && std::fclose(file.release()) == 0;
  if (!written) {
    *error = path + ": cannot be written";
    return false;
  }
  return files.commit(error);
}

}  // namespace formats
