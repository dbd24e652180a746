// Where one piece's edges glue to another's: the runs of consecutive cut edges along an outline
// that join the same piece form seams, lettered per pair of pieces in the order the
// lower-numbered piece meets them. A seam is labelled with the partner's printed number and,
// where the pair shares more than one seam, the seam's letter: "28b" on piece 12, "12b" on piece
// 28; a seam within one piece by its letter alone. The two ends of every seam get a tick into
// the piece, at the same corners on both sides, so that its edges are matched one for one.
//
// The steps, each a function below: the two copies of every cut edge (`Twins`), each piece's
// outline as chains of cut edges (`outlineChains`), the seams and their letters (`findSeams`),
// the edges that carry a label (`labelledEdges`), the texts (`labelTexts`), the ticks
// (`seamTicks`).
#include "pattern/seams.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>
#include <utility>

#include "pattern/keys.h"
#include "pattern/plane.h"

namespace pattern::detail {

namespace {

// A seam's label is printed once for every this many of its edges: enough for a builder to
// read the partner from any edge at a glance, few enough that labels have room on a dense
// outline; the ticks at its ends tell where the seam starts and stops.
constexpr size_t kSeamStretch = 4;

double lengthOf(const Edge& e) { return std::hypot(e.b.x - e.a.x, e.b.y - e.a.y); }

Point2 leftNormal(const Edge& e) {
  const Point2 d = minus(e.b, e.a);
  const double length = std::hypot(d.x, d.y);
  return length > 0 ? Point2{-d.y / length, d.x / length} : Point2{0, 0};
}

// Seam letters: a to z without i, l and o, which read like 1, 1 and 0; then aa, ab, ...
std::string seamLetter(int n) {
  static const std::string letters = "abcdefghjkmnpqrstuvwxyz";
  const int base = static_cast<int>(letters.size());
  std::string text;
  for (++n; n > 0; n = (n - 1) / base) text.insert(text.begin(), letters[static_cast<size_t>((n - 1) % base)]);
  return text;
}

/// One copy of a cut edge: a piece and an edge of it (input order); -1 for none.
struct Occurrence {
  int piece = -1, edge = -1;
};

/// The two copies of every cut edge, found by the label they share.
class Twins {
 public:
  explicit Twins(const PatternInput& input) : input_(input) {
    for (size_t i = 0; i < input.pieces.size(); ++i) {
      const auto& edges = input.pieces[i].edges;
      for (size_t e = 0; e < edges.size(); ++e) {
        if (edges[e].kind == EdgeKind::Cut && edges[e].label > 0) {
          owners_[edges[e].label].push_back({static_cast<int>(i), static_cast<int>(e)});
        }
      }
    }
  }

  /// The other copy of the edge's label; none for a label not carried twice.
  Occurrence of(int piece, int edge) const {
    const auto it = owners_.find(input_.pieces[piece].edges[edge].label);
    if (it == owners_.end() || it->second.size() != 2) return {};
    const auto& pair = it->second;
    return pair[0].piece == piece && pair[0].edge == edge ? pair[1] : pair[0];
  }

