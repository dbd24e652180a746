#include "studio/checks.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <set>
#include <vector>

#include "host/edge_marks.h"

namespace studio {

using nlohmann::json;

namespace {

struct Box {
  double minX, minY, maxX, maxY;
};

Box boxOf(const Flat& t) {
  return {std::min({t[0].x, t[1].x, t[2].x}), std::min({t[0].y, t[1].y, t[2].y}), std::max({t[0].x, t[1].x, t[2].x}),
          std::max({t[0].y, t[1].y, t[2].y})};
}

/// True when two parts of one piece (its triangles, and its tabs as two triangles each) overlap
/// deeper than rounding.
bool overlapsItself(const pattern::Piece& piece) {
  std::vector<Flat> parts;
  for (const pattern::Triangle& t : piece.triangles) parts.push_back({t.p[0], t.p[1], t.p[2]});
  for (const pattern::Tab& tab : piece.tabs) {
    parts.push_back({tab.corners[0], tab.corners[1], tab.corners[2]});
    if (tab.corners[2].x != tab.corners[3].x || tab.corners[2].y != tab.corners[3].y) {
      parts.push_back({tab.corners[0], tab.corners[2], tab.corners[3]});
    }
  }
  double reach = 1;
  for (const Flat& f : parts) {
    for (const pattern::Point2& p : f) reach = std::max({reach, std::fabs(p.x), std::fabs(p.y)});
  }
  // The unfolding tells points apart to 1e-5 model units, and lets a tab touch what it meets
  // to a little more; less than twice that, or a millionth of the piece's reach, is rounding.
  return anyOverlap(parts, nullptr, std::max(1e-6 * reach, 2e-5));
}

}  // namespace

bool anyOverlap(const std::vector<Flat>& a, const std::vector<Flat>* b, double depth) {
  const std::vector<Flat>& other = b ? *b : a;
  if (a.empty() || other.empty()) return false;
  std::vector<Box> boxes;
  double size = 0;
  for (const Flat& f : other) {
    boxes.push_back(boxOf(f));
    size += (boxes.back().maxX - boxes.back().minX) + (boxes.back().maxY - boxes.back().minY);
  }
  // Cells as large as the triangles are on average, at least a few of them across.
  Box all = boxes.front();
  for (const Box& x : boxes) all = {std::min(all.minX, x.minX), std::min(all.minY, x.minY), std::max(all.maxX, x.maxX), std::max(all.maxY, x.maxY)};
  const double span = std::max(all.maxX - all.minX, all.maxY - all.minY);
  double cell = size / (2.0 * static_cast<double>(other.size()));
  if (!(cell > 0) || !std::isfinite(cell)) cell = span > 0 && std::isfinite(span) ? span : 1;
  cell = std::max(cell, span / 4096);
  const auto index = [&](double v, double from) { return static_cast<std::int64_t>(std::floor((v - from) / cell)); };
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> grid;
  const auto key = [](std::int64_t x, std::int64_t y) { return (y << 32) ^ (x & 0xffffffff); };
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const Box& x = boxes[i];
    for (std::int64_t gy = index(x.minY, all.minY); gy <= index(x.maxY, all.minY); ++gy) {
      for (std::int64_t gx = index(x.minX, all.minX); gx <= index(x.maxX, all.minX); ++gx) grid[key(gx, gy)].push_back(static_cast<std::uint32_t>(i));
    }
  }
  std::vector<std::uint32_t> seen(other.size(), UINT32_MAX);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Box x = b ? boxOf(a[i]) : boxes[i];
    for (std::int64_t gy = index(x.minY, all.minY); gy <= index(x.maxY, all.minY); ++gy) {
      for (std::int64_t gx = index(x.minX, all.minX); gx <= index(x.maxX, all.minX); ++gx) {
        auto it = grid.find(key(gx, gy));
        if (it == grid.end()) continue;
        for (std::uint32_t j : it->second) {
          if ((!b && j <= i) || seen[j] == i) continue;
          seen[j] = static_cast<std::uint32_t>(i);
          const Box& y = boxes[j];
          if (y.minX >= x.maxX - depth || x.minX >= y.maxX - depth || y.minY >= x.maxY - depth || x.minY >= y.maxY - depth) continue;
          if (pattern::trianglesOverlap(a[i], other[j], depth)) return true;
        }
      }
    }
  }
  return false;
}

json runChecks(const job::RunEdges& edges, job::PatternFiles* pattern) {
  std::vector<int> numbers(edges.size());
  for (std::size_t p = 0; p < edges.size(); ++p) numbers[p] = static_cast<int>(p) + 1;
  if (pattern) {
    const auto& placed = pattern->layout().pieces;
    for (std::size_t p = 0; p < edges.size() && p < placed.size(); ++p) numbers[p] = placed[p].number;
  }
  std::set<int> untabbed, inParts, overlaps, offPage;
  for (std::size_t p = 0; p < edges.size(); ++p) {
    const auto& triangles = edges[p];
    // The piece's triangles joined through its folds: one part, or more.
    std::vector<std::size_t> parent(triangles.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
      while (parent[i] != i) i = parent[i] = parent[parent[i]];
      return i;
    };
    for (std::size_t t = 0; t < triangles.size(); ++t) {
      for (const job::EdgeCopy& e : triangles[t]) {
        if (e.kind == job::EdgeCopy::Kind::Fold && static_cast<std::size_t>(e.otherPiece) == p) {
          parent[root(t)] = root(static_cast<std::size_t>(e.otherTriangle));
        }
        if (e.kind != job::EdgeCopy::Kind::Cut || e.tab) continue;
        const job::EdgeCopy& other = edges[static_cast<std::size_t>(e.otherPiece)][static_cast<std::size_t>(e.otherTriangle)]
                                          [static_cast<std::size_t>(e.otherSide)];
        if (!other.tab && ((e.marks | other.marks) & foldra::kMarkNoTab) == 0) untabbed.insert(numbers[p]);
      }
    }
    std::set<std::size_t> parts;
    for (std::size_t t = 0; t < triangles.size(); ++t) parts.insert(root(t));
    if (parts.size() > 1) inParts.insert(numbers[p]);
  }
  if (pattern) {
    const pattern::PatternInput& input = pattern->input();
    for (std::size_t p = 0; p < input.pieces.size() && p < numbers.size(); ++p) {
      if (overlapsItself(input.pieces[p])) overlaps.insert(numbers[p]);
    }
    const auto& placed = pattern->layout().pieces;
    for (std::size_t p = 0; p < placed.size() && p < numbers.size(); ++p) {
      if (placed[p].oversize) offPage.insert(numbers[p]);
    }
  }
  const auto list = [](const std::set<int>& s) { return json(std::vector<int>(s.begin(), s.end())); };
  return {{"untabbed", list(untabbed)}, {"inParts", list(inParts)}, {"overlapping", list(overlaps)}, {"offPage", list(offPage)}};
}

}  // namespace studio
