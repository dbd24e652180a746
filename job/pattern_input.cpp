#include "job/pattern_input.h"

#include <filesystem>
#include <map>
#include <tuple>

namespace job {

namespace {

using runtime::RunSide;
using runtime::RunTriangle;

pattern::Point2 point(const std::array<double, 2>& p) { return {p[0], p[1]}; }

class Builder {
 public:
  Builder(const runtime::RunReport& report, std::string textureFolder)
      : report_(report), textureFolder_(std::move(textureFolder)) {}

  pattern::PatternInput build() {
    for (std::size_t p = 0; p < report_.pieces.size(); ++p) {
      pattern::Piece piece;
      piece.number = static_cast<int>(p) + 1;
      const auto& triangles = report_.pieces[p].triangles;
      for (std::size_t i = 0; i < triangles.size(); ++i) addTriangle(Copy{static_cast<int>(p), static_cast<int>(i), 0}, triangles[i], piece);
      input_.pieces.push_back(std::move(piece));
    }
    return std::move(input_);
  }

 private:
  /// One side of one triangle: piece, triangle within it, side.
  struct Copy {
    int piece, triangle, side;
    auto key() const { return std::tie(piece, triangle, side); }
    bool operator<(const Copy& other) const { return key() < other.key(); }
  };

  const RunTriangle& at(int piece, int triangle) const {
    return report_.pieces[static_cast<std::size_t>(piece)].triangles[static_cast<std::size_t>(triangle)];
  }

  void addTriangle(Copy self, const RunTriangle& t, pattern::Piece& piece) {
    pattern::Triangle triangle;
    for (std::size_t k = 0; k < 3; ++k) {
      triangle.p[k] = point(t.flat[k]);
      triangle.uv[k] = point(t.uv[k]);
      triangle.space[k] = {t.space[k][0], t.space[k][1], t.space[k][2]};
    }
    triangle.hasUV = t.hasUV;
    triangle.material = materialOf(t.material);
    piece.triangles.push_back(triangle);
    for (int k = 0; k < 3; ++k) addSide(Copy{self.piece, self.triangle, k}, t, piece);
  }

  void addSide(Copy self, const RunTriangle& t, pattern::Piece& piece) {
    const auto k = static_cast<std::size_t>(self.side);
    const RunSide& side = t.sides[k];
    pattern::Edge edge;
    edge.a = point(t.flat[k]);
    edge.b = point(t.flat[(k + 1) % 3]);
    if (side.kind == RunSide::Kind::Fold) {
      // The two copies of a fold lie on each other: the one that comes first in its source
      // draws it.
      const RunTriangle& other = at(side.piece, side.triangle);
      if (std::tie(other.object, other.polygon) < std::tie(t.object, t.polygon)) return;
      edge.foldDegrees = side.foldDegrees;
      edge.kind = side.valley ? pattern::EdgeKind::Valley : pattern::EdgeKind::Mountain;
      piece.edges.push_back(edge);
      return;
    }
    edge.kind = pattern::EdgeKind::Cut;
    if (side.kind == RunSide::Kind::Cut) edge.label = labelOf(self, Copy{side.piece, side.triangle, side.side});
    piece.edges.push_back(edge);
    if (side.hasTab) {
      pattern::Tab tab;
      tab.corners = {point(t.flat[(k + 1) % 3]), point(t.flat[k]), point(side.tab[1]), point(side.tab[0])};
      tab.label = edge.label;
      piece.tabs.push_back(tab);
    }
  }

  /// The number both copies of a cut edge carry, counted in the order the edges are met.
  int labelOf(Copy a, Copy b) {
    const auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
    auto [it, added] = labels_.emplace(key, static_cast<int>(labels_.size()) + 1);
    return it->second;
  }

  int materialOf(const scene::Material* material) {
    if (!material) return -1;
    auto [it, added] = materials_.emplace(material, static_cast<int>(input_.materials.size()));
    if (added) {
      pattern::Material out;
      out.name = material->name;
      out.color = material->color;
      if (!material->texture.empty()) {
        std::filesystem::path path(material->texture);
        if (path.is_relative()) path = std::filesystem::path(textureFolder_) / path;
        out.texture = path.lexically_normal().string();
      }
      input_.materials.push_back(std::move(out));
    }
    return it->second;
  }

  const runtime::RunReport& report_;
  std::string textureFolder_;
  pattern::PatternInput input_;
  std::map<std::pair<Copy, Copy>, int> labels_;
  std::map<const scene::Material*, int> materials_;
};

}  // namespace

pattern::PatternInput patternInput(const runtime::RunReport& report, const std::string& textureFolder) {
  return Builder(report, textureFolder).build();
}

}  // namespace job
