// The host's side of a module's run report: what the module's last run made, piece by piece,
// read through the plug-in interface's RunReportSink and checked before anyone relies on it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/host.h"
#include "scene/material.h"
#include "sdk/host_api.h"

namespace runtime {

/// One side k of a triangle; it runs from corner k to corner (k + 1) mod 3.
struct RunSide {
  enum class Kind { Open, Fold, Cut };
  Kind kind = Kind::Open;
  /// Folds: the angle between the two faces' normals in degrees, 0 (flat) to 180.
  double foldDegrees = 0;
  /// Folds: the crease points away from the printed side.
  bool valley = false;
  /// Folds and cuts: the other copy of the edge (piece, triangle within it, side); -1 for open
  /// sides. The two copies name each other.
  std::int32_t piece = -1, triangle = -1, side = -1;
  /// The glue tab's outer corners, next to corner (k + 1) mod 3 and next to corner k.
  bool hasTab = false;
  std::array<std::array<double, 2>, 2> tab{};
  /// Which side of the triangle's polygon (in the object's triangulated form) this is, 0 to 2:
  /// the object's edge 4 x polygon + edge.
  std::int32_t edge = 0;
  /// The marks a person set on this side (cut 1, fold 2, tab 4, no tab 8).
  std::uint8_t marks = 0;
};

struct RunTriangle {
  /// Corners in the piece's flat frame, model units, counter-clockwise.
  std::array<std::array<double, 2>, 3> flat{};
  /// Corners in space, in the source object's coordinates.
  std::array<std::array<double, 3>, 3> space{};
  /// The source object (in the order the run read them) and the polygon of its triangulated form.
  std::int32_t object = 0, polygon = 0;
  /// Ordinal of the texture tag that covers the triangle, or -1.
  std::int32_t textureNumber = -1;
  /// The material of the document the run worked on; null for none.
  const scene::Material* material = nullptr;
  /// Texture coordinates (u, v) of the corners, meaningful when the object has them.
  bool hasUV = false;
  std::array<std::array<double, 2>, 3> uv{};
  std::array<RunSide, 3> sides{};
};

struct RunPiece {
  /// In the order they joined the piece.
  std::vector<RunTriangle> triangles;
};

/// The pieces of a run in the order the module's scene output numbers them.
struct RunReport {
  std::vector<RunPiece> pieces;
};

/// Fills *report through `ask`, which hands the sink to the module's describer and answers
/// whether it described a run. False with *error set when it did not, or when the description
/// does not hold together (a number that is not finite, a piece out of order, an edge whose
/// two copies do not name each other).
bool collectRunReport(const std::function<bool(const sdk::RunReportSink&)>& ask, RunReport* report, std::string* error);

/// Asks the module that registered `command` to describe its last run (kMessageDescribeRun).
bool describeLastRun(Host& host, std::int32_t command, RunReport* report, std::string* error);

/// Tells the module that registered `command` that nothing more of its last run is needed
/// (kMessageForgetRun), so that it can let its records go.
void forgetLastRun(Host& host, std::int32_t command);

}  // namespace runtime
