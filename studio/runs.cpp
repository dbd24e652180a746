// Running the module on a session's model, and stepping through its undo history.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "job/document.h"
#include "job/outputs.h"
#include "job/pattern_files.h"
#include "runtime/dialog.h"
#include "studio/context.h"
#include "studio/form.h"
#include "studio/http.h"
#include "studio/kept.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

/// Sheets shown in the page are drawn at this resolution: sharp on a screen when a sheet fills
/// the viewer, and a few hundred kilobytes each however many triangles the pieces have.
constexpr double kPreviewDpi = 110;

/// The run's pieces in the document's order.
std::vector<const scene::Object*> piecesInOrder(const scene::Document& document, const std::set<const scene::Object*>& pieces) {
  std::vector<const scene::Object*> ordered;
  for (const scene::Object* o : document.allObjects()) {
    if (pieces.count(o)) ordered.push_back(o);
  }
  return ordered;
}

/// True when every piece object has as many polygons (triangles and glue tabs) as the pattern's
/// piece of its place.
bool samePieces(const std::vector<const scene::Object*>& objects, const pattern::PatternInput& input) {
  if (objects.size() != input.pieces.size()) return false;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const pattern::Piece& piece = input.pieces[i];
    if (objects[i]->polygons.size() != piece.triangles.size() + piece.tabs.size()) return false;
  }
  return true;
}

}  // namespace

