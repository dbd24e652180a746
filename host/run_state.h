// The module-wide state of a run: the settings, the active document, the source objects, their
// triangles and the pieces. One run fills it; the next run empties it first.
//
// It stands at the module's ground floor so that every stage can reach it without reaching up
// to the shell that drives them. The triangle record and the piece container are only named
// here: a stage that looks into them includes their own headers, and the shell, which owns the
// lists, destroys them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/host.h"

namespace foldra {

struct gt;
class gtc;

/// How the unfolding forms its pieces: the values of Settings::Abwicklungsart.
/// Longest edge: glue tabs first, then joins along flat edges and along every edge longest
/// first, each tested with the tabs.
inline constexpr std::int32_t kUnfoldLongestEdge = 0;
/// Compact: joins that test faces only, ordered for few and large pieces; tabs placed on the
/// cut edges afterwards, where they fit.
inline constexpr std::int32_t kUnfoldCompact = 1;

/// The options of a run, as the dialog last confirmed them. No value is range-checked.
struct Settings {
  /// Remove the selected source objects after the run.
  bool Originalflag = true;
  /// Carry tags, texture selections, texture coordinates and materials to the pieces.
  bool Materialflag = true;
  /// Keep every piece within Seitenbreite x Seitenhoehe.
  bool Seitenflag = false;
  /// Make glue tabs on cut edges.
  bool Laschenflag = true;
  /// Page width and height, in model units.
  double Seitenbreite = 210.0;
  double Seitenhoehe = 297.0;
  /// Maximum glue tab width, in model units: how far a tab reaches out from its edge.
  double Laschenbreite = 17.0;
  /// Layout of the pieces: 0 row, 1 animation, 2 stack.
  std::int32_t AlsAnimation = 0;
  /// How the pieces are formed: kUnfoldLongestEdge or kUnfoldCompact; any other value runs
  /// longest edge.
  std::int32_t Abwicklungsart = kUnfoldLongestEdge;
  /// Compact only: a seam between two triangles of one piece whose two copies lie at most this
  /// far apart (model units) is folded shut instead of cut; 0 folds only copies that meet.
  double Nahtspalt = 0.0;
  /// Compact only: leave cut edges without a tab where that saves pieces (the pieces as the
  /// joins made them); off, every cut edge long enough for a useful tab gets one.
  bool OffeneNaehte = false;
};

struct RunState {
  /// The document the user works in; refreshed by every dialog command.
  host::Document* activeDocument = nullptr;
  /// Polygon objects of intake's polygon copy, in the order intake accepted them.
  std::vector<host::Object*> sourceObjects;
  /// Entry j: the triangles of source object j; triangle k is host polygon k.
  std::vector<std::vector<std::unique_ptr<gt>>> gtvec;
  /// The pieces; a piece's position is its container index.
  std::vector<std::unique_ptr<gtc>> containers;
  /// Intake's copies of the selection; the source objects live in the polygon copy.
  host::Document* selectionCopy = nullptr;
  host::Document* polygonCopy = nullptr;
};

extern Settings settings;
extern RunState run;

}  // namespace foldra
