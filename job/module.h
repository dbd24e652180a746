// The module loaded into our host, and one run of it on a document: the settings entered
// through its dialog, the command run, the result counted and, for a pattern, the run described
// by the module itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "job/progress.h"
#include "job/settings.h"
#include "pattern/pattern.h"
#include "runtime/dialog.h"
#include "runtime/host.h"
#include "scene/document.h"

namespace job {

/// What a run made.
struct Summary {
  /// The selected objects the module unfolded.
  int objects = 0;
  int triangles = 0;
  int pieces = 0;
  int tabs = 0;
  /// Cut edges with a tab on neither copy, as the module described its run; unset when it did
  /// not.
  std::optional<int> untabbed;
  /// Of those, the edges a person marked to carry none.
  int untabbedByChoice = 0;
};

/// One run of the module's command.
struct Unfolding {
  Settings settings;
  /// Millimetres on paper per model unit (see chooseScale).
  double scale = 1;
  /// The run's pieces will be drawn as a pattern: the module describes them, and an unset page
  /// limit is on.
  bool pattern = false;
  /// The dialog entries the run enters (see Entry).
  unsigned entries = kAllEntries;
  /// The dialog button the run ends with: Unfold, or Cancel to close it without a run.
  bool cancel = false;
  /// Keep what became of every edge (RunResult::edges), for a front end that edits the pieces.
  bool keepEdges = false;
};

/// One copy of an edge as a run left it: a side of a piece's triangle.
struct EdgeCopy {
  /// The source object (in the order the run read them), the polygon of its triangulated form
  /// and the polygon's side.
  std::int32_t object = 0, polygon = 0, side = 0;
  /// The other copy (piece, triangle, side); -1 for an open side.
  std::int32_t otherPiece = -1, otherTriangle = -1, otherSide = -1;
  enum class Kind : std::uint8_t { Open, Fold, Cut };
  Kind kind = Kind::Open;
  /// This copy carries the edge's glue tab.
  bool tab = false;
  /// A fold whose two copies do not lie on each other: a seam of the piece folded shut.
  bool shut = false;
  /// The marks the run read on the side (host/edge_marks.h).
  std::uint8_t marks = 0;
};
/// Per piece, per triangle (in the pattern's order), its three sides.
using RunEdges = std::vector<std::vector<std::array<EdgeCopy, 3>>>;

struct RunResult {
  enum class Outcome {
    /// The dialog took every step and closed itself.
    Ran,
    /// The command is not available for the document's selection.
    Unavailable,
    /// The dialog refused a step (`refusal` says why).
    Refused,
    /// The dialog did not close.
    Incomplete,
    /// The run was broken off (see Module::breakRun) before it changed the document.
    Broken,
  };
  Outcome outcome = Outcome::Incomplete;
  std::string refusal;
  /// The run recorded an undo step: it changed the document.
  bool recorded = false;
  Summary summary;
  /// The pieces: the top-level objects the run added.
  std::set<const scene::Object*> pieces;
  /// The steps the dialog was given.
  runtime::DialogScript script;
  /// The pattern's pieces as the module described them (when asked for, and the run changed the
  /// document); when the description failed or does not match the pieces, `patternProblem` says
  /// why and this is empty.
  pattern::PatternInput pattern;
  std::string patternProblem;
  /// With Unfolding::keepEdges, when the run was described: every side of every piece.
  RunEdges edges;
};

/// The module's settings dialog as it first shows: its description and the gadgets' values.
struct DialogForm {
  std::string command, help;
  runtime::DialogDescription description;
  std::map<std::int32_t, runtime::Gadget> initial;
};

/// The module loaded once into a host of its own. One run at a time: the module keeps one run
/// state.
class Module {
 public:
  /// Loads the module file and finds its command; false with *error set.
  bool load(const std::string& path, std::string* error);
  const std::string& path() const { return path_; }
  /// The folder of the module file (its resources are there).
  const std::string& folder() const { return folder_; }

  /// Opens the settings dialog on a small model and closes it again, to see it as a person
  /// first does. False with *error set when the module's resources describe no such dialog.
  bool dialogForm(DialogForm* form, std::string* error);

  /// Runs the module's command on the document's selection (moved into the host and handed
  /// back), with the settings entered through its dialog. Relative texture paths of the
  /// pattern are taken relative to `textureFolder`. `progress` is told the module's reports.
  void unfold(std::unique_ptr<scene::Document>& document, const Unfolding& unfolding,
              const std::string& textureFolder, const ProgressHandler& progress, RunResult* result);

  /// Asks the run that `unfold` is making, from another thread, to break off at the module's
  /// next progress report; the run then leaves the document as it was and ends as Broken. Asked
  /// between runs, it is forgotten when the next run starts.
  void breakRun();

 private:
  runtime::Host host_;
  std::atomic<bool> breakAsked_{false};
  std::string path_, folder_;
};

}  // namespace job
