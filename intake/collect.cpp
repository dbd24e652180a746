// Object collection and triangulation.
#include <cmath>
#include <vector>

#include "geometry/gt.h"
#include "host/progress.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "intake/intake.h"

namespace foldra {

namespace {

Vec3 widen(const sdk::Vector32& v) { return {v.x, v.y, v.z}; }

bool indexIn(std::int32_t i, std::int32_t count) { return i >= 0 && i < count; }

/// The largest coordinate a triangle may have and still be unfolded. Pieces are written as
/// 32-bit floats (at most 3.4e38), and a piece with its tabs and its place in the layout spans
/// no more than a few times the sum of its triangles' sides: below 1e30, even tens of millions
/// of the largest triangles laid end to end stay within the float range.
constexpr double kLargestCoordinate = 1e30;

bool readable(Vec3 p) {
  return isFinite(p) && std::fabs(p.x) <= kLargestCoordinate && std::fabs(p.y) <= kLargestCoordinate &&
         std::fabs(p.z) <= kLargestCoordinate;
}

/// Triangulates one polygon object of the copy and appends it with its triangle list.
void collectObject(host::Object* o, std::int32_t ordinal) {
  auto& host = host::api();
  host.modelingCommand(sdk::kCommandTriangulate, run.activeDocument, o);
  run.sourceObjects.push_back(o);
  const std::int32_t pointCount = host.dataCount(o, sdk::kDataPoint);
  const std::int32_t polygonCount = host.dataCount(o, sdk::kDataPolygon);
  runTrace("  Points:", pointCount);
  runTrace("  Polys:", polygonCount);
  const sdk::Vector32* points = host.points(o);
  const sdk::Polygon* polygons = host.polygons(o);

  run.gtvec.emplace_back();
  const auto j = static_cast<std::int32_t>(run.gtvec.size() - 1);
  auto& list = run.gtvec.back();
  list.reserve(static_cast<std::size_t>(polygonCount > 0 ? polygonCount : 0));
  host::Tag* uvwTag = host.objectTag(o, sdk::kTagUVW, 0);
  // A texture-coordinate tag may hold fewer entries than the object has polygons; polygons
  // past its end keep the construction's zeros.
  const std::int32_t uvwCount = uvwTag ? host.uvwEntryCount(uvwTag) : 0;
  host::StageProgress progress("Reading objects", polygonCount);
  for (std::int32_t k = 0; k < polygonCount; ++k) {
    auto t = std::make_unique<gt>(j, ordinal);
    t->polygon = k;
    const sdk::Polygon& poly = polygons[k];
    // A polygon that names a point the object does not have, or a point that is not a finite
    // number (or too large to lay out, see kLargestCoordinate), cannot be read. It keeps its
    // place (triangle k stays polygon k) but takes no part in the unfolding, so that nothing
    // it would compute reaches a piece.
    if (points && indexIn(poly.a, pointCount) && indexIn(poly.b, pointCount) && indexIn(poly.c, pointCount)) {
      t->P[0] = widen(points[poly.a]);
      t->P[1] = widen(points[poly.b]);
      t->P[2] = widen(points[poly.c]);
      t->usable = readable(t->P[0]) && readable(t->P[1]) && readable(t->P[2]);
    } else {
      t->usable = false;
    }
    if (uvwTag && k < uvwCount) {
      sdk::UVWEntry entry;
      if (host.uvwGet(uvwTag, k, &entry)) {
        t->uvw[0] = widen(entry.a);
        t->uvw[1] = widen(entry.b);
        t->uvw[2] = widen(entry.c);
      }
    }
    list.push_back(std::move(t));
    progress.step(k);
  }

  // One neighbour search per object: it answers the same for every polygon.
  host::Neighbor neighbours;
  if (polygonCount > 0 && neighbours.Init(pointCount, polygons, polygonCount, nullptr)) {
    for (std::int32_t k = 0; k < polygonCount; ++k) {
      if (!list[static_cast<std::size_t>(k)]->usable) continue;
      const sdk::Polygon& poly = polygons[k];
      const std::int32_t edges[3][2] = {{poly.a, poly.b}, {poly.b, poly.c}, {poly.c, poly.a}};
      for (const auto& edge : edges) {
        const std::int32_t n = neighbours.GetNeighbor(edge[0], edge[1], k);
        if (n != -1) linkNeighbour(j, k, n);
      }
    }
    orientTriangles(j, polygons, polygonCount);
  }
  readEdgeMarks(o, j);
  runTrace("Nachbarsuche ENDE");
  assignTextureNumbers(o, j);
}

}  // namespace

void releaseCopyDocuments() {
  run.sourceObjects.clear();
  if (run.polygonCopy) host::api().freeDocument(run.polygonCopy);
  if (run.selectionCopy) host::api().freeDocument(run.selectionCopy);
  run.polygonCopy = nullptr;
  run.selectionCopy = nullptr;
}

void collectObjects() {
  auto& host = host::api();
  // Copies left over from a run that ended before scene output are released now at the latest.
  releaseCopyDocuments();
  host::ObjectListRef selected;
  host.activeObjects(run.activeDocument, selected.get(), sdk::kActiveObjectsChildren);
  run.selectionCopy = host.copySelection(run.activeDocument, selected.get());
  run.polygonCopy = run.selectionCopy ? host.polygonForm(run.selectionCopy, 0) : nullptr;
  if constexpr (kRunTrace) {
    runTrace("doc");
    printMaterialList(run.activeDocument);
    runTrace("seldoc");
    printMaterialList(run.selectionCopy);
    runTrace("podoc");
    printMaterialList(run.polygonCopy);
  }
  run.sourceObjects.clear();
  // Without a copy there is nothing to collect: the run goes on like one on an empty selection.
  if (!run.polygonCopy) return;

  // Every object of the copy in hierarchy order, each before the objects below it: a polygon
  // object below a selected one is copied with it (and removed with it afterwards), so it is
  // unfolded as well.
  std::int32_t ordinal = 0;
  std::vector<host::Object*> resume;  // where to go on once the objects below are done
  for (host::Object* o = host.firstObject(run.polygonCopy); o; ++ordinal) {
    if constexpr (kRunTrace) {
      runTrace(ordinal + 1, ".) Name:", host::String(host.objectName(o)), " Type:", host.objectType(o),
               " RealType:", host.objectRealType(o));
    }
    if (host.objectType(o) == sdk::kObjectPolygon) collectObject(o, ordinal);
    host::Object* next = host.nextObject(o);
    if (host::Object* below = host.firstChild(o)) {
      if (next) resume.push_back(next);
      next = below;
    } else if (!next && !resume.empty()) {
      next = resume.back();
      resume.pop_back();
    }
    o = next;
  }
}

void linkNeighbour(std::int32_t j, std::int32_t k, std::int32_t n) {
  auto& list = run.gtvec[static_cast<std::size_t>(j)];
  const auto count = static_cast<std::int32_t>(list.size());
  if (n < 0 || n >= count || k < 0 || k >= count) return;
  gt& t = *list[static_cast<std::size_t>(k)];
  gt& other = *list[static_cast<std::size_t>(n)];
  if (!t.usable || !other.usable) return;
  // For each corner of t the squared distance to the nearest corner of the other triangle.
  double nearest[3];
  for (int c = 0; c < 3; ++c) {
    double d[3];
    for (int i = 0; i < 3; ++i) {
      const Vec3 v = t.P[c] - other.P[i];
      d[i] = dot(v, v);
    }
    nearest[c] = (d[0] < d[1] && d[0] < d[2]) ? d[0] : (d[1] < d[2] ? d[1] : d[2]);
  }
  // The corner farthest from the other triangle is the one off the shared side.
  int g = 2;
  if (nearest[0] > nearest[1] && nearest[0] > nearest[2]) g = 0;
  else if (nearest[1] > nearest[2]) g = 1;
  t.nb[(g + 1) % 3] = &other;
}

}  // namespace foldra
