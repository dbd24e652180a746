// The flat mesh of one piece: its triangles and glue tabs as polygons, its texture selections
// and texture coordinates.
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

  std::int32_t v = 0, e = 0, q = 3 * triangleCount, r = triangleCount;
  bool drawn = false;
  for (std::int32_t j = 0; j < triangleCount && c.valid && static_cast<std::size_t>(j) < c.triangles.size(); ++j) {
    const gt& t = *c.triangles[static_cast<std::size_t>(j)];
    for (int corner = 0; corner < 3; ++corner) points[v + corner] = place(t.p[corner]);
    polygons[e] = {v, v + 1, v + 2, v + 2};
    if (settings.Materialflag) {
      assignTextureSelection(object, e, t.textureNumber);
      runTrace("Versuche uvwtag zum Schreiben zu kriegen..");
      host::Tag* uvw = host.objectTag(object, sdk::kTagUVW, 0);
      // The copied tag is the source object's, with one entry per source triangle; a tag with
      // fewer entries than this polygon's index is neither read nor written past its end.
      if (uvw && e < host.uvwEntryCount(uvw)) {
        runTrace("m: ", e, " uvwflag erhalten!");
        sdk::UVWEntry entry{};
        host.uvwGet(uvw, e, &entry);
        entry.a = narrow(t.uvw[0]);
        entry.b = narrow(t.uvw[1]);
        entry.c = narrow(t.uvw[2]);
        runTrace("uvwstruct erhalten!");
        host.uvwSet(uvw, e, entry);
        host.messageTag(uvw, sdk::kMessageUpdate);
      }
    }
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
