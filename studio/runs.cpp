// Running the module on a session's model, and stepping through its undo history.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

#include "job/document.h"
#include "job/outputs.h"
#include "job/pattern_files.h"
#include "runtime/dialog.h"
#include "studio/checks.h"
#include "studio/context.h"
#include "studio/edits.h"
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

namespace {

/// The progress of a run as the session shows it, from start to its end.
class RunProgress {
 public:
  explicit RunProgress(Session& s) : s_(s) {
    job::Progress progress;
    progress.running = true;
    progress.percent = 0;
    progress.stage = "Starting";
    s_.setProgress(progress);
  }
  ~RunProgress() {
    job::Progress last = s_.progress();
    last.running = false;
    last.percent = 100;
    last.stage = "Done";
    s_.setProgress(last);
  }
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

 private:
  Session& s_;
};

/// The marks a run body enters ("marks") and the person's own among them ("edits"); a body
/// without them enters none, or with `keepShown` the edits of the run the session shows (a run
/// from the form keeps the edges the person marked).
bool marksOf(const json& body, const Session& s, bool keepShown, EdgeMarks* used, EdgeMarks* edits, std::string* error) {
  if (!body.contains("marks")) {
    const RunRecord* shown = keepShown ? s.current() : nullptr;
    *edits = shown ? shown->edits : keepShown ? s.openedEdits : EdgeMarks{};
    *used = *edits;
    return true;
  }
  if (!readMarks(body["marks"], s.modelEdges, used, error)) return false;
  if (!body.contains("edits")) {
    *edits = *used;
    return true;
  }
  return readMarks(body["edits"], s.modelEdges, edits, error);
}

/// Answers a run that did not end in pieces; true when it did and the record can be made.
bool answeredOutcome(const job::RunResult& result, Session& s, httplib::Response& res) {
  switch (result.outcome) {
    case job::RunResult::Outcome::Ran:
      break;
    case job::RunResult::Outcome::Unavailable:
      refuse(res, 409, "the module's command is not available for this model");
      return false;
    case job::RunResult::Outcome::Refused:
      refuse(res, 400, "the dialog refused the settings: " + result.refusal);
      return false;
    case job::RunResult::Outcome::Incomplete:
      refuse(res, 500, "the module's dialog did not complete the run");
      return false;
    case job::RunResult::Outcome::Broken: {
      json out = s.state();
      out["message"] = "stopped";
      answer(res, out);
      return false;
    }
  }
  if (!result.recorded) {
    json out = s.state();
    out["message"] = "nothing was changed";
    answer(res, out);
    return false;
  }
  return true;
}

}  // namespace

bool unfoldingOf(const json& body, const Context& context, const Session& s, job::Unfolding* unfolding, std::string* error) {
  FormRun form;
  if (!readRunForm(body, context.dialog, &form, error)) return false;
  // The studio always draws the pattern: every piece is kept within the printable area.
  form.settings.pageLimit = true;
  form.entries |= job::kEntryPageLimit;
  // The dialog's lengths in model units follow the paper unless the form gave them: a dialog
  // left at its own values would split the pieces for another page.
  form.entries |= job::kEntryPageWidth | job::kEntryPageHeight | job::kEntryTabWidth | job::kEntryFoldShut;
  *unfolding = job::Unfolding{};
  unfolding->settings = form.settings;
  unfolding->scale = formScale(form, s.extent);
  unfolding->pattern = true;
  unfolding->entries = form.entries;
  unfolding->cancel = form.cancel;
  unfolding->keepEdges = true;
  return true;
}

