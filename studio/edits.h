// Edits of the pieces: the edges a person marks (cut here, join here, the tab's side, no tab),
// kept as edge-selection tags on the model's objects, which the module reads with the model.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "job/module.h"
#include "pattern/pattern.h"
#include "scene/document.h"
#include "scene/object.h"

namespace studio {

/// Edges of the model by kind: per source object (in the order a run reads them, see
/// markableObjects), the object's edges (4 x polygon + side) marked always cut, never cut,
/// carrying the tab (that copy), and without a tab.
struct EdgeMarks {
  enum Kind { kCut = 0, kFold = 1, kTab = 2, kNoTab = 3 };
  std::map<int, std::array<std::set<std::int32_t>, 4>> objects;

  bool empty() const;
  /// Marks edge `edge` of object `object` with `kind`, taking it out of the kinds it excludes
  /// (cut and fold exclude each other, as do a tab and none).
  void mark(int object, std::int32_t edge, Kind kind);
  void unmark(int object, std::int32_t edge, Kind kind);
  bool has(int object, std::int32_t edge, Kind kind) const;
  /// Every edge marked in `other` takes its marks from there.
  void overrideWith(const EdgeMarks& other);
  /// [{"object", "cut": [...], "fold": [...], "tab": [...], "noTab": [...]}], objects in order.
  nlohmann::json toJson() const;
};

/// The edges of the model as opened, as marks name them: the objects a run reads, in its order
/// (every polygon object and primitive in hierarchy order, each before the objects below it),
/// and for each where the triangles of its triangulated form lie on its polygons. Taken when the
/// model is opened: after a run the document holds pieces in its place.
struct ModelEdges {
  struct Object {
    std::string name;
    /// Primitives' edges are no object's own and cannot be marked.
    bool markable = false;
    /// Per polygon: its sides (3 or 4).
    std::vector<std::uint8_t> sides;
    std::vector<scene::TriangleOrigin> origins;
  };
  std::vector<Object> objects;

  static ModelEdges of(const scene::Document& model);
  /// The object's edge (4 x polygon + side) that a copy lies on; -1 for a diagonal of a
  /// four-sided face, or a copy whose object cannot be marked.
  std::int32_t sourceEdge(const job::EdgeCopy& copy) const;
};

/// Reads marks as toJson writes them, for this model: false with *error set when an object or
/// an edge is not one of it.
bool readMarks(const nlohmann::json& in, const ModelEdges& model, EdgeMarks* marks, std::string* error);

/// The marks the model's objects carry as edge-selection tags of the mark names (a project's
/// or a scene's edges marked before), as edits.
EdgeMarks readTagMarks(const scene::Document& model);

/// The marks as edge-selection tags of the model's objects (the document as opened): the tags of
/// the mark names are replaced (objects without marks lose theirs).
void writeMarks(scene::Document& model, const EdgeMarks& marks);

/// Every edge as a run left it: folds marked never cut, cuts always cut (seams folded shut
/// unmarked), so that a run with these marks gives the same pieces. Diagonals of four-sided faces are no edge of their object
/// and stay unmarked.
EdgeMarks pinnedMarks(const job::RunEdges& edges, const ModelEdges& model);

/// Pieces placed on the sheets by hand, as a run body names them ("placements": [{"piece",
/// "sheet", "rotation", "x", "y"}], sheet from 0, rotation in radians, offset in millimetres);
/// false with *error set when they are not that.
bool readPlacements(const nlohmann::json& in, std::vector<pattern::Position>* placed, std::string* error);
nlohmann::json placementsJson(const std::vector<pattern::Position>& placed);

}  // namespace studio