 private:
  const PatternInput& input_;
  std::unordered_map<int, std::vector<Occurrence>> owners_;
};

// The piece's labelled cut edges as chains that follow each other around its outline (the
// triangles run counter-clockwise, so each cut edge leads on to the next). A chain starts where
// no cut edge leads into it; a closed loop starts where the partner piece changes, so that a
// seam is never split at the loop's start.
struct Chain {
  std::vector<int> edges;
  bool closed = false;
};

template <class Partner>
std::vector<Chain> outlineChains(const Piece& piece, Partner partner) {
  std::unordered_map<PointKey, std::vector<int>, KeyHash> from;
  std::unordered_map<PointKey, int, KeyHash> into;
  std::vector<int> cuts;
  const double step = keyStep(piece);
  for (size_t e = 0; e < piece.edges.size(); ++e) {
    if (piece.edges[e].kind != EdgeKind::Cut || piece.edges[e].label <= 0) continue;
    from[keyOf(piece.edges[e].a, step)].push_back(static_cast<int>(e));
    ++into[keyOf(piece.edges[e].b, step)];
    cuts.push_back(static_cast<int>(e));
  }
  std::vector<char> used(piece.edges.size(), 0);
  std::vector<Chain> chains;
  auto follow = [&](int start) {
    Chain chain;
    int e = start;
    while (e >= 0 && !used[e]) {
      used[e] = 1;
      chain.edges.push_back(e);
      int next = -1;
      const auto it = from.find(keyOf(piece.edges[e].b, step));
      if (it != from.end()) {
        for (const int candidate : it->second) {
          if (!used[candidate]) {
            next = candidate;
            break;
          }
        }
      }
      e = next;
    }
    chain.closed = e < 0 && keyOf(piece.edges[chain.edges.back()].b, step) == keyOf(piece.edges[start].a, step);
    if (chain.closed) {
      auto& loop = chain.edges;
      size_t first = 0;
      for (size_t k = 0; k < loop.size(); ++k) {
        if (partner(loop[k]) != partner(loop[(k + loop.size() - 1) % loop.size()])) {
          first = k;
          break;
        }
      }
      std::rotate(loop.begin(), loop.begin() + static_cast<long>(first), loop.end());
    }
    chains.push_back(std::move(chain));
  };
  for (const int start : cuts) {
    if (!used[start] && !into.count(keyOf(piece.edges[start].a, step))) follow(start);
  }
  for (const int start : cuts) {
    if (!used[start]) follow(start);
  }
  return chains;
}

struct Seam {
  /// Index into Seams::ofPair.
  int pair = 0;
  /// From 0, within its pair of pieces.
  int letter = 0;
  /// The piece that lettered it and the seam's edges there, in outline order.
  int piece = 0;
  std::vector<int> edges;
};

struct Seams {
  std::vector<Seam> list;
  /// The number of seams of each pair of pieces.
  std::vector<int> ofPair;
  /// Per piece, per edge: the edge's seam (index into `list`), or -1.
  std::vector<std::vector<int>> of;
  /// Per piece: its outline's chains of cut edges.
  std::vector<std::vector<Chain>> chains;
};

/// The seams, found piece by piece in printed order: each run of consecutive edges along a chain
/// that join the same partner and belong to no seam yet is one, lettered after the seams its
/// pair already has. Its twins on the partner join the same seam, so the partner meets it
/// lettered.
Seams findSeams(const PatternInput& input, const std::vector<int>& numbers, const Twins& twins) {
  std::vector<int> byNumber(input.pieces.size());
  for (size_t i = 0; i < byNumber.size(); ++i) byNumber[i] = static_cast<int>(i);
  std::sort(byNumber.begin(), byNumber.end(), [&](int a, int b) { return numbers[a] < numbers[b]; });

  Seams seams;
  std::map<std::pair<int, int>, int> pairIndex;
  seams.of.resize(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) seams.of[i].assign(input.pieces[i].edges.size(), -1);
  seams.chains.resize(input.pieces.size());
  for (const int i : byNumber) {
    seams.chains[i] = outlineChains(input.pieces[i], [&](int e) { return twins.of(i, e).piece; });
    for (const Chain& chain : seams.chains[i]) {
      for (size_t k = 0; k < chain.edges.size();) {
        const int partner = twins.of(i, chain.edges[k]).piece;
        size_t end = k + 1;
        while (end < chain.edges.size() && twins.of(i, chain.edges[end]).piece == partner) ++end;
        int seam = -1;
        for (size_t m = k; m < end && partner >= 0; ++m) {
          const int e = chain.edges[m];
          if (seams.of[i][e] >= 0) continue;
          if (seam < 0) {
            const auto key = std::minmax(numbers[i], numbers[partner]);
            const auto [it, added] = pairIndex.emplace(key, static_cast<int>(seams.ofPair.size()));
            if (added) seams.ofPair.push_back(0);
            seam = static_cast<int>(seams.list.size());
            seams.list.push_back({it->second, seams.ofPair[it->second]++, i, {}});
          }
          const Occurrence twin = twins.of(i, e);
          seams.of[i][e] = seam;
          seams.of[twin.piece][twin.edge] = seam;
          seams.list[seam].edges.push_back(e);
        }
        k = end;
      }
    }
  }
  return seams;
}

/// Per piece, per edge: whether it carries its seam's label. One label for every few edges of a
/// seam, on the longest of them and on its twin: both sides of a seam carry their labels on the
/// same edges.
std::vector<std::vector<char>> labelledEdges(const PatternInput& input, const Seams& seams, const Twins& twins) {
  std::vector<std::vector<char>> labelled(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) labelled[i].assign(input.pieces[i].edges.size(), 0);
  for (const Seam& seam : seams.list) {
    const auto& edges = input.pieces[seam.piece].edges;
    const std::vector<int>& run = seam.edges;
    const size_t groups = (run.size() + kSeamStretch - 1) / kSeamStretch;
    for (size_t g = 0; g < groups; ++g) {
      const size_t from = g * run.size() / groups, to = (g + 1) * run.size() / groups;
      int longest = run[from];
      for (size_t m = from; m < to; ++m) {
        if (lengthOf(edges[run[m]]) > lengthOf(edges[longest])) longest = run[m];
      }
      const Occurrence twin = twins.of(seam.piece, longest);
      labelled[seam.piece][longest] = 1;
      labelled[twin.piece][twin.edge] = 1;
    }
  }
  return labelled;
}

/// Per piece, per edge: the text of its label, empty where it carries none.
std::vector<std::vector<std::string>> labelTexts(const PatternInput& input, const std::vector<int>& numbers,
                                                 const Seams& seams, const Twins& twins,
                                                 const std::vector<std::vector<char>>& labelled) {
  std::vector<std::vector<std::string>> texts(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    texts[i].resize(input.pieces[i].edges.size());
    for (size_t e = 0; e < texts[i].size(); ++e) {
      const int s = seams.of[i][e];
      if (s < 0 || !labelled[i][e]) continue;
      const Seam& seam = seams.list[s];
      const Occurrence twin = twins.of(static_cast<int>(i), static_cast<int>(e));
      // A seam within one piece is named by its letter alone: no number means this piece.
      if (twin.piece == static_cast<int>(i)) {
        texts[i][e] = seamLetter(seam.letter);
        continue;
      }
      texts[i][e] = std::to_string(numbers[twin.piece]);
      if (seams.ofPair[seam.pair] > 1) texts[i][e] += seamLetter(seam.letter);
    }
  }
  return texts;
}

/// The ticks of piece `i`: one at every corner of its chains where a seam starts or stops,
/// pointing into the piece between the two edges that meet there.
std::vector<Tick> seamTicks(const PatternInput& input, int i, const Seams& seams, const Twins& twins) {
  const auto& edges = input.pieces[i].edges;
  const std::vector<int>& seamOf = seams.of[i];
  std::vector<Tick> ticks;
  auto edgeLength = [&](int e) { return lengthOf(edges[e]); };
  auto tick = [&](Point2 at, Point2 inward, double reach) {
    const double length = std::hypot(inward.x, inward.y);
    if (length > 1e-9) ticks.push_back({at, {inward.x / length, inward.y / length}, reach});
  };
  auto bisector = [&](int before, int after) {
    const Point2 a = leftNormal(edges[before]), b = leftNormal(edges[after]);
    const Point2 sum{a.x + b.x, a.y + b.y};
    return std::hypot(sum.x, sum.y) > 1e-6 ? sum : b;
  };
  for (const Chain& chain : seams.chains[i]) {
    const auto& c = chain.edges;
    const size_t n = c.size();
    bool uniform = true;
    for (size_t k = 0; k < n; ++k) {
      const bool hasBefore = k > 0 || chain.closed;
      const int before = hasBefore ? c[(k + n - 1) % n] : -1;
      if (hasBefore && seamOf[before] == seamOf[c[k]]) continue;
      uniform = false;
      if (seamOf[c[k]] < 0 && (!hasBefore || seamOf[before] < 0)) continue;
      tick(edges[c[k]].a, hasBefore ? bisector(before, c[k]) : leftNormal(edges[c[k]]),
           hasBefore ? std::min(edgeLength(before), edgeLength(c[k])) : edgeLength(c[k]));
    }
    if (!chain.closed && seamOf[c.back()] >= 0) {
      tick(edges[c.back()].b, leftNormal(edges[c.back()]), edgeLength(c.back()));
    }
    // A loop that is one seam all round: its ends meet at the corner where the lettering
    // piece's first edge starts, which is where its twin ends.
    if (!chain.closed || !uniform || seamOf[c[0]] < 0) continue;
    const Seam& seam = seams.list[seamOf[c[0]]];
    const Occurrence first{seam.piece, seam.edges.front()};
    const Occurrence twin = twins.of(first.piece, first.edge);
    for (size_t k = 0; k < n; ++k) {
      if (first.piece == i && first.edge == c[k]) {
        const int before = c[(k + n - 1) % n];
        tick(edges[c[k]].a, bisector(before, c[k]), std::min(edgeLength(before), edgeLength(c[k])));
      }
      if (twin.piece == i && twin.edge == c[k]) {
        const int after = c[(k + 1) % n];
        tick(edges[c[k]].b, bisector(c[k], after), std::min(edgeLength(c[k]), edgeLength(after)));
      }
    }
  }
  return ticks;
}

}  // namespace

std::vector<std::string> labelNotes() {
  return {"12b: glue to piece 12 at seam b (same letter there)", "b alone: to seam b of this piece; a stroke ends a seam"};
}

EdgeLabels seamLabels(const PatternInput& input, const std::vector<int>& numbers) {
  const Twins twins(input);
  const Seams seams = findSeams(input, numbers, twins);
  EdgeLabels out;
  out.texts = labelTexts(input, numbers, seams, twins, labelledEdges(input, seams, twins));
  out.ticks.resize(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) out.ticks[i] = seamTicks(input, static_cast<int>(i), seams, twins);
  return out;
}

}  // namespace pattern::detail
