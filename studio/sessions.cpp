#include "studio/sessions.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <random>
#include <type_traits>

#include "studio/http.h"
#include "studio/kept.h"
#include "studio/scene_view.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kCookie = "foldra_studio";

std::string randomId() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> byte(0, 255);
  static const char* hex = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 16; ++i) {
    const unsigned b = byte(device);
    id += hex[b >> 4];
    id += hex[b & 15];
  }
  return id;
}

std::int64_t now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string cookieId(const httplib::Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(kCookie) + "=";
  std::size_t at = 0;
  while ((at = cookies.find(key, at)) != std::string::npos) {
    if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
      const std::size_t start = at + key.size();
      const std::size_t end = cookies.find(';', start);
      return cookies.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    at += key.size();
  }
  return "";
}

template <class Lock>
Held<Lock> hold(std::shared_ptr<Session> session, httplib::Response& res, const std::string& busy) {
  Held<Lock> held;
  if (!session) return held;
  Lock lock = [&] {
    if constexpr (std::is_same_v<Lock, std::shared_lock<std::shared_timed_mutex>>) return Lock(session->mutex, kReadWait);
    else return Lock(session->mutex, std::try_to_lock);
  }();
  if (!lock.owns_lock()) {
    refuse(res, 409, busy);
    return held;
  }
  held.session = std::move(session);
  held.lock = std::move(lock);
  return held;
}

}  // namespace

// --- one session -----------------------------------------------------------------------------

PatternDrawing::PatternDrawing(std::shared_ptr<job::PatternFiles> pattern) : files(std::move(pattern)) {
  thread = std::thread([files = files] {
    std::vector<std::string> drawn;
    std::string error;
    // The packing and the list's small images, which the page waits for, at the answers'
    // priority: drawn without texts, they place no label and come soon. Then, below it (a
    // page's requests are served first), the sheets as the viewer shows them and the PDF, from
    // one drawing with the labels. A format that fails says so when it is asked for; what is
    // asked for later draws again.
    if (files->pngAt(kThumbnailDpi, false, &drawn, &error)) {
      files->release();
      setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
      if (files->files(".png", &drawn, &error)) files->files(".pdf", &drawn, &error);
    }
    files->release();
  });
}

PatternDrawing::~PatternDrawing() {
  files->abandon();
  if (thread.joinable()) thread.join();
}

std::shared_ptr<const Body> Session::scene() {
  std::lock_guard<std::mutex> lock(sceneMutex_);
  if (!scene_) {
    const RunRecord* run = current();
    std::map<const scene::Object*, int> pieces;
    if (run) {
      for (std::size_t i = 0; i < run->pieceObjects.size(); ++i) pieces[run->pieceObjects[i]] = static_cast<int>(i);
    }
    scene_ = std::make_shared<Body>(text(sceneView(*document, pieces)), "application/json");
  }
  return scene_;
}

void Session::changed() {
  ++revision;
  std::lock_guard<std::mutex> lock(sceneMutex_);
  scene_.reset();
}

bool staleRequest(const httplib::Request& req, const Session& session, httplib::Response& res) {
  if (!req.has_header(kRevisionHeader)) return false;
  const std::string shown = req.get_header_value(kRevisionHeader);
  if (shown == std::to_string(session.revision.load())) return false;
  res.status = 409;
  res.set_content(text(json{{"error",
                             "another tab of this browser changed the studio's model meanwhile: this page now shows "
                             "what it holds; try again"},
                            {"state", session.state()}}),
                  "application/json");
  return true;
}

Session::~Session() {
  // The sheets being drawn stop before their folder goes.
  std::vector<std::string> runFolders;
  for (const RunRecord& r : runs) runFolders.push_back(r.folder);
  runs.clear();
  std::error_code ec;
  if (kept) {
    // A kept session keeps its model and record; its runs' files are drawn again when it is back.
    for (const std::string& f : runFolders) {
      if (!f.empty()) fs::remove_all(f, ec);
    }
    touchSession(*this);
    return;
  }
  fs::remove_all(folder, ec);
}

void Session::setProgress(const job::Progress& progress) {
  std::lock_guard<std::mutex> lock(progressMutex_);
  progress_ = progress;
}

job::Progress Session::progress() const {
  std::lock_guard<std::mutex> lock(progressMutex_);
  return progress_;
}

void Session::setExtent(const std::array<double, 3>& modelExtent) {
  extent = modelExtent;
  std::lock_guard<std::mutex> lock(progressMutex_);
  extentNow_ = modelExtent;
}

std::array<double, 3> Session::extentNow() const {
  std::lock_guard<std::mutex> lock(progressMutex_);
  return extentNow_;
}

