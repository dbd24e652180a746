// The studio's sessions: one per browser (a cookie), each with its own document, undo history,
// files and progress; the reaper that ends sessions left unused; and the one way a request
// takes hold of its session: find it, try its lock, or answer that it is busy.
#pragma once

#include <httplib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "job/module.h"
#include "job/pattern_files.h"
#include "job/progress.h"
#include "scene/document.h"
#include "studio/edits.h"
#include "studio/http.h"

namespace studio {

/// The resolution of the sheets in the page's list: a sheet there is 170 pixels wide, and this
/// is sharp on a screen of two pixels to one. Their texts would be a few pixels high there: the
/// list's images leave them out, the viewer's show them.
constexpr double kThumbnailDpi = 45;

/// A run's pattern being packed and drawn while the run answers: the list's small images
/// first, then the sheets as the viewer shows them, then the PDF.
/// Ending it (the run replaced, its session ended) draws nothing more and waits for the format
/// at hand.
struct PatternDrawing {
  std::shared_ptr<job::PatternFiles> files;
  std::thread thread;
  explicit PatternDrawing(std::shared_ptr<job::PatternFiles> pattern);
  ~PatternDrawing();
};

/// What one run left: its counts, its pieces and its pattern.
struct RunRecord {
  job::Summary summary;
  double seconds = 0;
  /// The steps the module's dialog was given, as text.
  std::string script;
  /// The pieces in the order the module made them, which is the pattern's order.
  std::vector<const scene::Object*> pieceObjects;
  /// The run's folder in the session's folder: the pattern's files.
  std::string folder;
  /// Null when the run has no pattern (`warnings` says why).
  std::shared_ptr<job::PatternFiles> pattern;
  std::shared_ptr<PatternDrawing> drawing;
  /// Millimetres on paper per model unit.
  double scale = 1;
  std::vector<std::string> warnings;
  /// The form the run was asked with (the page's request) with the marks it entered
  /// ("marks") and the person's edits among them ("edits"), kept with the session: run again,
  /// it gives the same pieces.
  nlohmann::json form;
  /// The edges the person marked, and all the marks the run entered (their edits over the
  /// pieces of the run they edited).
  EdgeMarks edits, used;
  /// What became of every edge.
  job::RunEdges edges;
  /// What a builder needs to know of the pieces (see runChecks).
  nlohmann::json checks;
};
/// One person's work: the model they opened, the document with its undo history, and what each
/// run left.
struct Session {
  std::string id;
  std::filesystem::path folder;
  /// Kept on disk when it ends (see kept.h): only its runs' files are deleted then.
  bool kept = false;
  /// A kept session brought back: the form of the run it showed, which the page runs again.
  nlohmann::json resume;
  /// Guards everything below but the progress: runs, uploads, undo and redo change the session
  /// (exclusive); views and downloads read it (shared, so that a page loads its sheets at once).
  std::shared_timed_mutex mutex;
  std::unique_ptr<scene::Document> document;
  /// The model as opened, as the 3D view draws it.
  std::shared_ptr<const Body> modelScene;
  /// Its edges as marks name them, and the edges marked in the file (a project's).
  ModelEdges modelEdges;
  EdgeMarks openedEdits;
  std::string modelName;
  std::string modelFolder;
  std::array<double, 3> extent{0, 0, 0};
  int modelObjects = 0, modelFaces = 0;
  int uploads = 0;
  std::atomic<int> outputs{0};
  /// runs[i] is the run that undo level i + 1 holds.
  std::vector<RunRecord> runs;
  /// The run bodies of the edits since the last run from the form (that run first), and the
  /// one the session shows: undo and redo step through them.
  std::vector<nlohmann::json> history;
  std::size_t historyAt = 0;
  std::atomic<std::int64_t> lastSeen{0};
  /// Counts the changes of what the session shows (a model opened, a run, undo, redo): a page
  /// that sends the count it shows is refused when another tab changed the session since.
  std::atomic<std::int64_t> revision{0};
  /// When the page said it was closed (0: it was not, or it came back since).
  std::atomic<std::int64_t> leftAt{0};

  ~Session();
  void setProgress(const job::Progress& progress);
  job::Progress progress() const;
  /// Sets the model's extent (under the exclusive lock). A copy is kept apart from the lock, so
  /// that the paper's arithmetic can be answered while a run holds the session.
  void setExtent(const std::array<double, 3>& modelExtent);
  /// The model's extent without taking the session's lock; zero before a model is open.
  std::array<double, 3> extentNow() const;
  /// Keeps the first `count` runs; the others' files are deleted.
  void keepRuns(std::size_t count);
  /// The run the document's undo level holds, or null.
  const RunRecord* current() const;
  /// The session as the page sees it: the model, undo and redo, the current run with where
  /// each piece went on the pattern.
  nlohmann::json state() const;
  /// The current document as the 3D view draws it, made once for each state of the document.
  std::shared_ptr<const Body> scene();
  /// Forgets the 3D view made for an earlier state of the document.
  void changed();

