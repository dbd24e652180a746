// Glue tabs: one trapezoid flap on one side of every shared edge, and the save stack that lets a
// refused merge take its tab removals back.
#include <array>
#include <cmath>
#include <numbers>
#include <ostream>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

constexpr int kSaveLevels = 16;

/// One level of the save stack: per side k of the saved triangle, slots 8k .. 8k + 7 hold its
/// Lugs[k] (0, 1), placedLugs[k] (2, 3), and the neighbour's Lugs and placedLugs on the same
/// edge (4, 5, 6, 7).
struct SaveLevel {
  std::array<LugPoint, 24> slots;
};

std::array<SaveLevel, kSaveLevels> saveStack;
int saveLevel = 0;

/// v turned about the unit axis n by angle a (counter-clockwise seen from the tip of n).
Vec3 rotateAbout(Vec3 v, Vec3 n, double a) {
  const double c = std::cos(a), s = std::sin(a);
  return c * v + s * cross(n, v) + ((1 - c) * dot(n, v)) * n;
}

bool degenerate(const gt& t) { return t.normal == Vec3{}; }

}  // namespace

void createLugs(gt& t) {
  for (int k = 0; k < 3; ++k) {
    gt* g = t.nb[k];
    const int s = t.nbedge[k];
    if (!g || s < 0) continue;
    // A triangle without area has no plane to stand a tab in, nor can a tab be glued under it:
    // the edge between it and its neighbour gets no tab on either side.
    if (degenerate(t) || degenerate(*g)) continue;
    const double mine = t.height[k];
    const double theirs = g->height[s];
    if (mine < theirs || (mine == theirs && t.serial < g->serial)) createLug(t, k);
  }
}

void createLug(gt& t, int k) {
  if (t.Lugs[k][0]) return;
  const gt& g = *t.nb[k];
  const double other = g.height[t.nbedge[k]];
  const double w = settings.Laschenbreite <= other ? settings.Laschenbreite : other;
  t.lugWidth[k] = w;
  const Vec3 A = t.P[k];
  const Vec3 B = t.P[(k + 1) % 3];
  const Vec3 u = normalize(A - B);
  // The in-plane direction away from the triangle.
  const Vec3 p = cross(t.normal, u);
  const Vec3 q0 = normalize(rotateAbout(p, t.normal, -std::numbers::pi / 4));
  const Vec3 q1 = normalize(rotateAbout(p, t.normal, std::numbers::pi / 4));
  // Each outer corner lies w off the edge and w in from the edge's end.
  const double L = std::numbers::sqrt2 * w;
  t.Lugs[k] = {B + L * q0, A + L * q1};
  t.placedLugs[k] = {Vec3{}, Vec3{}};
}

void shortenLug(gt& t, int k) {
  if (!t.Lugs[k][0]) return;
  const Vec3 A = t.P[k];
  const Vec3 B = t.P[(k + 1) % 3];
  const double l = length(B - A);
  const double w = t.lugWidth[k];
  if (2 * w > l) {
    const Vec3 d = normalize((*t.Lugs[k][1] - A) + (*t.Lugs[k][0] - B));
    const Vec3 apex = A + 0.5 * (B - A) + (l / 2) * d;
    t.Lugs[k] = {apex, apex};
  }
}

void RemoveLugs(gt& t, int k) { releaseTab(t, k); }

void createTabs() {
  if (!settings.Laschenflag) return;
  // The tab width comes from the dialog's text unchecked: a width that is not a positive number
  // (0, negative, minus infinity, NaN, or a text that is no number) makes no tabs, where it
  // would make tabs of infinite or inverted size; so does a width below the distance at which
  // points count as equal, where a tab is no more than its side and every test of it fails.
  if (!(settings.Laschenbreite >= kPointTolerance)) return;
  for (auto& list : run.gtvec) {
    for (auto& t : list) createLugs(*t);
  }
  // A tab is shortened against its own side only after every tab exists.
  for (auto& list : run.gtvec) {
    for (auto& t : list) {
      for (int k = 0; k < 3; ++k) shortenLug(*t, k);
    }
  }
}

bool saveLugs(const gt& t) {
  // A merge holds one level and gives it back on every path, so a full stack means a join that
  // did not; the join is refused rather than written past the stack's end.
  if (saveLevel >= kSaveLevels) {
    consoleLine(host::String("foldra: the glue tab save stack is full; a join was refused"));
    return false;
  }
  if constexpr (kGeometryTrace) *t.trace << "saveLugs in(" << saveLevel << ")\n";
  SaveLevel& level = saveStack[static_cast<std::size_t>(saveLevel)];
  level.slots.fill(std::nullopt);
  for (int k = 0; k < 3; ++k) {
    LugPoint* slot = &level.slots[static_cast<std::size_t>(8 * k)];
    slot[0] = t.Lugs[k][0];
    slot[1] = t.Lugs[k][1];
    slot[2] = t.placedLugs[k][0];
    slot[3] = t.placedLugs[k][1];
    const gt* g = t.nb[k];
    const int s = t.nbedge[k];
    if (g && s >= 0) {
      if constexpr (kGeometryTrace) *t.trace << " saveLugs(), ach6, nb[index]=" << *g << '\n';
      slot[4] = g->Lugs[s][0];
      slot[5] = g->Lugs[s][1];
      slot[6] = g->placedLugs[s][0];
      slot[7] = g->placedLugs[s][1];
    }
  }
  ++saveLevel;
  if constexpr (kGeometryTrace) *t.trace << "saveLugs out(" << saveLevel << ")\n";
  return true;
}

void restoreLugs(gt& t) {
  if (saveLevel <= 0) return;
  if constexpr (kGeometryTrace) *t.trace << "restoreLugs in(" << saveLevel << ")\n";
  --saveLevel;
  SaveLevel& level = saveStack[static_cast<std::size_t>(saveLevel)];
  for (int k = 0; k < 3; ++k) {
    LugPoint* slot = &level.slots[static_cast<std::size_t>(8 * k)];
    t.Lugs[k] = {slot[0], slot[1]};
    t.placedLugs[k] = {slot[2], slot[3]};
    gt* g = t.nb[k];
    const int s = t.nbedge[k];
    if (g && s >= 0) {
      g->Lugs[s] = {slot[4], slot[5]};
      g->placedLugs[s] = {slot[6], slot[7]};
    }
  }
  level.slots.fill(std::nullopt);
  if constexpr (kGeometryTrace) *t.trace << "restoreLugs out(" << saveLevel << ")\n";
}

void freeSavedLugs([[maybe_unused]] const gt& t) {
  if (saveLevel <= 0) return;
  if constexpr (kGeometryTrace) *t.trace << "freeSavedLugs in(" << saveLevel << ")\n";
  --saveLevel;
  saveStack[static_cast<std::size_t>(saveLevel)].slots.fill(std::nullopt);
  if constexpr (kGeometryTrace) *t.trace << "freeSavedLugs out(" << saveLevel << ")\n";
}

int savedLugLevels() { return saveLevel; }

}  // namespace foldra
