// Running the module on a session's model, and stepping through its undo history.
#include <chrono>
#include <filesystem>

#include "job/document.h"
#include "job/outputs.h"
#include "runtime/dialog.h"
#include "studio/context.h"
#include "studio/form.h"
#include "studio/http.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

/// The run's pattern as PDF and one SVG per sheet in a fresh folder of the session. What goes
/// wrong is a note of the run: the pieces stand without their pattern.
void drawPattern(Session& s, const job::RunResult& result, const pattern::PatternOptions& options, RunRecord* record) {
  if (!result.patternProblem.empty()) {
    record->warnings.push_back(result.patternProblem);
    return;
  }
  const fs::path folder = s.folder / ("run-" + std::to_string(++s.outputs));
  std::error_code ec;
  fs::create_directory(folder, ec);
  record->folder = folder.string();
  record->paperWidth = options.pageWidth;
  record->paperHeight = options.pageHeight;
  job::Written written;
  std::string error;
  const std::vector<std::string> files = {(folder / "pattern.pdf").string(), (folder / "pattern.svg").string()};
  if (!job::writeOutputs(*s.document, result.pattern, options, files, &written, &error)) {
    const auto colon = error.find(": ");
    record->warnings.push_back("pattern: " + error.substr(colon == std::string::npos ? 0 : colon + 2));
    return;
  }
  record->warnings.insert(record->warnings.end(), written.warnings.begin(), written.warnings.end());
  record->pdf = written.byOutput[0].front();
  // The SVG output's pages are the overview (when drawn), then the sheets the page shows.
  record->sheets = written.byOutput[1];
  if (written.overview && !record->sheets.empty()) record->sheets.erase(record->sheets.begin());
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

  Changing s = Sessions::change(std::move(session), res, "busy: this session is already running the module");
  if (!s) return;
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
  job::Unfolding unfolding;
  unfolding.settings = form.settings;
  unfolding.scale = formScale(form, s->extent);
  unfolding.pattern = true;
  unfolding.entries = form.entries;
  unfolding.cancel = form.cancel;
  job::RunResult result;
  context.module.unfold(s->document, unfolding, s->modelFolder, [&](const job::Progress& p) { s->setProgress(p); }, &result);
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
  }
  if (!result.recorded) {
    json out = s->state();
    out["message"] = "the dialog closed without a run";
    return answer(res, out);
  }
  // The run replaced whatever could have been redone.
  s->keepRuns(s->document->undoCount() - 1);
  RunRecord record;
  record.script = runtime::formatDialogScript(result.script);
  record.summary = result.summary;
  record.pieceObjects = result.pieces;
  job::Progress drawing = s->progress();
  drawing.percent = 100;
  drawing.stage = "Drawing the pattern";
  s->setProgress(drawing);
  // The sheets' titles name the model as the command line does: the file's name without its
  // extension.
  drawPattern(*s, result,
              job::patternOptions(unfolding.settings, unfolding.scale, fs::path(s->modelName).stem().string()), &record);
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s->runs.push_back(std::move(record));
  answer(res, s->state());
}

void undoRedo(Context& context, const httplib::Request& req, httplib::Response& res, bool undo) {
  Changing s = context.sessions.change(req, res);
  if (!s) return;
  if (!s->document) return refuse(res, 409, "open a model first");
  const bool done = undo ? s->document->undo() : s->document->redo();
  if (!done) return refuse(res, 409, undo ? "nothing to undo" : "nothing to redo");
  answer(res, s->state());
}

}  // namespace studio
