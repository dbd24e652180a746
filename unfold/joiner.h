// The joins of the unfolding without the two costs that grow with the square of the mesh:
// moving the larger piece, and testing a moved triangle against every member of the receiving
// piece.
//
// Every piece keeps its flat coordinates on a chart: member coordinates in a local frame of the
// chart, plus the frame that takes them into the piece's own frame. A join moves only the
// members of the smaller chart; when the moved piece is the larger one, its chart's frame is
// turned instead and the receiving piece takes the chart over. The collision test asks a
// bounding-box tree of the larger chart for the members a triangle of the smaller one could
// reach, and runs the same overlap predicate on exactly those pairs: pairs whose boxes are
// apart cannot overlap. The result is that of `merge` joining the same pieces in the same order;
// coordinates agree up to rounding. `finish` writes the coordinates, container indices,
// triangle lists and boxes back into the run state it was given.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "unfold/box_tree.h"
#include "unfold/join_test.h"
#include "unfold/options.h"
#include "unfold/unfold.h"

namespace foldra {

/// The rigid move that takes a chart's local coordinates into its piece's frame: x -> rot x +
/// offset. It is kept apart from Placement, the move of one hinge (pivot + trans + rot (x -
/// pivot)), because it is composed and undone rather than applied once: a chart's frame is the
/// product of every hinge its piece was turned by, it is inverted to test a moved triangle in
/// the other chart's coordinates, and a chart never turned applies the identity exactly, so that
/// its coordinates stay as they are to the last bit. Written as a Placement (pivot 0), the same
/// move would round differently.
struct ChartFrame {
  Mat3 rot;
  Vec3 offset;
  bool identity = true;

  Vec3 apply(Vec3 x) const { return identity ? x : rot * x + offset; }
  /// The inverse move (rot is a rotation: its transpose undoes it).
  Vec3 unapply(Vec3 y) const;
  /// The hinge `outer` after this move.
  ChartFrame then(const Placement& outer) const;
};

/// False when side e of t and the side of its neighbour that leads back are not one side in
/// space run opposite ways. A duplicate face, or a triangle with coinciding corners, can be
/// linked to its neighbour across sides that differ; and two faces that run their side the same
/// way wind against each other (intake turns such faces where it can; what is left lies in a
/// non-orientable strip or on an edge of several faces). A hinge on either would lay the
/// neighbour where it does not belong: on another triangle, or with the side's ends swapped, so
/// that the piece could not fold back into the model. Nor is an edge marked as always cut.
bool hingeable(const gt& t, int e);

class Joiner {
 public:
  /// Takes over the pieces createPieces made in the run state: one chart per piece, in the
  /// identity frame. Joins keep pieces within the page when its limit is on.
  Joiner(RunState& state, PageLimit page);
  /// The piece that holds t now.
  std::int32_t pieceOf(const gt& t) const;
  /// Joins the piece of t.nb[e] onto the piece of t along side e, as `merge` does.
  bool join(gt& t, int e, bool collisionTest);
  /// Writes the result into the run state: every member's flat corners and placed tabs in its
  /// piece's frame, container indices, each valid piece's triangle list in join order and its
  /// box; dead pieces keep an empty list.
  void finish();

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  /// The members are a list through nextMember_, in the order they arrived.
  struct Chart {
    ChartFrame frame;
    std::uint32_t first = kNone, last = kNone, count = 0;
    /// Members whose box is not finite: tested against everything.
    std::vector<std::uint32_t> unbounded;
    BoxTree tree;
    bool treeBuilt = false;
  };
  /// A tab removed after its triangle joined a piece: the box of the piece still holds it.
  struct Ghost {
    std::int64_t time = -1;
    Vec3 lug[2];
    bool second = false;
  };

  std::uint32_t id(const gt& t) const { return static_cast<std::uint32_t>(t.containerIndex); }
  Chart& chartOf(const gt& t) { return charts_[chartOfTri_[id(t)]]; }
  void addMember(std::uint32_t chart, std::uint32_t member);
  void buildTree(Chart& chart);
  template <class Visit>
  bool visitNear(const Chart& chart, const Box& box, bool bounded, Visit&& visit) const;
  bool collides(Chart& CA, Chart& CB, const Placement& hinge);
  bool exceedsPage(const Chart& CB, const Placement& hinge, Box& box) const;
  void removeFolds(Chart& CA, Chart& CB, const Placement& hinge, std::int64_t time);
  /// Keeps the corners of the tab that side k of t had until `time`, when ghosts are kept.
  void keepGhost(const gt& t, int k, const LugPair& tab, std::int64_t time);
  void noteRemoval(gt& t, int k, std::int64_t time);
  /// Piece b joined onto piece a by the hinge at `time`: charts, member lists and parents.
  void absorb(std::int32_t a, std::int32_t b, const Placement& hinge, std::int64_t time);
  /// The ghost of member m's side k; the list is made when the first tab is removed, which the
  /// compact unfolding (tabs placed after the joins) never does.
  Ghost& ghostOf(std::uint32_t m, int k) {
    if (ghosts_.empty()) ghosts_.resize(tri_.size());
    return ghosts_[m][static_cast<std::size_t>(k)];
  }
  void moveMembers(Chart& from, std::uint32_t to, const ChartFrame& fromFrame, const Placement* hinge);
  void writeBoxes();

  std::vector<gt*> tri_;
  std::vector<std::uint32_t> chartOfTri_;
  std::vector<Box> box_;
  std::vector<std::uint8_t> bounded_;
  std::vector<Chart> charts_;
  /// Per chart: the piece that owns it (-1 for a chart given up); apart from the charts, as
  /// every edge of the table asks it.
  std::vector<std::int32_t> ownerOfChart_;
  std::vector<std::uint32_t> nextMember_;
  /// Per piece: its chart, its first and last triangle in join order, the piece that absorbed
  /// it and when.
  std::vector<std::uint32_t> chartOfPiece_;
  std::vector<std::uint32_t> head_, tail_, next_;
  std::vector<std::int32_t> parent_;
  std::vector<std::int64_t> linkTime_;
  std::vector<std::array<Ghost, 3>> ghosts_;
  RunState& state_;
  JoinTest test_;
  bool keepGhosts_;
  std::int64_t clock_ = 0;
};

}  // namespace foldra