 private:
  mutable std::mutex progressMutex_;
  job::Progress progress_;
  std::array<double, 3> extentNow_{0, 0, 0};
  std::mutex sceneMutex_;
  std::shared_ptr<const Body> scene_;
};

/// A session held for one request: found, and locked (a change without waiting, a read after
/// waiting at most kReadWait for a change to end).
template <class Lock>
struct Held {
  std::shared_ptr<Session> session;
  Lock lock;
  explicit operator bool() const { return session && lock.owns_lock(); }
  Session* operator->() const { return session.get(); }
  Session& operator*() const { return *session; }
};
using Reading = Held<std::shared_lock<std::shared_timed_mutex>>;
using Changing = Held<std::unique_lock<std::shared_timed_mutex>>;

/// How long a read waits for a change of its session to end before it is answered "busy": an
/// edit or a move takes well under that, so that what the page asks for meanwhile (a texture,
/// the edge under a click) is answered when it is done; a run of the module takes longer.
inline constexpr std::chrono::milliseconds kReadWait{3000};

/// Where and how long sessions are kept on disk. An empty folder keeps nothing: a session's
/// files go when it ends.
struct Keeping {
  std::filesystem::path folder;
  /// A kept session not seen for this long is deleted.
  std::chrono::hours age{24 * 14};
  /// The kept sessions' files together stay under this; the least recently seen go first.
  std::uintmax_t bytes = 2ull << 30;
  bool on() const { return !folder.empty(); }
};

/// The header in which a page sends the session's revision it shows.
inline constexpr const char* kRevisionHeader = "X-Foldra-Revision";

/// True, with a 409 answer that says so and carries the session's state, when the request comes
/// from a page showing an earlier revision of the session than it holds: another tab of the same
/// browser changed it meanwhile, and the page must show that before it acts on it. Requests
/// without the header are not checked.
bool staleRequest(const httplib::Request& req, const Session& session, httplib::Response& res);

inline constexpr const char* kBusy = "busy: this session is running the module";

class Sessions {
 public:
  ~Sessions();
  /// Keeps sessions' folders in `work`, or in keeping.folder where sessions are kept on disk;
  /// ends sessions unused for `timeout` (a kept one stays on disk, and comes back when its
  /// browser does).
  void start(std::string work, std::size_t most, std::chrono::seconds timeout, std::chrono::seconds grace,
             Keeping keeping = {});
  std::size_t count() const;

  /// The request's session, or a new one (with its cookie set on the answer); null with the
  /// answer set when no session can be opened.
  std::shared_ptr<Session> open(const httplib::Request& req, httplib::Response& res);
  /// The request's session; null with a 401 answer when it has none (or it has ended).
  std::shared_ptr<Session> require(const httplib::Request& req, httplib::Response& res);
  /// The request's session, or null.
  std::shared_ptr<Session> find(const httplib::Request& req);
  /// The page of the request's session was closed: the session ends after `grace` unless the
  /// page comes back (a reload) before that.
  void leave(const httplib::Request& req);

  /// The request's session (opened when `open`) with its lock shared, or empty with the answer
  /// set: 401 without a session, 409 while a run or upload changes it.
  Reading read(const httplib::Request& req, httplib::Response& res, bool open = false);
  /// The session with its lock shared, or empty with a 409 answer.
  static Reading read(std::shared_ptr<Session> session, httplib::Response& res);
  /// The request's session with its lock alone, or empty with the answer set.
  Changing change(const httplib::Request& req, httplib::Response& res, const std::string& busy = kBusy);
  /// The session with its lock alone, or empty with a 409 answer saying `busy`.
  static Changing change(std::shared_ptr<Session> session, httplib::Response& res, const std::string& busy = kBusy);

 private:
  void reap();
  /// The kept session of this id brought back into memory, or null.
  std::shared_ptr<Session> restore(const std::string& id);

  std::string work_;
  Keeping keeping_;
  std::mutex restoreMutex_;
  std::size_t most_ = 0;
  std::chrono::seconds timeout_{0};
  std::chrono::seconds grace_{0};
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
  std::thread reaper_;
  std::mutex reaperMutex_;
  std::condition_variable reaperWake_;
  bool stopping_ = false;
};

}  // namespace studio
