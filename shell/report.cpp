// The run report: the run state's pieces as the plain records of the plug-in interface.
#include "shell/report.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "host/run_state.h"
#include "intake/intake.h"
#include "output/output.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// What the report needs of one source object once intake's copies are gone.
struct SourceNote {
  bool hasUV = false;
  /// For each texture tag in tag order, the active document's material it names (or null).
  std::vector<host::Material*> tagMaterials;
  /// The material of the last texture tag without a restriction: it covers the triangles
  /// that no tag of their own covers.
  host::Material* unrestricted = nullptr;
};

struct RunNotes {
  bool noted = false;
  std::vector<SourceNote> sources;
};

RunNotes notes;

/// The active document's material that scene output gives the pieces for a material of the
/// copies: the first one alike in settings and name.
host::Material* inActiveDocument(host::Material* copy) {
  if (!copy) return nullptr;
  const std::int32_t number = findMaterialNumber(copy);
  if (number < 0) return nullptr;
  auto& host = host::api();
  host::Material* m = host.firstMaterial(run.activeDocument);
  for (std::int32_t step = 0; step < number && m; ++step) m = host.nextMaterial(m);
  return m;
}

SourceNote noteSource(host::Object* source) {
  auto& host = host::api();
  SourceNote note;
  if (!source) return note;
  note.hasUV = host.objectTag(source, sdk::kTagUVW, 0) != nullptr;
  for (std::int32_t i = 0; host::Tag* tag = host.objectTag(source, sdk::kTagTexture, i); ++i) {
    host::Material* material = inActiveDocument(host.tagMaterial(tag, 0));
    note.tagMaterials.push_back(material);
    std::string restriction;
    if (host.getTagText(tag, sdk::kTextureRestriction, &restriction) && restriction.empty()) note.unrestricted = material;
  }
  return note;
}

/// A triangle's place in the report: its piece, its position there, and its polygon index.
struct Place {
  std::int32_t piece = -1, triangle = -1, polygon = -1;
};

void pair(double out[2], Vec3 v) {
  out[0] = v.x;
  out[1] = v.y;
}

sdk::RunSide describeSide(const gt& t, int k, const std::unordered_map<const gt*, Place>& places) {
  sdk::RunSide side{};
  side.kind = sdk::kSideOpen;
  side.piece = side.triangle = side.side = -1;
  const gt* h = t.nb[k];
  const auto partner = h ? places.find(h) : places.end();
  if (isFold(t, k)) {
    side.kind = sdk::kSideFold;
    const double cosine = std::clamp(dot(t.normal, h->normal), -1.0, 1.0);
    side.foldDegrees = std::acos(cosine) * 180.0 / std::numbers::pi;
    // A positive fold angle turns the neighbour towards the printed side: a valley.
    side.valley = t.foldAngle[k] > 0 ? 1 : 0;
  } else if (h && t.nbedge[k] >= 0 && partner != places.end() && partner->second.piece >= 0) {
    side.kind = sdk::kSideCut;
  }
  if (side.kind != sdk::kSideOpen && partner != places.end()) {
    side.piece = partner->second.piece;
    side.triangle = partner->second.triangle;
    side.side = t.nbedge[k];
  }
  if (t.placedLugs[k][0]) {
    side.hasTab = 1;
    pair(side.tab[0], *t.placedLugs[k][0]);
    pair(side.tab[1], t.placedLugs[k][1].value_or(*t.placedLugs[k][0]));
  }
  // Turning a triangle swaps two of its sides; the mapping is its own inverse.
  side.edge = triangleSide(t, k);
  side.marks = t.marks[k];
  return side;
}

}  // namespace

void forgetRun() { notes = RunNotes{}; }

void noteRun() {
  notes.sources.clear();
  for (host::Object* source : run.sourceObjects) notes.sources.push_back(noteSource(source));
  notes.noted = true;
}

bool describeRun(const sdk::RunReportSink& sink) {
  if (!notes.noted || !sink.piece || !sink.triangle) return false;
  std::vector<const gtc*> pieces;
  for (const auto& c : run.containers) {
    if (c->valid && !c->triangles.empty()) pieces.push_back(c.get());
  }
  std::size_t triangles = 0;
  for (const auto& list : run.gtvec) triangles += list.size();
  std::unordered_map<const gt*, Place> places;
  places.reserve(triangles);
  for (const auto& list : run.gtvec) {
    for (std::size_t k = 0; k < list.size(); ++k) places[list[k].get()].polygon = static_cast<std::int32_t>(k);
  }
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const auto& members = pieces[p]->triangles;
    for (std::size_t i = 0; i < members.size(); ++i) {
      Place& place = places[members[i]];
      place.piece = static_cast<std::int32_t>(p);
      place.triangle = static_cast<std::int32_t>(i);
    }
  }
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const auto& members = pieces[p]->triangles;
    sink.piece(sink.context, static_cast<std::int32_t>(p), static_cast<std::int32_t>(members.size()));
    for (const gt* t : members) {
      sdk::RunTriangle out{};
      for (int k = 0; k < 3; ++k) {
        pair(out.flat[k], t->p[k]);
        out.space[k][0] = t->P[k].x;
        out.space[k][1] = t->P[k].y;
        out.space[k][2] = t->P[k].z;
        pair(out.uv[k], t->uvw[k]);
        out.sides[k] = describeSide(*t, k, places);
      }
      out.object = t->objectIndex;
      out.polygon = places[t].polygon;
      out.textureNumber = t->textureNumber;
      const bool known = t->objectIndex >= 0 && static_cast<std::size_t>(t->objectIndex) < notes.sources.size();
      if (known) {
        const SourceNote& source = notes.sources[static_cast<std::size_t>(t->objectIndex)];
        out.hasUV = source.hasUV ? 1 : 0;
        const bool tagged = t->textureNumber >= 0 && static_cast<std::size_t>(t->textureNumber) < source.tagMaterials.size();
        out.material = tagged ? source.tagMaterials[static_cast<std::size_t>(t->textureNumber)] : source.unrestricted;
      }
      sink.triangle(sink.context, &out);
    }
  }
  return true;
}

}  // namespace foldra
