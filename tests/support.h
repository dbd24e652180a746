// Shared test support: small meshes with a reason, a host with the module linked in, and the
// checker that every unfolding must pass.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geometry/gt.h"
#include "host/run_state.h"
#include "runtime/host.h"
#include "scene/document.h"
#include "shell/execute.h"
#include "unfold/gtc.h"

namespace testing_support {

// ---- Meshes ---------------------------------------------------------------------------------
// Each returns a polygon object (not yet in a document), selected.

/// Regular tetrahedron: the smallest closed mesh.
std::unique_ptr<scene::Object> tetrahedron(double size = 10);
/// Cube of quadrangles with shared corners: closed, every fold 90 degrees.
std::unique_ptr<scene::Object> cube(double size = 10);
/// Icosahedron subdivided `levels` times and pushed onto a sphere: closed, many equal edges.
std::unique_ptr<scene::Object> icosphere(int levels, double radius = 10);
/// Torus of quadrangles: closed, genus 1, concave folds.
std::unique_ptr<scene::Object> torus(int around, int tube, double major = 10, double minor = 3);
/// Flat grid of quadrangles in the x-y plane: every fold flat.
std::unique_ptr<scene::Object> grid(int nx, int ny, double cell = 1);
/// Open cylinder of quadrangles (no caps): open edges at both ends.
std::unique_ptr<scene::Object> openCylinder(int around, int rings, double radius = 5, double height = 10);
/// Prism over a star of `tips` points, its caps fans around the centre: flat regions with sharp
/// inner corners, where the outer sides of two joined triangles leave less than a right angle.
std::unique_ptr<scene::Object> starPrism(int tips = 8, double inner = 3, double outer = 10, double height = 4);
/// Three triangles around one edge (a non-manifold edge) plus a fourth on one of them.
std::unique_ptr<scene::Object> nonManifold();
/// Sphere with random bumps (fixed seed): uneven edge lengths and folds both ways. Each point
/// moves in or out by up to half the bump of the radius.
std::unique_ptr<scene::Object> bumpySphere(unsigned seed, int levels = 2, double radius = 10, double bump = 0.3);
/// A grid of n x n quadrangles with random heights (fixed seed): open, folds both ways, and flat
/// stretches where neighbouring heights repeat.
std::unique_ptr<scene::Object> terrain(unsigned seed, int n);
/// A flat-ish landscape of n x n quadrangles, one unit wide each: gentle hills a few percent of
/// its width high, smooth everywhere, so that page-limited pieces fill the page.
std::unique_ptr<scene::Object> hills(int n);
/// A random mesh of `faces` triangles and quadrangles (fixed seed) that breaks every rule a
/// modeller's mesh keeps: repeated points, faces that share points in any orientation, edges
/// of three or more faces, duplicate faces, slivers and faces without area.
std::unique_ptr<scene::Object> randomSoup(unsigned seed, int faces);
/// A fan of `triangles` (even) triangles around a corner at the origin whose angles add up to
/// `degrees`, a little over 360: its ring points go up and down in turn, a saddle. Laid flat
/// around the corner, the last triangle overlaps the first in a thin wedge.
std::unique_ptr<scene::Object> saddle(double degrees, int triangles = 8, double radius = 10);
/// An open cone: a fan of `triangles` triangles round an apex `height` above a ring of this
/// radius. Its angles add up to a little under 360 degrees when it is low.
std::unique_ptr<scene::Object> cone(int triangles, double radius, double height);
/// A Moebius strip of quadrangles: one side only, so that no winding suits all its faces.
std::unique_ptr<scene::Object> moebius(int around = 24, double radius = 10, double width = 4);
/// The object with a random share of its faces (fixed seed) wound the other way, as real
/// exports have a few.
std::unique_ptr<scene::Object> withTurnedFaces(std::unique_ptr<scene::Object> object, unsigned seed, double share = 0.3);

// ---- The mesh suite ----------------------------------------------------------------------------

/// What kind of mesh a suite case is, so that a test can loop over one kind.
enum class MeshKind {
  /// Closed surfaces: every edge has two faces.
  Closed,
  /// Surfaces with open edges (among them a strip with one side only).
  Open,
  /// Edges of three or more faces.
  NonManifold,
  /// Every fold flat.
  Flat,
  /// Repeated points, duplicate faces, slivers, faces without area, faces in any orientation.
  Broken,
};

struct MeshCase {
  std::string name;
  MeshKind kind;
  std::function<std::unique_ptr<scene::Object>()> make;
};

/// The meshes every unfolding must pass the checker on: small hand-made and generated meshes of
/// every kind, corners whose angles add up to 360.01 to 361 degrees, and meshes with faces
/// wound the other way.
std::vector<MeshCase> meshSuite();
/// The suite's meshes of one kind.
std::vector<MeshCase> meshSuite(MeshKind kind);
const char* kindName(MeshKind kind);

// ---- A host with the module linked into the test ---------------------------------------------

/// Our host, with the module's code (linked into the test) using its interface as the module's
/// operations, and the module's resources loaded from the built module's folder.
class LinkedHost {
 public:
  LinkedHost();
  ~LinkedHost();
  runtime::Host host;
  scene::Document& document() { return host.activeDocument(); }
  /// Adds an object at the top level of the active document.
  scene::Object* add(std::unique_ptr<scene::Object> object);
  /// Unfolds the active document's selection with these settings (no scene output).
  bool unfold(const foldra::Settings& settings);
  /// Runs Execute inside one undo group, as the dialog's confirm does.
  void execute(const foldra::Settings& settings);
};

/// The folder that holds the built module file and its resources.
std::string moduleFolder();
/// The module file.
std::string modulePath();
/// The folder of the shared test meshes, or "" when absent.
std::string sharedMeshes();

// ---- The unfolding checker -------------------------------------------------------------------
// It judges a result with measures of its own: overlaps by clipping and the width of what two
// parts share, folds by the corners of the model they join; never with the unfolding's own
// predicates, so that a lenient predicate cannot hide its own mistakes.

struct CheckOptions {
  bool tabs = true;
  bool pageLimit = false;
  double pageWidth = 210, pageHeight = 297;
  /// The tests that rest on telling points apart to kPointTolerance (an absolute length):
  /// overlaps within pieces, no tab on a fold, and one tab on every cut edge (a tab narrower
  /// than the rounding of its corners is lost). Doubles resolve that tolerance only for coordinates up to about
  /// 1e9; beyond, these tests would report rounding.
  bool precise = true;
  /// The tabs of the compact method: placed after the cuts, as deep as the partner across the
  /// edge lets them fold under, at least a third of the tab width deep.
  bool compact = false;
  /// The widest a seam inside one piece may open and still be folded shut (compact), in model
  /// units.
  double foldShut = 0;
  /// The most a tab reaches out from its edge (the settings' tab width), in model units.
  double tabDepth = 17;
  /// Compact: cut edges may stay without a tab where the joins left no room for one; otherwise
  /// every cut edge that could carry a useful tab on its own carries one.
  bool bareSeams = false;