void keepRun(Session& s, job::RunResult&& result, const job::Unfolding& unfolding, json body, const EdgeMarks& used,
             const EdgeMarks& edits, double medianModelEdge, std::chrono::steady_clock::time_point start) {
  // The run replaced whatever could have been redone.
  s.keepRuns(s.document->undoCount() - 1);
  s.changed();
  RunRecord record;
  record.summary = result.summary;
  record.script = runtime::formatDialogScript(result.script);
  // A run without marks keeps the form as the page sent it.
  body.erase("marks");
  body.erase("edits");
  if (!used.empty() || !edits.empty()) {
    body["marks"] = used.toJson();
    body["edits"] = edits.toJson();
  }
  record.form = std::move(body);
  record.scale = unfolding.scale;
  record.edits = edits;
  record.used = used;
  record.edges = std::move(result.edges);
  record.pieceObjects = piecesInOrder(*s.document, result.pieces);
  // The module describes its pieces in the order it made them; each new piece goes in front of
  // the ones before it, so the document lists them the other way round.
  std::reverse(record.pieceObjects.begin(), record.pieceObjects.end());
  const std::string shortEdges = job::shortEdgesWarning(medianModelEdge, unfolding.scale, s.extent[1]);
  if (!shortEdges.empty()) record.warnings.push_back(shortEdges);
  if (!result.patternProblem.empty()) {
    record.warnings.push_back(result.patternProblem);
  } else if (!samePieces(record.pieceObjects, result.pattern)) {
    record.warnings.push_back("the pattern's pieces do not match the pieces in the scene; the pattern is left out");
  } else {
    const fs::path folder = s.folder / ("run-" + std::to_string(++s.outputs));
    std::error_code ec;
    fs::create_directory(folder, ec);
    record.folder = folder.string();
    // The sheets' titles name the model as the command line does: the file's name without its
    // extension.
    pattern::PatternOptions options =
        job::patternOptions(unfolding.settings, unfolding.scale, fs::path(s.modelName).stem().string());
    options.dpi = kPreviewDpi;
    std::string ignored;
    if (!readPlacements(record.form.value("placements", json()), &options.placed, &ignored)) options.placed.clear();
    record.pattern = std::make_shared<job::PatternFiles>(std::move(result.pattern), options, record.folder);
  }
  s.runs.push_back(std::move(record));
  RunRecord& kept = s.runs.back();
  // The pieces' places on the sheets are known before the answer, so the 3D view numbers the
  // pieces as the sheets do; meanwhile the 3D view's data is made, so that it is ready when the
  // page asks. The drawing packs the sheets and goes straight on to draw them, while the answer
  // is made and sent.
  if (kept.pattern) kept.drawing = std::make_shared<PatternDrawing>(kept.pattern);
  s.scene()->compressed();
  if (kept.pattern) kept.pattern->layout();
  kept.checks = runChecks(kept.edges, kept.pattern.get());
  kept.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.resume = nullptr;
}

void run(Context& context, const httplib::Request& req, httplib::Response& res) {
  auto session = context.sessions.require(req, res);
  if (!session) return;
  json body;
  if (!readBody(req, res, "the run's settings", &body)) return;
  std::string error;
  {
    FormRun form;
    if (!readRunForm(body, context.dialog, &form, &error)) return refuse(res, 400, error);
  }

  Changing s = Sessions::change(std::move(session), res, "busy: this session is already running the module");
  if (!s) return;
  if (staleRequest(req, *s, res)) return;
  if (!s->document) return refuse(res, 409, "open a model first");
  job::Unfolding unfolding;
  EdgeMarks used, edits;
  std::vector<pattern::Position> placed;
  if (!unfoldingOf(body, context, *s, &unfolding, &error) || !marksOf(body, *s, true, &used, &edits, &error) ||
      !readPlacements(body.value("placements", json()), &placed, &error)) {
    return refuse(res, 400, error);
  }
  std::unique_lock<std::mutex> moduleLock(context.moduleMutex, std::try_to_lock);
  if (!moduleLock.owns_lock()) {
    return refuse(res, 409, "busy: the module is running for another session; try again when it has finished");
  }
  RunProgress shown(*s);
  if (context.options.beforeRun) context.options.beforeRun();
  const auto start = std::chrono::steady_clock::now();

  // Every run unfolds the opened model: earlier runs are undone first (they stay redoable
  // until this run records its own step).
  std::size_t undone = 0;
  while (s->document->undoCount() > 0 && s->document->undo()) ++undone;
  job::selectObjects(*s->document, {}, &error);
  writeMarks(*s->document, used);
  const double medianModelEdge = job::medianEdge(*s->document);
  job::RunResult result;
  context.running.set(&*s, req.get_header_value(kTabHeader));
  context.module.unfold(s->document, unfolding, s->modelFolder, [&](const job::Progress& p) { s->setProgress(p); }, &result);
  context.running.set(nullptr, "");
  // What follows is the session's own work: another session may run the module meanwhile.
  moduleLock.unlock();
  // Without a run (the dialog's cancel button, or settings it refused) the document goes back
  // to where it stood, with the marks of the run it shows.
  if (!result.recorded) {
    while (undone-- > 0 && s->document->redo()) {
    }
  }
  if (!answeredOutcome(result, *s, res)) return;
  keepRun(*s, std::move(result), unfolding, std::move(body), used, edits, medianModelEdge, start);
  // A run from the form starts the history of edits afresh.
  s->history.assign(1, s->runs.back().form);
  s->historyAt = 0;
  saveSession(*s);
  answer(res, s->state());
}

