#include "studio/sessions.h"

#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "studio/http.h"

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
  Lock lock(session->mutex, std::try_to_lock);
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

Session::~Session() {
  std::error_code ec;
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

void Session::keepRuns(std::size_t count) {
  for (std::size_t i = count; i < runs.size(); ++i) {
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

json Session::state() const {
  json out;
  out["session"] = true;
  if (!document) {
    out["model"] = nullptr;
  } else {
    out["model"] = {{"name", modelName},
                    {"objects", modelObjects},
                    {"polygons", modelPolygons},
                    {"extent", {extent[0], extent[1], extent[2]}}};
  }
  out["undo"] = document ? document->undoCount() : 0;
  out["redo"] = document ? document->redoCount() : 0;
  const RunRecord* run = current();
  if (!run) {
    out["run"] = nullptr;
  } else {
    const job::Summary& s = run->summary;
    out["run"] = {{"objects", s.objects},          {"triangles", s.triangles}, {"pieces", s.pieces},
                  {"tabs", s.tabs},                {"seconds", run->seconds},  {"script", run->script},
                  {"sheets", run->sheets.size()},  {"warnings", run->warnings},
                  {"paper", {run->paperWidth, run->paperHeight}}};
  }
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

void Sessions::start(std::string work, std::size_t most, std::chrono::seconds timeout) {
  work_ = std::move(work);
  most_ = most;
  timeout_ = timeout;
  reaper_ = std::thread([this] { reap(); });
}

std::size_t Sessions::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

std::shared_ptr<Session> Sessions::find(const httplib::Request& req) {
  const std::string id = cookieId(req);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  it->second->lastSeen = now();
  return it->second;
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
  s->folder = fs::path(work_) / s->id;
  std::error_code ec;
  fs::create_directory(s->folder, ec);
  if (ec || ::chmod(s->folder.c_str(), 0700) != 0) {
    refuse(res, 500, "cannot make the session's folder");
    return nullptr;
  }
  s->lastSeen = now();
  sessions_[s->id] = s;
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + s->id + "; Path=/; HttpOnly; SameSite=Strict");
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
  return hold<std::shared_lock<std::shared_mutex>>(std::move(session), res, kBusy);
}

Changing Sessions::change(const httplib::Request& req, httplib::Response& res, const std::string& busy) {
  return change(require(req, res), res, busy);
}

Changing Sessions::change(std::shared_ptr<Session> session, httplib::Response& res, const std::string& busy) {
  return hold<std::unique_lock<std::shared_mutex>>(std::move(session), res, busy);
}

void Sessions::reap() {
  std::unique_lock<std::mutex> lock(reaperMutex_);
  const auto interval = std::clamp(timeout_ / 4, std::chrono::seconds(1), std::chrono::seconds(30));
  while (!stopping_) {
    reaperWake_.wait_for(lock, interval);
    if (stopping_) break;
    std::vector<std::shared_ptr<Session>> ended;
    {
      std::lock_guard<std::mutex> sessionsLock(mutex_);
      for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = *it->second;
        const bool idle = now() - s.lastSeen > timeout_.count();
        // A session at work (a run or an upload) is not ended under its feet.
        std::unique_lock<std::shared_mutex> busy(s.mutex, std::try_to_lock);
        if (idle && busy.owns_lock()) {
          busy.unlock();
          ended.push_back(it->second);
          it = sessions_.erase(it);
        } else {
          ++it;
        }
      }
    }
    ended.clear();  // the last reference: the session's folder is deleted here
  }
}

}  // namespace studio