  /// The options that go with a run's settings (tabs of no width are no tabs).
  static CheckOptions of(const foldra::Settings& settings);
};

/// Overlaps narrower than this are rounding: the unfolding tells points apart to the point
/// tolerance and no closer.
inline constexpr double kOverlapRounding = 2e-5;

/// A flat triangle (z is ignored).
using FlatTriangle = std::array<foldra::Vec3, 3>;
/// The width of what two flat triangles have in common: each clipped by the other, the narrowest
/// extent of the rest across any of its sides. 0 when they only touch or lie apart, and for a
/// triangle without area.
double overlapWidth(const FlatTriangle& a, const FlatTriangle& b);

/// Checks the run state after an unfolding; answers a list of failures (empty: all good):
/// - every usable triangle's containerIndex names a valid container that lists it, and no valid
///   container lists a triangle of another;
/// - flat side lengths equal the side lengths in space (1e-9 of the triangle's longest side, or
///   without `precise` of the piece's reach from its origin);
/// - a fold (two neighbours of one piece whose flat sides lie on each other) joins the same two
///   corners of the model on both sides;
/// - within a piece no two parts (triangles, the two halves of every tab) overlap wider than
///   rounding;
/// - a tab stands only on a cut edge, outside its own triangle; with tabs every cut edge
///   between two neighbours carries one tab, or none where no tab could stand on either side
///   (judged by boxes, independently of the unfolding); open edges none; with `compact`, where
///   no tab of the shallowest useful depth could stand on either side, its ends no steeper than
///   75 degrees nor than the partner's corners;
/// - every piece is one part: its triangles are joined through folds;
/// - with `compact` and without `bareSeams`, every cut edge carries a tab where a tab of the
///   useful depth could stand on one of its sides with nothing else around;
/// - with the page limit every piece of more than one triangle fits the page;
/// - every flat coordinate is finite.
std::vector<std::string> checkUnfolding(const CheckOptions& options);
/// The same with the options that go with the settings.
std::vector<std::string> checkUnfoldingFor(const foldra::Settings& settings);

/// The pieces of a scene after a run, as a file holds them; answers a list of failures:
/// - each piece lies in one plane and its coordinates are finite;
/// - its triangles are congruent to the source triangles (`sides`, each triangle's three side
///   lengths sorted), one each, and every source triangle is found;
/// - no two of its polygons (triangles, and tabs in two halves) overlap wider than the rounding
///   of their coordinates;
/// - with a page (pageWidth > 0, in model units) every piece fits it.
std::vector<std::string> checkPieceObjects(const scene::Document& result, const std::vector<std::array<double, 3>>& sides,
                                           double pageWidth = 0, double pageHeight = 0);
/// The sorted side lengths of each triangle of a polygon object (its polygons' corners a, b, c).
std::vector<std::array<double, 3>> triangleSides(const scene::Object& object);

/// Number of valid pieces in the run state.
int validPieces();

}  // namespace testing_support
