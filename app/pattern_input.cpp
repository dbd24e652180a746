#include "app/pattern_input.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>

#include "geometry/kernel.h"
#include "host/host.h"
#include "host/run_state.h"
#include "scene/material.h"
#include "unfold/unfold.h"

namespace app {

namespace {

namespace host = foldra::host;
using foldra::gt;

pattern::Point2 flat(foldra::Vec3 v) { return {v.x, v.y}; }

class Builder {
 public:
  explicit Builder(std::string textureFolder) : textureFolder_(std::move(textureFolder)) {}

  pattern::PatternInput build() {
    int number = 0;
    for (std::size_t i = 0; i < foldra::run.containers.size(); ++i) {
      const foldra::gtc& c = *foldra::run.containers[i];
      if (!c.valid || c.triangles.empty()) continue;
      pattern::Piece piece;
      piece.number = ++number;
      for (const gt* t : c.triangles) addTriangle(*t, piece);
      input_.pieces.push_back(std::move(piece));
    }
    return std::move(input_);
  }

 private:
  void addTriangle(const gt& t, pattern::Piece& piece) {
    pattern::Triangle triangle;
    for (int k = 0; k < 3; ++k) {
      triangle.p[static_cast<std::size_t>(k)] = flat(t.p[k]);
      triangle.uv[static_cast<std::size_t>(k)] = {t.uvw[k].x, t.uvw[k].y};
      triangle.space[static_cast<std::size_t>(k)] = {t.P[k].x, t.P[k].y, t.P[k].z};
    }
    host::Object* source = sourceOf(t);
    triangle.hasUV = source && foldra::host::api().objectTag(source, sdk::kTagUVW, 0);
    triangle.material = materialOf(t, source);
    piece.triangles.push_back(triangle);
    for (int k = 0; k < 3; ++k) addSide(t, k, piece);
  }

  void addSide(const gt& t, int k, pattern::Piece& piece) {
    const gt* h = t.nb[k];
    pattern::Edge edge;
    edge.a = flat(t.p[k]);
    edge.b = flat(t.p[(k + 1) % 3]);
    if (foldra::isFold(t, k)) {
      if (h->serial < t.serial) return;  // the neighbour already gave this fold
      const double cosine = std::clamp(foldra::dot(t.normal, h->normal), -1.0, 1.0);
      edge.foldDegrees = std::acos(cosine) * 180.0 / std::numbers::pi;
      // A positive fold angle turns the neighbour towards the printed side: a valley.
      edge.kind = t.foldAngle[k] > 0 ? pattern::EdgeKind::Valley : pattern::EdgeKind::Mountain;
      piece.edges.push_back(edge);
      return;
    }
    edge.kind = pattern::EdgeKind::Cut;
    if (h && t.nbedge[k] >= 0) edge.label = labelOf(t, k, *h, t.nbedge[k]);
    piece.edges.push_back(edge);
    if (t.placedLugs[k][0]) {
      pattern::Tab tab;
      tab.corners = {flat(t.p[(k + 1) % 3]), flat(t.p[k]), flat(*t.placedLugs[k][1]), flat(*t.placedLugs[k][0])};
      tab.label = edge.label;
      piece.tabs.push_back(tab);
    }
  }

  /// The number both copies of a cut edge carry, counted in the order the edges are met.
  int labelOf(const gt& t, int k, const gt& h, int r) {
    const auto key = t.serial < h.serial ? std::make_pair(t.serial * 3 + static_cast<std::uint64_t>(k), h.serial * 3 + static_cast<std::uint64_t>(r))
                                         : std::make_pair(h.serial * 3 + static_cast<std::uint64_t>(r), t.serial * 3 + static_cast<std::uint64_t>(k));
    auto [it, added] = labels_.emplace(key, static_cast<int>(labels_.size()) + 1);
    return it->second;
  }

  host::Object* sourceOf(const gt& t) const {
    const auto& sources = foldra::run.sourceObjects;
    if (t.objectIndex < 0 || static_cast<std::size_t>(t.objectIndex) >= sources.size()) return nullptr;
    return sources[static_cast<std::size_t>(t.objectIndex)];
  }

  /// The material that covers the triangle: the texture tag its texture number names, or
  /// else the object's last unrestricted texture tag.
  int materialOf(const gt& t, host::Object* source) {
    if (!source) return -1;
    auto& api = foldra::host::api();
    host::Tag* tag = t.textureNumber >= 0 ? api.objectTag(source, sdk::kTagTexture, t.textureNumber) : nullptr;
    if (!tag) {
      for (int i = 0; host::Tag* candidate = api.objectTag(source, sdk::kTagTexture, i); ++i) {
        std::string restriction;
        if (api.getTagText(candidate, sdk::kTextureRestriction, &restriction) && restriction.empty()) tag = candidate;
      }
    }
    if (!tag) return -1;
    host::Material* material = api.tagMaterial(tag, 0);
    if (!material) return -1;
    auto [it, added] = materials_.emplace(material, static_cast<int>(input_.materials.size()));
    if (added) {
      // Our host's materials stand behind the handles the module works with.
      const auto& m = *reinterpret_cast<const scene::Material*>(material);
      pattern::Material out;
      out.name = m.name;
      out.color = m.color;
      if (!m.texture.empty()) {
        std::filesystem::path path(m.texture);
        if (path.is_relative()) path = std::filesystem::path(textureFolder_) / path;
        out.texture = path.lexically_normal().string();
      }
      input_.materials.push_back(std::move(out));
    }
    return it->second;
  }

  std::string textureFolder_;
  pattern::PatternInput input_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, int> labels_;
  std::map<host::Material*, int> materials_;
};

}  // namespace

pattern::PatternInput patternFromRun(const std::string& textureFolder) { return Builder(textureFolder).build(); }

}  // namespace app
