// The flat mesh of one piece: its triangles and glue tabs as polygons, its texture selections
// and texture coordinates.
#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "geometry/gt.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "intake/intake.h"
#include "output/output.h"
#include "unfold/gtc.h"

namespace foldra {

namespace {

sdk::Vector32 narrow(Vec3 v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

/// The texture coordinates of one triangle in a copied texture-coordinate tag, which still holds
/// the source object's entries: its polygon's, with corners 1 and 2 swapped for a triangle that
/// intake turned (zero when the tag has no entry for it). In the first tag, the one intake read,
/// the corners are the triangle's own.
sdk::UVWEntry triangleEntry(host::Tag* tag, const gt& t, bool first) {
  sdk::UVWEntry entry{};
  if (t.polygon >= 0 && !host::api().uvwGet(tag, t.polygon, &entry)) entry = sdk::UVWEntry{};
  if (t.turned) {
    std::swap(entry.b, entry.c);
    entry.d = entry.c;
  }
  if (first) {
    entry.a = narrow(t.uvw[0]);
    entry.b = narrow(t.uvw[1]);
    entry.c = narrow(t.uvw[2]);
  }
  return entry;
}

/// Selected polygon ranges [first, last] of a selection, in order.
std::vector<std::pair<std::int32_t, std::int32_t>> rangesOf(host::Selection* selection) {
  std::vector<std::pair<std::int32_t, std::int32_t>> ranges;
  std::int32_t first = 0, last = 0;
  for (std::int32_t segment = 0;
       host::api().selectionRange(selection, segment, std::numeric_limits<std::int32_t>::max(), &first, &last); ++segment) {
    ranges.emplace_back(first, last);
  }
  return ranges;
}

bool inRanges(const std::vector<std::pair<std::int32_t, std::int32_t>>& ranges, std::int32_t index) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), index,
                             [](std::int32_t i, const std::pair<std::int32_t, std::int32_t>& r) { return i < r.first; });
  return it != ranges.begin() && std::prev(it)->second >= index;
}

/// The tags copied onto the piece hold the source object's polygons. Each is made to hold
/// exactly the piece's, with indices into the piece: triangles in the piece's order, then tabs.
/// A selection keeps the triangles whose polygon it held (tabs belong to none; selections that a
/// texture is restricted to reach here empty and are filled triangle by triangle afterwards).
/// A texture-coordinate tag gets one entry per polygon: a triangle's are its polygon's, and a
/// tab's run along its triangle's side, so that the tab shows the colours of its edge.
void fitCopiedTags(host::Object* object, const gtc& c, std::int32_t triangleCount) {
  auto& host = host::api();
  const std::int32_t polygonCount = host.dataCount(object, sdk::kDataPolygon);
  std::int32_t s = 0;
  for (host::Tag* tag = host.objectTag(object, sdk::kTagPolygonSelection, 0); tag;
       tag = host.objectTag(object, sdk::kTagPolygonSelection, ++s)) {
    host::Selection* selection = host.tagSelection(tag);
    const auto ranges = rangesOf(selection);
    host.selectionClear(selection);
    for (std::int32_t j = 0; j < triangleCount; ++j) {
      const gt& t = *c.triangles[static_cast<std::size_t>(j)];
      if (t.polygon >= 0 && inRanges(ranges, t.polygon)) host.selectionAdd(selection, j);
    }
    host.messageTag(tag, sdk::kMessageUpdate);
  }
  // An edge selection keeps the sides of the piece's triangles whose polygon edge it held: side
  // k of the piece's polygon j (its triangle's side k) for edge 4 x polygon + the polygon's side.
  std::int32_t g = 0;
  for (host::Tag* tag = host.objectTag(object, sdk::kTagEdgeSelection, 0); tag;
       tag = host.objectTag(object, sdk::kTagEdgeSelection, ++g)) {
    host::Selection* selection = host.tagSelection(tag);
    const auto ranges = rangesOf(selection);
    host.selectionClear(selection);
    for (std::int32_t j = 0; j < triangleCount; ++j) {
      const gt& t = *c.triangles[static_cast<std::size_t>(j)];
      for (int k = 0; k < 3 && t.polygon >= 0; ++k) {
        if (inRanges(ranges, 4 * t.polygon + triangleSide(t, k))) host.selectionAdd(selection, 4 * j + k);
      }
    }
    host.messageTag(tag, sdk::kMessageUpdate);
  }
  std::int32_t u = 0;
  for (host::Tag* tag = host.objectTag(object, sdk::kTagUVW, 0); tag; tag = host.objectTag(object, sdk::kTagUVW, ++u)) {
    std::vector<sdk::UVWEntry> entries;
    entries.reserve(static_cast<std::size_t>(polygonCount));
    for (std::int32_t j = 0; j < triangleCount; ++j) entries.push_back(triangleEntry(tag, *c.triangles[static_cast<std::size_t>(j)], u == 0));
    for (std::int32_t j = 0; j < triangleCount; ++j) {
      const gt& t = *c.triangles[static_cast<std::size_t>(j)];
      const sdk::UVWEntry& own = entries[static_cast<std::size_t>(j)];
      const sdk::Vector32 corner[3] = {own.a, own.b, own.c};
      for (int k = 0; k < 3; ++k) {
        if (!t.placedLugs[k][0]) continue;
        // The tab's points: corner k + 1, corner k, then its outer corners next to k and k + 1.
        const sdk::Vector32 from = corner[(k + 1) % 3], to = corner[k];
        entries.push_back({from, to, to, from});
      }
    }
    host.uvwResize(tag, static_cast<std::int32_t>(entries.size()));
    for (std::size_t e = 0; e < entries.size(); ++e) host.uvwSet(tag, static_cast<std::int32_t>(e), entries[e]);
    host.messageTag(tag, sdk::kMessageUpdate);
  }
}

}  // namespace