void run(Context& context, const httplib::Request& req, httplib::Response& res) {
  auto session = context.sessions.require(req, res);
  if (!session) return;
  json body;
  try {
    body = json::parse(req.body);
  } catch (const json::exception&) {
    return refuse(res, 400, "the run's settings are not valid JSON");
  }
  FormRun form;
  std::string error;
  if (!readRunForm(body, context.dialog, &form, &error)) return refuse(res, 400, error);
  // The studio always draws the pattern: every piece is kept within the printable area.
  form.settings.pageLimit = true;
  form.entries |= job::kEntryPageLimit;
  // The dialog's lengths in model units follow the paper unless the form gave them: a dialog
  // left at its own values would split the pieces for another page.
  form.entries |= job::kEntryPageWidth | job::kEntryPageHeight | job::kEntryTabWidth | job::kEntryFoldShut;

  Changing s = Sessions::change(std::move(session), res, "busy: this session is already running the module");
  if (!s) return;
  if (staleRequest(req, *s, res)) return;
  if (!s->document) return refuse(res, 409, "open a model first");
  std::unique_lock<std::mutex> moduleLock(context.moduleMutex, std::try_to_lock);
  if (!moduleLock.owns_lock()) {
    return refuse(res, 409, "busy: the module is running for another session; try again when it has finished");
  }
  job::Progress progress;
  progress.running = true;
  progress.percent = 0;
  progress.stage = "Starting";
  s->setProgress(progress);
  struct Done {
    Session& s;
    ~Done() {
      job::Progress last = s.progress();
      last.running = false;
      last.percent = 100;
      last.stage = "Done";
      s.setProgress(last);
    }
  } done{*s};
  if (context.options.beforeRun) context.options.beforeRun();
  const auto start = std::chrono::steady_clock::now();

  // Every run unfolds the opened model: earlier runs are undone first (they stay redoable
  // until this run records its own step).
  std::size_t undone = 0;
  while (s->document->undoCount() > 0 && s->document->undo()) ++undone;
  job::selectObjects(*s->document, {}, &error);
  const double medianModelEdge = job::medianEdge(*s->document);
  job::Unfolding unfolding;
  unfolding.settings = form.settings;
  unfolding.scale = formScale(form, s->extent);
  unfolding.pattern = true;
  unfolding.entries = form.entries;
  unfolding.cancel = form.cancel;
  job::RunResult result;
  context.running.set(&*s, req.get_header_value(kTabHeader));
  context.module.unfold(s->document, unfolding, s->modelFolder, [&](const job::Progress& p) { s->setProgress(p); }, &result);
  context.running.set(nullptr, "");
  // What follows is the session's own work: another session may run the module meanwhile.
  moduleLock.unlock();
  // Without a run (the dialog's cancel button, or settings it refused) the document goes back
  // to where it stood.
  if (!result.recorded) {
    while (undone-- > 0 && s->document->redo()) {
    }
  }
  switch (result.outcome) {
    case job::RunResult::Outcome::Ran:
      break;
    case job::RunResult::Outcome::Unavailable:
      return refuse(res, 409, "the module's command is not available for this model");
    case job::RunResult::Outcome::Refused:
      return refuse(res, 400, "the dialog refused the settings: " + result.refusal);
    case job::RunResult::Outcome::Incomplete:
      return refuse(res, 500, "the module's dialog did not complete the run");
    case job::RunResult::Outcome::Broken: {
      json out = s->state();
      out["message"] = "stopped";
      return answer(res, out);
    }
  }
  if (!result.recorded) {
    json out = s->state();
    out["message"] = "nothing was changed";
    return answer(res, out);
  }
  // The run replaced whatever could have been redone.
  s->keepRuns(s->document->undoCount() - 1);
  s->changed();
  RunRecord record;
  record.summary = result.summary;
  record.script = runtime::formatDialogScript(result.script);
  record.form = body;
  record.scale = unfolding.scale;
  record.pieceObjects = piecesInOrder(*s->document, result.pieces);
  // The module describes its pieces in the order it made them; each new piece goes in front of
  // the ones before it, so the document lists them the other way round.
  std::reverse(record.pieceObjects.begin(), record.pieceObjects.end());
  const std::string shortEdges = job::shortEdgesWarning(medianModelEdge, unfolding.scale, s->extent[1]);
  if (!shortEdges.empty()) record.warnings.push_back(shortEdges);
  if (!result.patternProblem.empty()) {
    record.warnings.push_back(result.patternProblem);
  } else if (!samePieces(record.pieceObjects, result.pattern)) {
    record.warnings.push_back("the pattern's pieces do not match the pieces in the scene; the pattern is left out");
  } else {
    const fs::path folder = s->folder / ("run-" + std::to_string(++s->outputs));
    std::error_code ec;
    fs::create_directory(folder, ec);
    record.folder = folder.string();
    // The sheets' titles name the model as the command line does: the file's name without its
    // extension.
    pattern::PatternOptions options =
        job::patternOptions(unfolding.settings, unfolding.scale, fs::path(s->modelName).stem().string());
    options.dpi = kPreviewDpi;
    record.pattern = std::make_shared<job::PatternFiles>(std::move(result.pattern), options, record.folder);
  }
  s->runs.push_back(std::move(record));
  RunRecord& kept = s->runs.back();
  // The pieces' places on the sheets are known before the answer, so the 3D view numbers the
  // pieces as the sheets do; meanwhile the 3D view's data is made, so that it is ready when the
  // page asks. The sheets themselves are drawn after the answer.
  std::thread packing;
  if (kept.pattern) packing = std::thread([pattern = kept.pattern] { pattern->layout(); });
  s->scene()->compressed();
  if (packing.joinable()) packing.join();
  if (kept.pattern) kept.drawing = std::make_shared<PatternDrawing>(kept.pattern);
  kept.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s->resume = nullptr;
  saveSession(*s);
  answer(res, s->state());
}

void stopRun(Context& context, const httplib::Request& req, httplib::Response& res) {
  auto session = context.sessions.require(req, res);
  if (!session) return;
  if (!context.running.is(session.get())) return refuse(res, 409, "no run of this session to stop");
  context.module.breakRun();
  answer(res, json{{"stopping", true}});
}

void undoRedo(Context& context, const httplib::Request& req, httplib::Response& res, bool undo) {
  Changing s = context.sessions.change(req, res);
  if (!s) return;
  if (staleRequest(req, *s, res)) return;
  if (!s->document) return refuse(res, 409, "open a model first");
  const bool done = undo ? s->document->undo() : s->document->redo();
  if (!done) return refuse(res, 409, undo ? "nothing to undo" : "nothing to redo");
  s->changed();
  saveSession(*s);
  answer(res, s->state());
}

}  // namespace studio
