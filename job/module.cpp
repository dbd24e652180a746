#include "job/module.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "job/document.h"
#include "job/pattern_input.h"
#include "runtime/resources.h"
#include "runtime/run_report.h"
#include "shell/ids.h"

namespace job {

namespace fs = std::filesystem;

bool Module::load(const std::string& path, std::string* error) {
  if (!host_.loadModule(path, error)) return false;
  if (!host_.findCommand(foldra::kPluginId)) {
    *error = path + ": registered no paper model command";
    return false;
  }
  path_ = path;
  folder_ = fs::absolute(path).parent_path().string();
  return true;
}

bool Module::dialogForm(DialogForm* form, std::string* error) {
  runtime::Resources resources;
  if (!runtime::loadResources(folder_, &resources, error)) return false;
  auto description = resources.dialogs.find(foldra::kDialogSettings);
  if (description == resources.dialogs.end()) {
    *error = folder_ + ": the module's resources describe no settings dialog";
    return false;
  }
  const runtime::Command* command = host_.findCommand(foldra::kPluginId);
  form->command = command->name;
  form->help = command->help;
  form->description = description->second;
  // A person opens the dialog on a triangle and closes it again.
  auto probe = std::make_unique<scene::Document>();
  auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  object->points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  object->polygons = {{0, 1, 2, 2}};
  object->selected = true;
  probe->append(std::move(object));
  host_.setActiveDocument(std::move(probe));
  host_.setDialogScript({});
  host_.runCommand(foldra::kPluginId);
  form->initial = host_.lastDialog().initial;
  host_.setActiveDocument(std::make_unique<scene::Document>());
  return true;
}

namespace {

Summary countPieces(const scene::Document& document, const std::set<const scene::Object*>& existing,
                    std::set<const scene::Object*>* pieces) {
  Summary summary;
  for (const auto& o : document.objects()) {
    if (existing.count(o.get())) continue;
    ++summary.pieces;
    pieces->insert(o.get());
    for (const auto& p : o->polygons) (scene::isTriangle(p) ? summary.triangles : summary.tabs) += 1;
  }
  return summary;
}

/// Cut edges whose two copies both carry no tab; *byChoice of them are marked to carry none.
int untabbedEdges(const runtime::RunReport& report, int* byChoice) {
  int bareCopies = 0, chosenCopies = 0;
  for (const runtime::RunPiece& piece : report.pieces) {
    for (const runtime::RunTriangle& triangle : piece.triangles) {
      for (const runtime::RunSide& side : triangle.sides) {
        if (side.kind != runtime::RunSide::Kind::Cut || side.hasTab) continue;
        const runtime::RunSide& other = report.pieces[static_cast<std::size_t>(side.piece)]
                                            .triangles[static_cast<std::size_t>(side.triangle)]
                                            .sides[static_cast<std::size_t>(side.side)];
        if (other.hasTab) continue;
        ++bareCopies;
        if (((side.marks | other.marks) & foldra::kMarkNoTab) != 0) ++chosenCopies;
      }
    }
  }
  // Each bare edge was met from both of its copies.
  *byChoice = chosenCopies / 2;
  return bareCopies / 2;
}

RunEdges edgesOf(const runtime::RunReport& report) {
  RunEdges edges(report.pieces.size());
  for (std::size_t p = 0; p < report.pieces.size(); ++p) {
    for (const runtime::RunTriangle& t : report.pieces[p].triangles) {
      std::array<EdgeCopy, 3> sides;
      for (std::size_t k = 0; k < 3; ++k) {
        const runtime::RunSide& s = t.sides[k];
        EdgeCopy& e = sides[k];
        e.object = t.object;
        e.polygon = t.polygon;
        e.side = s.edge;
        e.otherPiece = s.piece, e.otherTriangle = s.triangle, e.otherSide = s.side;
        e.kind = s.kind == runtime::RunSide::Kind::Fold  ? EdgeCopy::Kind::Fold
                 : s.kind == runtime::RunSide::Kind::Cut ? EdgeCopy::Kind::Cut
                                                         : EdgeCopy::Kind::Open;
        e.tab = s.hasTab;
        e.marks = s.marks;
        if (e.kind == EdgeCopy::Kind::Fold) {
          // The other copy runs the side the other way: its corner s + 1 is this one's k.
          const runtime::RunTriangle& o =
              report.pieces[static_cast<std::size_t>(s.piece)].triangles[static_cast<std::size_t>(s.triangle)];
          const auto& a = t.flat[k];
          const auto& b = t.flat[(k + 1) % 3];
          const auto& c = o.flat[static_cast<std::size_t>((s.side + 1) % 3)];
          const auto& d = o.flat[static_cast<std::size_t>(s.side)];
          const double reach = std::max({std::fabs(a[0]), std::fabs(a[1]), std::fabs(b[0]), std::fabs(b[1]), 1.0});
          const double apart = std::max(std::hypot(a[0] - c[0], a[1] - c[1]), std::hypot(b[0] - d[0], b[1] - d[1]));
          e.shut = apart > 1e-9 * reach;
        }
      }
      edges[p].push_back(sides);
    }
  }
  return edges;
}

}  // namespace

void Module::breakRun() {
  breakAsked_ = true;
  host_.messageModule(foldra::kPluginId, sdk::kMessageBreakRun, nullptr);
}

void Module::unfold(std::unique_ptr<scene::Document>& document, const Unfolding& unfolding,
                    const std::string& textureFolder, const ProgressHandler& progress, RunResult* result) {
  *result = RunResult{};
  breakAsked_ = false;
  const int objects = unfoldableObjects(*document);
  std::set<const scene::Object*> existing;
  for (const auto& o : document->objects()) existing.insert(o.get());
  const std::size_t undoBefore = document->undoCount();
  result->script = dialogScript(unfolding.settings, unfolding.scale, unfolding.pattern, unfolding.entries,
                                unfolding.cancel ? foldra::kButtonCancel : foldra::kButtonConfirm);

  Progress shown;
  shown.running = true;
  host_.setStatusHandler([&](int percent, const std::string& text) {
    if (percent < 0 || !progress) return;
    shown.percent = percent;
    shown.stage = text;
    ++shown.reports;
    progress(shown);
  });
  host_.setActiveDocument(std::move(document));
  host_.setDialogScript(result->script);
  const bool enabled = host_.commandState(foldra::kPluginId) == sdk::kCommandEnabled;
  const bool ran = enabled && host_.runCommand(foldra::kPluginId);
  const runtime::DialogReport& dialog = host_.lastDialog();
  if (!enabled) {
    result->outcome = RunResult::Outcome::Unavailable;
  } else if (!dialog.error.empty()) {
    result->outcome = RunResult::Outcome::Refused;
    result->refusal = dialog.error;
  } else if (ran && dialog.closedByDialog) {
    result->outcome = RunResult::Outcome::Ran;
  }
  result->recorded = host_.activeDocument().undoCount() != undoBefore;
  if (breakAsked_ && result->outcome == RunResult::Outcome::Ran && !result->recorded) {
    result->outcome = RunResult::Outcome::Broken;
  }
  // Only a run that changed the document is described: after a dialog closed without a run the
  // module's last run is an earlier one, on a document that may be gone. Every such run is, for
  // the summary's count of cut edges without a tab; the pattern is drawn from it when asked for.
  const bool describe = result->outcome == RunResult::Outcome::Ran && result->recorded;
  runtime::RunReport report;
  std::string reportError;
  const bool described = describe && runtime::describeLastRun(host_, foldra::kPluginId, &report, &reportError);
  // The report holds all that is read of the run from here on: the module's records go before
  // the files are written.
  if (result->outcome == RunResult::Outcome::Ran) runtime::forgetLastRun(host_, foldra::kPluginId);
  document = host_.takeActiveDocument();
  host_.setStatusHandler(nullptr);
  if (result->outcome != RunResult::Outcome::Ran) return;

  result->summary = countPieces(*document, existing, &result->pieces);
  result->summary.objects = objects;
  if (described) result->summary.untabbed = untabbedEdges(report, &result->summary.untabbedByChoice);
  if (described && unfolding.keepEdges) result->edges = edgesOf(report);
  if (!describe || !unfolding.pattern) return;
  if (!described) {
    result->patternProblem = path_ + ": " + reportError;
  } else if (report.pieces.size() != static_cast<std::size_t>(result->summary.pieces)) {
    result->patternProblem = path_ + ": the module described " + std::to_string(report.pieces.size()) +
                             " pieces of its run where it made " + std::to_string(result->summary.pieces);
  } else {
    result->pattern = patternInput(report, textureFolder);
  }
}

}  // namespace job