bool drawContainerMesh(host::Object* object, Vec3 offset, std::int32_t triangleCount, std::int32_t containerIndex) {
  auto& host = host::api();
  sdk::Vector32* points = host.writablePoints(object);
  sdk::Polygon* polygons = host.writablePolygons(object);
  gtc& c = *run.containers[static_cast<std::size_t>(containerIndex)];
  // Centre the piece on its own bounding box.
  c.trans = Vec3{-c.box.minX - c.box.width() * 0.5, -c.box.minY - c.box.height() * 0.5, 0};
  c.rot = Mat3::identity();
  const Placement placement = c.placement();
  auto place = [&](Vec3 q) {
    const Vec3 placed = placement.apply(q);
    return narrow(Vec3{offset.x + placed.x, offset.y + placed.y, offset.z});
  };

  const bool drawable = c.valid && static_cast<std::size_t>(triangleCount) <= c.triangles.size();
  if (settings.Materialflag && drawable) fitCopiedTags(object, c, triangleCount);

  std::int32_t v = 0, e = 0, q = 3 * triangleCount, r = triangleCount;
  bool drawn = false;
  for (std::int32_t j = 0; j < triangleCount && c.valid && static_cast<std::size_t>(j) < c.triangles.size(); ++j) {
    const gt& t = *c.triangles[static_cast<std::size_t>(j)];
    for (int corner = 0; corner < 3; ++corner) points[v + corner] = place(t.p[corner]);
    polygons[e] = {v, v + 1, v + 2, v + 2};
    if (settings.Materialflag) assignTextureSelection(object, e, t.textureNumber);
    ++e;
    v += 3;
    drawn = true;
    for (int k = 0; k < 3; ++k) {
      if (!t.placedLugs[k][0]) continue;
      points[q] = place(t.p[(k + 1) % 3]);
      points[q + 1] = place(t.p[k]);
      points[q + 2] = place(t.placedLugs[k][1] ? *t.placedLugs[k][1] : Vec3{});
      points[q + 3] = place(*t.placedLugs[k][0]);
      polygons[r] = {q, q + 1, q + 2, q + 3};
      q += 4;
      ++r;
    }
  }
  host.messageObject(object, sdk::kMessageUpdate);
  host.messageDocument(run.activeDocument, sdk::kMessageUpdate);
  return drawn;
}

void assignTextureSelection(host::Object* object, std::int32_t polygonIndex, std::int32_t textureNumber) {
  if (textureNumber < 0) {
    runTrace("Keine Selection:");
    runTrace("  ->Dreieck ", polygonIndex, " mit Textur nr:", textureNumber);
    return;
  }
  runTrace("Hier Dreieck ", polygonIndex, " mit Textur nr:", textureNumber);
  auto& host = host::api();
  host::Tag* texture = host.objectTag(object, sdk::kTagTexture, textureNumber);
  if (!texture) return;
  if constexpr (kRunTrace) runTrace("Texturname:", host::String(host.tagName(texture)));
  const host::String restriction = getSelection(texture);
  runTrace("texture restriction=", restriction);
  host::Tag* selection = nullptr;
  std::int32_t s = 0;
  for (host::Tag* tag = host.objectTag(object, sdk::kTagPolygonSelection, 0); tag;
       tag = host.objectTag(object, sdk::kTagPolygonSelection, ++s)) {
    if (host::String(host.tagName(tag)).compare(restriction) == 0) {
      selection = tag;
      break;
    }
  }
  runTrace("restr:", restriction);
  if (!restriction.str().empty() && selection) {
    host.selectionAdd(host.tagSelection(selection), polygonIndex);
    runTrace("eingetragen.___");
  }
}

}  // namespace foldra
