// What the studio's request handlers share: the options, the module (one run at a time), its
// dialog as the form shows it, and the sessions. The handlers that change a session's model or
// result, or send its files, live in files of their own.
#pragma once

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "job/module.h"
#include "studio/serve.h"
#include "studio/sessions.h"

namespace studio {

/// Companion files of a model: materials, textures, glTF buffers. They keep their own name, which
/// the model refers to, once checked to be a plain file name.
extern const std::set<std::string> kCompanionExtensions;

struct Context {
  StudioOptions options;
  job::Module module;
  /// Held by a run: the module keeps one run state.
  std::mutex moduleMutex;
  /// The run the module is making: its session and the tab that asked for it (a stop asked in
  /// that session, or that tab closed, breaks the run off).
  struct Running {
    std::mutex mutex;
    const Session* session = nullptr;
    std::string tab;
    void set(const Session* s, std::string t) {
      std::lock_guard<std::mutex> lock(mutex);
      session = s;
      tab = std::move(t);
    }
    /// True when the run is the session's (and, with a tab given, that tab's).
    bool is(const Session* s, const std::string& t = "") {
      std::lock_guard<std::mutex> lock(mutex);
      return s && session == s && (t.empty() || t == tab);
    }
  } running;
  /// The module's dialog as the form shows it (see dialogJson).
  nlohmann::json dialog;
  /// The extensions of the mesh files the studio opens.
  std::vector<std::string> importable;
  Sessions sessions;
  /// The page's own files, read once: path -> body.
  std::map<std::string, std::shared_ptr<const Body>> webFiles;
};

/// Reads the model file at `modelPath` (its companions beside it) into a new document, which
/// replaces the session's model and its history; `name` is the file's name as the person knows
/// it. False with *error set (the session unchanged) when it cannot be read or holds nothing to
/// unfold.
bool adoptModel(Session& session, const std::filesystem::path& modelPath, const std::string& name, std::string* error);
/// POST /api/model: saves an upload into a fresh folder of the session and reads it into a new
/// document, which replaces the session's model and its history.
void upload(Context& context, const httplib::Request& req, httplib::Response& res);
/// POST /api/run: the form's run of the module on the model as opened, and its pattern.
void run(Context& context, const httplib::Request& req, httplib::Response& res);
/// The header in which a page names its tab (a name of its own making, per page load).
inline constexpr const char* kTabHeader = "X-Foldra-Tab";
/// POST /api/stop: breaks off the session's run, which then answers that it stopped.
void stopRun(Context& context, const httplib::Request& req, httplib::Response& res);
/// The form of a run body read into the studio's run of the module: the pattern always drawn,
/// the page limit on, the dialog's lengths following the paper. False with *error set.
bool unfoldingOf(const nlohmann::json& body, const Context& context, const Session& s, job::Unfolding* unfolding, std::string* error);
/// GET /api/download/project.foldra: the model as opened with the edges marked, the settings
/// and the form of the run the session shows, as a project file.
void downloadProject(Context& context, const httplib::Request& req, httplib::Response& res);
/// Keeps a run that changed the session's document as the run the session shows: its record,
/// with the body it was asked with, the marks it entered and the person's edits among them.
void keepRun(Session& s, job::RunResult&& result, const job::Unfolding& unfolding, nlohmann::json body, const EdgeMarks& used,
             const EdgeMarks& edits, double medianModelEdge, std::chrono::steady_clock::time_point start);
/// A run made on a copy of the session's model: the copy with the run's pieces, the run, how it
/// was asked, and when it began.
struct CopyRun {
  std::unique_ptr<scene::Document> copy;
  job::RunResult result;
  job::Unfolding unfolding;
  double medianModelEdge = 0;
  std::chrono::steady_clock::time_point start;
};
/// Runs the module with a run body on a copy of the session's model as opened, with `used`
/// entered as marks; the session's document and runs stay as they are. False with the answer
/// set when the run did not end in pieces.
bool runOnCopy(Context& context, const httplib::Request& req, Session& s, const nlohmann::json& body, const EdgeMarks& used,
               CopyRun* run, httplib::Response& res);
/// Makes the copy a run was made on the session's document and keeps the run (keepRun); then,
/// for a new edit, adds it to the history (what could have been redone goes), or for a `step`
/// of undo or redo, stands at that place of it; saves the session and answers its state.
void keepCopy(Session& s, CopyRun&& run, nlohmann::json body, const EdgeMarks& used, const EdgeMarks& edits,
              httplib::Response& res, std::optional<std::size_t> step = std::nullopt);
/// The request's body as JSON; false, refused as not valid JSON `what`, where it is not.
bool readBody(const httplib::Request& req, httplib::Response& res, const std::string& what, nlohmann::json* body);
/// GET /api/edge?piece=P&triangle=T&side=K: an edge of the run's pieces, its partner, its name
/// on the sheets, its tab and marks.
void edgeInfo(Context& context, const httplib::Request& req, httplib::Response& res);
/// GET /api/sheet-edge?sheet=N&x=X&y=Y: the side of a piece's triangle nearest to a point of
/// sheet N (millimetres from its top-left corner), within 3 mm.
void sheetEdge(Context& context, const httplib::Request& req, httplib::Response& res);
/// POST /api/place {"piece", "sheet", "dx", "dy", "turn"}: piece (its place in the run) turned
/// by `turn` degrees about the middle of its box, moved by dx, dy millimetres (down the page
/// for dy) onto sheet `sheet` (from 1; one past the last is a new sheet). Refused with the
/// reason where it would overlap a piece or the legend, or leave the printable area.
void place(Context& context, const httplib::Request& req, httplib::Response& res);
/// POST /api/edit {"piece", "triangle", "side", "action"}: cut, join, tab (on this copy), no-tab
/// or free (the tab where it fits best) at an edge of the run's pieces.
void edit(Context& context, const httplib::Request& req, httplib::Response& res);
/// POST /api/undo and /api/redo.
void undoRedo(Context& context, const httplib::Request& req, httplib::Response& res, bool undo);
/// GET /api/download/NAME: the current result as a file.
void download(Context& context, const httplib::Request& req, httplib::Response& res);
/// GET /api/sheet/N.png (a preview) and /api/sheet/N.svg: a sheet of the current run's pattern.
void sheet(Context& context, const httplib::Request& req, httplib::Response& res);
/// GET /api/thumbnail/N.png: sheet N of the current run's pattern as a small image, for the
/// list of sheets (kThumbnailDpi).
void thumbnail(Context& context, const httplib::Request& req, httplib::Response& res);
/// GET /api/texture/N: the image of material N of the open model.
void texture(Context& context, const httplib::Request& req, httplib::Response& res);

}  // namespace studio