void Session::keepRuns(std::size_t count) {
  for (std::size_t i = count; i < runs.size(); ++i) {
    // Given up before its files go: a sheet being drawn for a page meanwhile is answered as
    // replaced, not as a failure.
    if (runs[i].pattern) runs[i].pattern->abandon();
    std::error_code ec;
    if (!runs[i].folder.empty()) fs::remove_all(runs[i].folder, ec);
  }
  if (runs.size() > count) runs.resize(count);
}

const RunRecord* Session::current() const {
  if (!document) return nullptr;
  const std::size_t level = document->undoCount();
  return level > 0 && level <= runs.size() ? &runs[level - 1] : nullptr;
}

namespace {

/// How many edges of the model the person marked: cuts, joins and edges without a tab are
/// marked on both copies, a tab's side on one.
std::size_t editedEdges(const EdgeMarks& marks) {
  std::size_t copies = 0, tabs = 0;
  for (const auto& [object, kinds] : marks.objects) {
    copies += kinds[EdgeMarks::kCut].size() + kinds[EdgeMarks::kFold].size() + kinds[EdgeMarks::kNoTab].size();
    tabs += kinds[EdgeMarks::kTab].size();
  }
  return copies / 2 + tabs;
}

}  // namespace

json Session::state() const {
  json out;
  out["session"] = true;
  out["revision"] = revision.load();
  if (!resume.is_null()) out["resume"] = resume;
  if (!document) {
    out["model"] = nullptr;
  } else {
    out["model"] = {{"name", modelName},
                    {"objects", modelObjects},
                    {"faces", modelFaces},
                    {"extent", {extent[0], extent[1], extent[2]}}};
  }
  // Past the first run, undo and redo also step through the edits.
  const std::size_t level = document ? document->undoCount() : 0;
  const std::size_t later = history.empty() ? 0 : history.size() - 1 - historyAt;
  out["undo"] = level + (level > 0 ? historyAt : 0);
  out["redo"] = (document ? document->redoCount() : 0) + later;
  const RunRecord* run = current();
  if (!run) {
    out["run"] = nullptr;
    return out;
  }
  const job::Summary& s = run->summary;
  json pattern = nullptr;
  if (run->pattern) {
    const job::PatternLayout& layout = run->pattern->layout();
    json pieces = json::array();
    for (const job::PlacedPiece& p : layout.pieces) {
      pieces.push_back({{"number", p.number}, {"sheet", p.sheet}, {"left", p.left}, {"top", p.top},
                        {"width", p.width}, {"height", p.height}, {"triangles", p.triangles},
                        {"oversize", p.oversize}});
    }
    pattern = {{"sheets", layout.sheets}, {"paper", {layout.pageWidth, layout.pageHeight}},
               {"margin", layout.margin}, {"pieces", std::move(pieces)}, {"fit", layout.fit},
               {"notes", layout.warnings}};
  }
  out["run"] = {{"objects", s.objects}, {"triangles", s.triangles}, {"pieces", s.pieces},
                {"tabs", s.tabs},       {"seconds", run->seconds},  {"warnings", run->warnings},
                {"untabbed", s.untabbed ? json(*s.untabbed) : json(nullptr)}, {"untabbedByChoice", s.untabbedByChoice},
                {"edits", editedEdges(run->edits)}, {"checks", run->checks},
                {"script", run->script},
                {"scale", run->scale},  {"size", {extent[0] * run->scale, extent[1] * run->scale, extent[2] * run->scale}},
                {"pattern", std::move(pattern)}};
  return out;
}

// --- every session ---------------------------------------------------------------------------

Sessions::~Sessions() {
  {
    std::lock_guard<std::mutex> lock(reaperMutex_);
    stopping_ = true;
  }
  reaperWake_.notify_all();
  if (reaper_.joinable()) reaper_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

void Sessions::start(std::string work, std::size_t most, std::chrono::seconds timeout, std::chrono::seconds grace,
                     Keeping keeping) {
  work_ = std::move(work);
  keeping_ = std::move(keeping);
  most_ = most;
  timeout_ = timeout;
  grace_ = grace;
  reaper_ = std::thread([this] { reap(); });
}

std::size_t Sessions::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

std::shared_ptr<Session> Sessions::find(const httplib::Request& req) {
  const std::string id = cookieId(req);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(id);
    if (it != sessions_.end()) {
      it->second->lastSeen = now();
      it->second->leftAt = 0;
      return it->second;
    }
  }
  return restore(id);
}

