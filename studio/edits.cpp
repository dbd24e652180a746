#include "studio/edits.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/edge_marks.h"
#include "scene/object.h"

namespace studio {

using nlohmann::json;

namespace {

constexpr const char* kKindKeys[4] = {"cut", "fold", "tab", "noTab"};
constexpr const char* kTagNames[4] = {foldra::kEdgesCut, foldra::kEdgesFold, foldra::kEdgesTab, foldra::kEdgesNoTab};

/// The kind a mark of this kind excludes on the same edge.
int excluded(int kind) { return kind ^ 1; }

}  // namespace

bool EdgeMarks::empty() const {
  for (const auto& [object, kinds] : objects) {
    for (const auto& edges : kinds) {
      if (!edges.empty()) return false;
    }
  }
  return true;
}

void EdgeMarks::mark(int object, std::int32_t edge, Kind kind) {
  auto& kinds = objects[object];
  kinds[static_cast<std::size_t>(kind)].insert(edge);
  kinds[static_cast<std::size_t>(excluded(kind))].erase(edge);
}

void EdgeMarks::unmark(int object, std::int32_t edge, Kind kind) {
  auto it = objects.find(object);
  if (it != objects.end()) it->second[static_cast<std::size_t>(kind)].erase(edge);
}

bool EdgeMarks::has(int object, std::int32_t edge, Kind kind) const {
  auto it = objects.find(object);
  return it != objects.end() && it->second[static_cast<std::size_t>(kind)].count(edge) > 0;
}

void EdgeMarks::overrideWith(const EdgeMarks& other) {
  for (const auto& [object, kinds] : other.objects) {
    for (int kind = 0; kind < 4; ++kind) {
      for (std::int32_t edge : kinds[static_cast<std::size_t>(kind)]) mark(object, edge, static_cast<Kind>(kind));
    }
  }
}

json EdgeMarks::toJson() const {
  json out = json::array();
  for (const auto& [object, kinds] : objects) {
    json entry = {{"object", object}};
    bool any = false;
    for (int kind = 0; kind < 4; ++kind) {
      const auto& edges = kinds[static_cast<std::size_t>(kind)];
      if (edges.empty()) continue;
      entry[kKindKeys[kind]] = json(std::vector<std::int32_t>(edges.begin(), edges.end()));
      any = true;
    }
    if (any) out.push_back(std::move(entry));
  }
  return out;
}

namespace {

/// The document's objects a run reads, in its order; null for primitives.
std::vector<scene::Object*> markableObjects(const scene::Document& document) {
  std::vector<scene::Object*> out;
  for (scene::Object* o : document.allObjects()) {
    if (o->type == sdk::kObjectPolygon) {
      out.push_back(o);
    } else if (scene::primitiveToPolygons(*o)) {
      out.push_back(nullptr);
    }
  }
  return out;
}

}  // namespace

ModelEdges ModelEdges::of(const scene::Document& model) {
  ModelEdges out;
  for (const scene::Object* o : markableObjects(model)) {
    Object entry;
    if (o) {
      entry.name = o->name;
      entry.markable = true;
      for (const scene::Polygon& q : o->polygons) entry.sides.push_back(scene::isTriangle(q) ? 3 : 4);
      entry.origins = scene::triangleOrigins(*o);
    }
    out.objects.push_back(std::move(entry));
  }
  return out;
}

std::int32_t ModelEdges::sourceEdge(const job::EdgeCopy& copy) const {
  if (copy.object < 0 || static_cast<std::size_t>(copy.object) >= objects.size() || copy.polygon < 0) return -1;
  const Object& o = objects[static_cast<std::size_t>(copy.object)];
  const auto t = static_cast<std::size_t>(copy.polygon);
  if (!o.markable || t >= o.origins.size() || copy.side < 0 || copy.side > 2) return -1;
  const scene::TriangleOrigin& origin = o.origins[t];
  const int sides = o.sides[origin.polygon];
  const int from = origin.corners[copy.side], to = origin.corners[(copy.side + 1) % 3];
  if ((from + 1) % sides != to) return -1;
  return static_cast<std::int32_t>(4 * origin.polygon) + from;
}

bool readMarks(const json& in, const ModelEdges& model, EdgeMarks* marks, std::string* error) {
  *marks = EdgeMarks{};
  if (in.is_null()) return true;
  if (!in.is_array()) return *error = "\"marks\" must be a list of objects' marked edges", false;
  for (const json& entry : in) {
    if (!entry.is_object() || !entry.contains("object") || !entry["object"].is_number_integer()) {
      return *error = "each entry of \"marks\" names its object by number", false;
    }
    const auto object = entry["object"].get<std::int64_t>();
    if (object < 0 || object >= static_cast<std::int64_t>(model.objects.size()) || !model.objects[static_cast<std::size_t>(object)].markable) {
      return *error = "the model has no object " + std::to_string(object) + " whose edges can be marked", false;
    }
    const ModelEdges::Object& o = model.objects[static_cast<std::size_t>(object)];
    for (int kind = 0; kind < 4; ++kind) {
      if (!entry.contains(kKindKeys[kind])) continue;
      const json& edges = entry[kKindKeys[kind]];
      if (!edges.is_array()) return *error = std::string("\"") + kKindKeys[kind] + "\" must be a list of edges", false;
      for (const json& e : edges) {
        if (!e.is_number_integer()) return *error = "an edge is named by its number", false;
        const auto edge = e.get<std::int64_t>();
        const std::int64_t polygon = edge / 4;
        const bool exists = edge >= 0 && polygon < static_cast<std::int64_t>(o.sides.size()) && edge % 4 < o.sides[static_cast<std::size_t>(polygon)];
        if (!exists) {
          return *error = "object " + std::to_string(object) + " (" + o.name + ") has no edge " + std::to_string(edge), false;
        }
        marks->mark(static_cast<int>(object), static_cast<std::int32_t>(edge), static_cast<EdgeMarks::Kind>(kind));
      }
    }
  }
  return true;
}

EdgeMarks readTagMarks(const scene::Document& model) {
  EdgeMarks marks;
  const std::vector<scene::Object*> objects = markableObjects(model);
  for (std::size_t j = 0; j < objects.size(); ++j) {
    if (!objects[j]) continue;
    for (const auto& tag : objects[j]->tags) {
      if (tag->type != sdk::kTagEdgeSelection) continue;
      for (int kind = 0; kind < 4; ++kind) {
        if (tag->name != kTagNames[kind]) continue;
        for (std::int32_t e : tag->selection.indices()) marks.mark(static_cast<int>(j), e, static_cast<EdgeMarks::Kind>(kind));
      }
    }
  }
  return marks;
}

void writeMarks(scene::Document& model, const EdgeMarks& marks) {
  const std::vector<scene::Object*> objects = markableObjects(model);
  for (std::size_t j = 0; j < objects.size(); ++j) {
    scene::Object* o = objects[j];
    if (!o) continue;
    auto& tags = o->tags;
    tags.erase(std::remove_if(tags.begin(), tags.end(),
                              [](const std::unique_ptr<scene::Tag>& t) {
                                if (t->type != sdk::kTagEdgeSelection) return false;
                                return std::any_of(std::begin(kTagNames), std::end(kTagNames),
                                                   [&](const char* name) { return t->name == name; });
                              }),
               tags.end());
    auto it = marks.objects.find(static_cast<int>(j));
    if (it == marks.objects.end()) continue;
    for (int kind = 0; kind < 4; ++kind) {
      const auto& edges = it->second[static_cast<std::size_t>(kind)];
      if (edges.empty()) continue;
      scene::Tag* tag = o->addTag(sdk::kTagEdgeSelection, kTagNames[kind]);
      for (std::int32_t e : edges) tag->selection.add(e);
    }
  }
}

EdgeMarks pinnedMarks(const job::RunEdges& edges, const ModelEdges& model) {
  EdgeMarks marks;
  for (const auto& piece : edges) {
    for (const auto& triangle : piece) {
      for (const job::EdgeCopy& copy : triangle) {
        // A seam folded shut stays unmarked: marked as a fold, it could hinge the piece
        // another way round its corner; the same layout folds it shut again.
        if (copy.kind == job::EdgeCopy::Kind::Open || copy.shut) continue;
        const std::int32_t edge = model.sourceEdge(copy);
        if (edge < 0) continue;
        marks.mark(copy.object, edge, copy.kind == job::EdgeCopy::Kind::Fold ? EdgeMarks::kFold : EdgeMarks::kCut);
      }
    }
  }
  return marks;
}

bool readPlacements(const json& in, std::vector<pattern::Position>* placed, std::string* error) {
  placed->clear();
  if (in.is_null()) return true;
  if (!in.is_array()) return *error = "\"placements\" must be a list of pieces placed by hand", false;
  for (const json& p : in) {
    pattern::Position at;
    for (const char* key : {"piece", "sheet", "rotation", "x", "y"}) {
      if (!p.is_object() || !p.contains(key) || !p[key].is_number() || !std::isfinite(p[key].get<double>())) {
        return *error = std::string("a piece placed by hand needs a number \"") + key + "\"", false;
      }
    }
    if (!p["piece"].is_number_integer() || !p["sheet"].is_number_integer() || p["piece"].get<std::int64_t>() < 0 ||
        p["sheet"].get<std::int64_t>() < 0 || p["sheet"].get<std::int64_t>() > 100000 || p["piece"].get<std::int64_t>() > 100000000) {
      return *error = "a piece placed by hand names its piece and sheet by number", false;
    }
    at.piece = static_cast<int>(p["piece"].get<std::int64_t>());
    at.sheet = static_cast<int>(p["sheet"].get<std::int64_t>());
    at.rotation = p["rotation"].get<double>();
    at.offset = {p["x"].get<double>(), p["y"].get<double>()};
    if (std::fabs(at.offset.x) > 1e7 || std::fabs(at.offset.y) > 1e7) return *error = "a piece placed by hand lies far off its sheet", false;
    placed->push_back(at);
  }
  return true;
}

json placementsJson(const std::vector<pattern::Position>& placed) {
  json out = json::array();
  for (const pattern::Position& p : placed) {
    out.push_back({{"piece", p.piece}, {"sheet", p.sheet}, {"rotation", p.rotation}, {"x", p.offset.x}, {"y", p.offset.y}});
  }
  return out;
}

}  // namespace studio