bool readBody(const httplib::Request& req, httplib::Response& res, const std::string& what, json* body) {
  try {
    *body = json::parse(req.body);
    return true;
  } catch (const json::exception&) {
    refuse(res, 400, what + " is not valid JSON");
    return false;
  }
}

bool runOnCopy(Context& context, const httplib::Request& req, Session& s, const json& body, const EdgeMarks& used,
               CopyRun* run, httplib::Response& res) {
  run->start = std::chrono::steady_clock::now();
  std::string error;
  if (!unfoldingOf(body, context, s, &run->unfolding, &error)) return refuse(res, 400, error), false;
  std::unique_lock<std::mutex> moduleLock(context.moduleMutex, std::try_to_lock);
  if (!moduleLock.owns_lock()) {
    refuse(res, 409, "busy: the module is running for another session; try again when it has finished");
    return false;
  }
  RunProgress shown(s);
  if (context.options.beforeRun) context.options.beforeRun();
  // The model as opened, copied: the session's document stays as it is until the run is kept.
  std::size_t undone = 0;
  while (s.document->undoCount() > 0 && s.document->undo()) ++undone;
  run->copy = scene::cloneDocument(*s.document);
  while (undone-- > 0 && s.document->redo()) {
  }
  job::selectObjects(*run->copy, {}, &error);
  writeMarks(*run->copy, used);
  run->medianModelEdge = job::medianEdge(*run->copy);
  context.running.set(&s, req.get_header_value(kTabHeader));
  context.module.unfold(run->copy, run->unfolding, s.modelFolder, [&](const job::Progress& p) { s.setProgress(p); }, &run->result);
  context.running.set(nullptr, "");
  return answeredOutcome(run->result, s, res);
}

void keepCopy(Session& s, CopyRun&& run, json body, const EdgeMarks& used, const EdgeMarks& edits, httplib::Response& res,
              std::optional<std::size_t> step) {
  // The runs' pieces belong to the document they were made in: every record goes with it.
  s.keepRuns(0);
  s.document = std::move(run.copy);
  s.changed();
  keepRun(s, std::move(run.result), run.unfolding, std::move(body), used, edits, run.medianModelEdge, run.start);
  if (step) {
    s.historyAt = *step;
  } else {
    // A new edit: what could have been redone goes.
    s.history.resize(s.historyAt + 1);
    s.history.push_back(s.runs.back().form);
    s.historyAt = s.history.size() - 1;
  }
  saveSession(s);
  answer(res, s.state());
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
  // Past the first run, undo and redo step through the edits: each step unfolds the model
  // again with the marks of the edit it goes to, which gives that edit's pieces.
  const bool atRun = s->document->undoCount() > 0;
  const bool step = atRun && (undo ? s->historyAt > 0 : s->historyAt + 1 < s->history.size());
  if (!step) {
    const bool done = undo ? s->document->undo() : s->document->redo();
    if (!done) return refuse(res, 409, undo ? "nothing to undo" : "nothing to redo");
    s->changed();
    saveSession(*s);
    return answer(res, s->state());
  }
  const std::size_t to = undo ? s->historyAt - 1 : s->historyAt + 1;
  const json body = s->history[to];
  std::string error;
  EdgeMarks used, edits;
  if (!marksOf(body, *s, false, &used, &edits, &error)) return refuse(res, 500, "the edit's marks no longer fit the model: " + error);
  CopyRun made;
  if (!runOnCopy(context, req, *s, body, used, &made, res)) return;
  keepCopy(*s, std::move(made), body, used, edits, res, to);
}

}  // namespace studio