std::shared_ptr<Session> Sessions::restore(const std::string& id) {
  if (!keeping_.on() || !sessionIdLike(id)) return nullptr;
  // The page asks for several things at once when it loads: one of them brings the session back.
  std::lock_guard<std::mutex> restoring(restoreMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(id);
    if (it != sessions_.end()) return it->second;
    if (sessions_.size() >= most_) return nullptr;
  }
  std::error_code ec;
  const fs::path folder = keeping_.folder / id;
  if (!fs::is_directory(folder, ec)) return nullptr;
  auto s = std::make_shared<Session>();
  s->id = id;
  s->folder = folder;
  s->kept = true;
  std::string error;
  if (!restoreSession(*s, &error)) {
    // What cannot be brought back starts afresh under the same name.
    s = std::make_shared<Session>();
    s->id = id;
    s->folder = folder;
    s->kept = true;
  }
  s->lastSeen = now();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[id] = s;
  return s;
}

void Sessions::leave(const httplib::Request& req) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(cookieId(req));
    if (it == sessions_.end()) return;
    it->second->leftAt = now();
  }
  reaperWake_.notify_all();
}

std::shared_ptr<Session> Sessions::open(const httplib::Request& req, httplib::Response& res) {
  if (auto s = find(req)) return s;
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.size() >= most_) {
    refuse(res, 503, "the studio has as many sessions open as it allows (" + std::to_string(most_) +
                         "); try again when one has ended");
    return nullptr;
  }
  auto s = std::make_shared<Session>();
  s->id = randomId();
  s->kept = keeping_.on();
  s->folder = (s->kept ? keeping_.folder : fs::path(work_)) / s->id;
  std::error_code ec;
  fs::create_directory(s->folder, ec);
  if (ec || ::chmod(s->folder.c_str(), 0700) != 0) {
    refuse(res, 500, "cannot make the session's folder");
    return nullptr;
  }
  s->lastSeen = now();
  sessions_[s->id] = s;
  // A kept session's cookie lasts as long as its files do, also across a restart of the browser.
  const std::string lasts =
      s->kept ? "; Max-Age=" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(keeping_.age).count()) : "";
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + s->id + "; Path=/; HttpOnly; SameSite=Strict" + lasts);
  return s;
}

std::shared_ptr<Session> Sessions::require(const httplib::Request& req, httplib::Response& res) {
  auto s = find(req);
  if (!s) refuse(res, 401, "no studio session (it may have ended after a long pause): reload the page");
  return s;
}

Reading Sessions::read(const httplib::Request& req, httplib::Response& res, bool open) {
  return read(open ? this->open(req, res) : require(req, res), res);
}

Reading Sessions::read(std::shared_ptr<Session> session, httplib::Response& res) {
  return hold<std::shared_lock<std::shared_timed_mutex>>(std::move(session), res, kBusy);
}

Changing Sessions::change(const httplib::Request& req, httplib::Response& res, const std::string& busy) {
  return change(require(req, res), res, busy);
}

Changing Sessions::change(std::shared_ptr<Session> session, httplib::Response& res, const std::string& busy) {
  return hold<std::unique_lock<std::shared_timed_mutex>>(std::move(session), res, busy);
}

void Sessions::reap() {
  std::unique_lock<std::mutex> lock(reaperMutex_);
  const auto interval = std::clamp(std::min(timeout_ / 4, grace_ / 2), std::chrono::seconds(1), std::chrono::seconds(30));
  // Kept sessions are cleaned when the studio starts and every hour after.
  std::int64_t cleaned = std::numeric_limits<std::int64_t>::min() / 2;
  while (!stopping_) {
    if (keeping_.on() && now() - cleaned >= 3600) {
      std::set<std::string> open;
      {
        std::lock_guard<std::mutex> sessionsLock(mutex_);
        for (const auto& [id, session] : sessions_) open.insert(id);
      }
      cleanKept(keeping_, open);
      cleaned = now();
    }
    reaperWake_.wait_for(lock, interval);
    if (stopping_) break;
    std::vector<std::shared_ptr<Session>> ended;
    {
      std::lock_guard<std::mutex> sessionsLock(mutex_);
      for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = *it->second;
        const std::int64_t left = s.leftAt;
        const bool idle = now() - s.lastSeen > timeout_.count() || (left != 0 && now() - left >= grace_.count());
        // A session at work (a run or an upload) is not ended under its feet.
        std::unique_lock<std::shared_timed_mutex> busy(s.mutex, std::try_to_lock);
        if (idle && busy.owns_lock()) {
          busy.unlock();
          ended.push_back(it->second);
          it = sessions_.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (!ended.empty()) {
      ended.clear();  // the last reference: the session's folder is deleted here
      malloc_trim(0);
    }
  }
}

}  // namespace studio
