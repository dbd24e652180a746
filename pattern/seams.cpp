// What the cut edges are called. Every cut edge of the model that has a partner gets one number,
// printed on both of its copies: the pieces are taken in printed order, each piece's cut edges
// in order around its outline, and an edge is numbered when the first of its copies is reached.
// So each piece starts a run of numbers (its range), the edges it shares with later pieces and
// with itself; an edge numbered below the range leads back to the earlier piece whose range
// holds it, which is the piece it is glued to when the pieces are built in number order. The
// runs of consecutive cut edges that join the same piece form seams, whose two ends get a tick
// into the piece, at the same corners on both sides.
//
// The steps, each a function below: the two copies of every cut edge (`Twins`), each piece's
// outline as chains of cut edges (`outlineChains`), the seams (`findSeams`), the numbers
// (`edgeNumbers`), the notes beside the pieces' numbers (`pieceNotes`), the ticks (`seamTicks`).
#include "pattern/seams.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>
#include <utility>

#include "pattern/keys.h"
#include "pattern/plane.h"

namespace pattern::detail {

namespace {

double lengthOf(const Edge& e) { return std::hypot(e.b.x - e.a.x, e.b.y - e.a.y); }

Point2 leftNormal(const Edge& e) {
  const Point2 d = minus(e.b, e.a);
  const double length = std::hypot(d.x, d.y);
  return length > 0 ? Point2{-d.y / length, d.x / length} : Point2{0, 0};
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
  /// The piece that reached it first and the seam's edges there, in outline order.
  int piece = 0;
  std::vector<int> edges;
};

struct Seams {
  std::vector<Seam> list;
  /// Per piece, per edge: the edge's seam (index into `list`), or -1.
  std::vector<std::vector<int>> of;
  /// Per piece: its outline's chains of cut edges.
  std::vector<std::vector<Chain>> chains;
};

/// The pieces (input order) in printed order.
std::vector<int> inPrintedOrder(const std::vector<int>& numbers) {
  std::vector<int> byNumber(numbers.size());
  for (size_t i = 0; i < byNumber.size(); ++i) byNumber[i] = static_cast<int>(i);
  std::sort(byNumber.begin(), byNumber.end(), [&](int a, int b) { return numbers[a] < numbers[b]; });
  return byNumber;
}

/// The seams, found piece by piece in printed order: each run of consecutive edges along a chain
/// that join the same partner and belong to no seam yet is one. Its twins on the partner join
/// the same seam.
Seams findSeams(const PatternInput& input, const std::vector<int>& byNumber, const Twins& twins) {
  Seams seams;
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
            seam = static_cast<int>(seams.list.size());
            seams.list.push_back({i, {}});
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

/// Per piece, per edge: the edge's number, 0 where it has no partner. Numbered along each
/// piece's chains in printed order, both copies at once.
std::vector<std::vector<int>> edgeNumbers(const PatternInput& input, const std::vector<int>& byNumber,
                                          const Seams& seams, const Twins& twins, std::vector<NumberRange>* ranges) {
  std::vector<std::vector<int>> number(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) number[i].assign(input.pieces[i].edges.size(), 0);
  ranges->assign(input.pieces.size(), {});
  int next = 1;
  for (const int i : byNumber) {
    const int first = next;
    for (const Chain& chain : seams.chains[i]) {
      for (const int e : chain.edges) {
        const Occurrence twin = twins.of(i, e);
        if (twin.piece < 0 || number[i][e] > 0) continue;
        number[i][e] = next;
        number[twin.piece][twin.edge] = next;
        ++next;
      }
    }
    if (next > first) (*ranges)[i] = {first, next - 1};
  }
  return number;
}

/// Per piece: its range, and the other sheets its partners are on.
std::vector<std::string> pieceNotes(const PatternInput& input, const std::vector<int>& sheets, const Twins& twins,
                                    const std::vector<NumberRange>& ranges) {
  std::vector<std::string> notes(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    std::set<int> elsewhere;
    for (size_t e = 0; e < input.pieces[i].edges.size(); ++e) {
      if (input.pieces[i].edges[e].kind != EdgeKind::Cut) continue;
      const Occurrence twin = twins.of(static_cast<int>(i), static_cast<int>(e));
      if (twin.piece >= 0 && sheets[twin.piece] != sheets[i]) elsewhere.insert(sheets[twin.piece] + 1);
    }
    std::string note;
    if (ranges[i].first > 0) {
      // A word before the range: a note never reads as an edge's number.
      note = ranges[i].last > ranges[i].first
                 ? "edges " + std::to_string(ranges[i].first) + "\u2013" + std::to_string(ranges[i].last)
                 : "edge " + std::to_string(ranges[i].first);
    }
    if (!elsewhere.empty()) {
      if (!note.empty()) note += " \u00B7 ";
      note += elsewhere.size() == 1 ? "sheet " : "sheets ";
      bool firstSheet = true;
      for (const int sheet : elsewhere) {
        if (!firstSheet) note += ",";
        note += std::to_string(sheet);
        firstSheet = false;
      }
    }
    notes[i] = std::move(note);
  }
  return notes;
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
  return {"How to build: print side out (the printed side is the model's outside).",
          "Cut the solid lines. With the printed side up, a mountain fold",
          "rises towards you, a valley fold sinks away from you.",
          "Each tab goes under the bare edge with the same number.",
          "Build the pieces in number order, each glued to one built.",
          "Beside a piece's number: the edges it starts; a lower",
          "one leads back to the piece that starts it. \"sheet 2\": it",
          "also joins pieces on sheet 2."};
}

EdgeLabels seamLabels(const PatternInput& input, const std::vector<int>& numbers, const std::vector<int>& sheets) {
  const Twins twins(input);
  const std::vector<int> byNumber = inPrintedOrder(numbers);
  const Seams seams = findSeams(input, byNumber, twins);
  EdgeLabels out;
  const std::vector<std::vector<int>> number = edgeNumbers(input, byNumber, seams, twins, &out.ranges);
  out.texts.resize(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    out.texts[i].resize(number[i].size());
    for (size_t e = 0; e < number[i].size(); ++e) {
      if (number[i][e] > 0) out.texts[i][e] = std::to_string(number[i][e]);
    }
  }
  out.notes = pieceNotes(input, sheets, twins, out.ranges);
  out.ticks.resize(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) out.ticks[i] = seamTicks(input, static_cast<int>(i), seams, twins);
  return out;
}

}  // namespace pattern::detail

namespace pattern {

std::vector<std::vector<std::string>> edgeNames(const PatternInput& input, const std::vector<int>& numbers) {
  return detail::seamLabels(input, numbers, std::vector<int>(input.pieces.size(), 0)).texts;
}

}  // namespace pattern
