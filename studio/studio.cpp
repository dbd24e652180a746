#include "studio/studio.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <shared_mutex>
#include <sstream>
#include <thread>

#include "app/run.h"
#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "runtime/host.h"
#include "shell/plugin.h"
#include "studio/scene_view.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

bool isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

namespace {

constexpr const char* kCookie = "foldra_studio";

/// Companion files of a model: materials, textures, glTF buffers. They keep their own name, which
/// the model refers to, once checked to be a plain file name.
const std::set<std::string> kCompanionExtensions = {".mtl", ".png", ".jpg", ".jpeg", ".bmp", ".tga",
                                                    ".tif", ".tiff", ".gif", ".bin"};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string extensionOf(const std::string& name) {
  const auto dot = name.find_last_of('.');
  const auto slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == name.size()) return "";
  return lower(name.substr(dot));
}

/// A name as it may appear in a message: printable characters only, not too long.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) out += static_cast<char>(c);
    if (out.size() >= 120) {
      out += "...";
      break;
    }
  }
  return out.empty() ? "(no name)" : out;
}

/// A plain file name: letters, digits, '.', '-', '_' and spaces, not starting with a dot.
bool plainName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name[0] == '.' || name[0] == ' ') return false;
  for (unsigned char c : name) {
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ' ')) return false;
  }
  return name.find("..") == std::string::npos;
}

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

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string contentType(const std::string& extension) {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
      {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"}, {".woff2", "font/woff2"},
      {".pdf", "application/pdf"}, {".glb", "model/gltf-binary"}, {".obj", "text/plain; charset=utf-8"},
      {".mtl", "text/plain; charset=utf-8"}};
  auto it = types.find(extension);
  return it == types.end() ? "application/octet-stream" : it->second;
}

/// A finite number, from JSON that may hold it as a number or as text.
bool number(const json& value, double* out) {
  if (value.is_number()) {
    *out = value.get<double>();
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    try {
      std::size_t used = 0;
      *out = std::stod(text, &used);
      if (used != text.size()) return false;
    } catch (const std::exception&) {
      return false;
    }
  } else {
    return false;
  }
  return std::isfinite(*out);
}

/// One person's work: the model they opened, the document with its undo history, and what each
/// run left (counts, the pattern's files).
struct RunRecord {
  int objects = 0, triangles = 0, pieces = 0, tabs = 0;
  double seconds = 0;
  std::string script;
  std::set<const scene::Object*> pieceObjects;
  /// The run's folder in the session's folder: the pattern's files.
  std::string folder;
  std::string pdf;
  std::vector<std::string> sheets;
  /// The paper the sheets are drawn on, millimetres.
  double paperWidth = 0, paperHeight = 0;
  std::vector<std::string> warnings;
};

struct Progress {
  bool running = false;
  int percent = 0;
  std::string stage;
  /// Status-bar reports received during the current (or last) run.
  int reports = 0;
};

struct Session {
  std::string id;
  fs::path folder;
  /// Guards everything below but the progress: runs, uploads, undo and redo change the session
  /// (exclusive); views and downloads read it (shared, so that a page loads its sheets at once).
  std::shared_mutex mutex;
  std::unique_ptr<scene::Document> document;
  std::string modelName;
  std::string modelFolder;
  std::array<double, 3> extent{0, 0, 0};
  int modelObjects = 0, modelPolygons = 0;
  int uploads = 0;
  std::atomic<int> outputs{0};
  /// runs[i] is the run that undo level i + 1 holds.
  std::vector<RunRecord> runs;
  std::atomic<std::int64_t> lastSeen{0};

  std::mutex progressMutex;
  Progress progress;

  ~Session() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  void setProgress(bool running, int percent, const std::string& stage, bool report = false) {
    std::lock_guard<std::mutex> lock(progressMutex);
    const int reports = progress.reports;
    progress = {running, percent, stage, reports + (report ? 1 : 0)};
  }
  void startProgress() {
    std::lock_guard<std::mutex> lock(progressMutex);
    progress = {true, 0, "Starting", 0};
  }
  /// Keeps the first `count` runs; the others' files are deleted.
  void keepRuns(std::size_t count) {
    for (std::size_t i = count; i < runs.size(); ++i) {
      std::error_code ec;
      if (!runs[i].folder.empty()) fs::remove_all(runs[i].folder, ec);
    }
    if (runs.size() > count) runs.resize(count);
  }
  const RunRecord* current() const {
    if (!document) return nullptr;
    const std::size_t level = document->undoCount();
    return level > 0 && level <= runs.size() ? &runs[level - 1] : nullptr;
  }
};

std::int64_t now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// JSON text of an answer; names from a person's files that are not valid UTF-8 get replacement
/// characters instead of failing the answer.
std::string text(const json& body) { return body.dump(-1, ' ', false, json::error_handler_t::replace); }

/// An answer with a message: {"error": "..."} and the status.
void refuse(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(text(json{{"error", message}}), "application/json");
}

struct Asset {
  std::string body;
  std::string type;
};

}  // namespace

struct Studio::Impl {
  StudioOptions options;
  httplib::Server server;
  int port = 0;
  std::string work;  // private folder for the sessions
  std::map<std::string, Asset> assets;
  std::vector<std::string> importable;

  // The module, loaded once; one run at a time (the module and the pattern's unfolding each keep
  // one run state).
  runtime::Host host;
  std::mutex moduleMutex;
  std::string moduleFolder;
  json dialog;  // the module's dialog as the form shows it

  mutable std::mutex sessionsMutex;
  std::map<std::string, std::shared_ptr<Session>> sessions;
  std::thread reaper;
  std::mutex reaperMutex;
  std::condition_variable reaperWake;
  bool stopping = false;

  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(reaperMutex);
      stopping = true;
    }
    reaperWake.notify_all();
    if (reaper.joinable()) reaper.join();
    {
      std::lock_guard<std::mutex> lock(sessionsMutex);
      sessions.clear();
    }
    if (!work.empty()) {
      std::error_code ec;
      fs::remove_all(work, ec);
    }
  }

  bool loadAssets(std::string* error) {
    std::error_code ec;
    const fs::path root = fs::absolute(options.webFolder, ec);
    if (!fs::is_regular_file(root / "index.html", ec)) {
      *error = options.webFolder + ": the studio's web files are missing (build the studio_web target)";
      return false;
    }
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_regular_file()) continue;
      const std::string relative = fs::relative(it->path(), root).generic_string();
      assets["/" + relative] = Asset{readFile(it->path()), contentType(lower(it->path().extension().string()))};
    }
    assets["/"] = assets["/index.html"];
    return true;
  }

  bool loadModule(std::string* error) {
    if (!host.loadModule(options.modulePath, error)) return false;
    const runtime::Command* command = host.findCommand(foldra::kPluginId);
    if (!command) {
      *error = options.modulePath + ": registered no paper model command";
      return false;
    }
    moduleFolder = fs::absolute(options.modulePath).parent_path().string();
    runtime::Resources resources;
    if (!runtime::loadResources(moduleFolder, &resources, error)) return false;
    auto description = resources.dialogs.find(foldra::kDialogSettings);
    if (description == resources.dialogs.end()) {
      *error = moduleFolder + ": the module's resources describe no settings dialog";
      return false;
    }
    // The dialog's values as it shows them when it opens: a person opens it and closes it again.
    auto probe = std::make_unique<scene::Document>();
    auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
    object->points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    object->polygons = {{0, 1, 2, 2}};
    object->selected = true;
    probe->append(std::move(object));
    host.setActiveDocument(std::move(probe));
    host.setDialogScript({});
    host.runCommand(foldra::kPluginId);
    const auto initial = host.lastDialog().initial;
    host.setActiveDocument(std::make_unique<scene::Document>());

    json gadgets = json::array();
    for (const runtime::GadgetDescription& g : description->second.gadgets) {
      json entry{{"id", g.id}, {"label", g.label}};
      auto value = initial.find(g.id);
      switch (g.kind) {
        case runtime::GadgetDescription::Kind::Check:
          entry["kind"] = "check";
          entry["value"] = value != initial.end() && value->second.checked;
          break;
        case runtime::GadgetDescription::Kind::Choice: {
          entry["kind"] = "choice";
          json entries = json::array();
          for (const auto& [v, label] : g.entries) entries.push_back({{"value", v}, {"label", label}});
          entry["entries"] = std::move(entries);
          entry["value"] = value != initial.end() ? value->second.number : (g.entries.empty() ? 0 : g.entries[0].first);
          break;
        }
        case runtime::GadgetDescription::Kind::Text:
          entry["kind"] = "text";
          entry["value"] = value != initial.end() ? value->second.text : "";
          break;
        case runtime::GadgetDescription::Kind::Integer:
          entry["kind"] = "integer";
          entry["value"] = value != initial.end() ? value->second.number : 0;
          break;
        case runtime::GadgetDescription::Kind::Button:
          entry["kind"] = "button";
          entry["confirm"] = g.id == foldra::kButtonConfirm;
          break;
      }
      gadgets.push_back(std::move(entry));
    }
    dialog = {{"id", description->second.id},
              {"title", description->second.title},
              {"command", command->name},
              {"help", command->help},
              {"gadgets", std::move(gadgets)},
              // The gadgets that hold the page and tab sizes, in model units: the page fills them
              // from the paper as the command line does.
              {"lengths", {{"pageWidth", foldra::kGadgetPageWidth},
                           {"pageHeight", foldra::kGadgetPageHeight},
                           {"tabWidth", foldra::kGadgetTabWidth}}}};
    return true;
  }

  // --- sessions ------------------------------------------------------------------------------

  std::string cookieId(const httplib::Request& req) const {
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

  std::shared_ptr<Session> findSession(const httplib::Request& req) {
    const std::string id = cookieId(req);
    std::lock_guard<std::mutex> lock(sessionsMutex);
    auto it = sessions.find(id);
    if (it == sessions.end()) return nullptr;
    it->second->lastSeen = now();
    return it->second;
  }

  /// The request's session, or a new one (with its cookie set on the answer); null with the
  /// answer set when no session can be opened.
  std::shared_ptr<Session> openSession(const httplib::Request& req, httplib::Response& res) {
    if (auto s = findSession(req)) return s;
    std::lock_guard<std::mutex> lock(sessionsMutex);
    if (sessions.size() >= options.maxSessions) {
      refuse(res, 503, "the studio has as many sessions open as it allows (" + std::to_string(options.maxSessions) +
                           "); try again when one has ended");
      return nullptr;
    }
    auto s = std::make_shared<Session>();
    s->id = randomId();
    s->folder = fs::path(work) / s->id;
    std::error_code ec;
    fs::create_directory(s->folder, ec);
    if (ec || ::chmod(s->folder.c_str(), 0700) != 0) {
      refuse(res, 500, "cannot make the session's folder");
      return nullptr;
    }
    s->lastSeen = now();
    sessions[s->id] = s;
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + s->id + "; Path=/; HttpOnly; SameSite=Strict");
    return s;
  }

  /// The request's session; null with a 401 answer when it has none (or it has ended).
  std::shared_ptr<Session> requireSession(const httplib::Request& req, httplib::Response& res) {
    auto s = findSession(req);
    if (!s) refuse(res, 401, "no studio session (it may have ended after a long pause): reload the page");
    return s;
  }

  void reap() {
    std::unique_lock<std::mutex> lock(reaperMutex);
    const auto interval = std::clamp(options.sessionTimeout / 4, std::chrono::seconds(1), std::chrono::seconds(30));
    while (!stopping) {
      reaperWake.wait_for(lock, interval);
      if (stopping) break;
      std::vector<std::shared_ptr<Session>> ended;
      {
        std::lock_guard<std::mutex> sessionsLock(sessionsMutex);
        for (auto it = sessions.begin(); it != sessions.end();) {
          Session& s = *it->second;
          const bool idle = now() - s.lastSeen > options.sessionTimeout.count();
          // A session at work (a run or an upload) is not ended under its feet.
          std::unique_lock<std::shared_mutex> busy(s.mutex, std::try_to_lock);
          if (idle && busy.owns_lock()) {
            busy.unlock();
            ended.push_back(it->second);
            it = sessions.erase(it);
          } else {
            ++it;
          }
        }
      }
      ended.clear();  // the last reference: the session's folder is deleted here
    }
  }

  // --- answers -------------------------------------------------------------------------------

  json state(const Session& s) const {
    json out;
    out["session"] = true;
    if (!s.document) {
      out["model"] = nullptr;
    } else {
      out["model"] = {{"name", s.modelName},
                      {"objects", s.modelObjects},
                      {"polygons", s.modelPolygons},
                      {"extent", {s.extent[0], s.extent[1], s.extent[2]}}};
    }
    out["undo"] = s.document ? s.document->undoCount() : 0;
    out["redo"] = s.document ? s.document->redoCount() : 0;
    const RunRecord* run = s.current();
    if (!run) {
      out["run"] = nullptr;
    } else {
      out["run"] = {{"objects", run->objects}, {"triangles", run->triangles}, {"pieces", run->pieces},
                    {"tabs", run->tabs},       {"seconds", run->seconds},     {"script", run->script},
                    {"sheets", run->sheets.size()}, {"warnings", run->warnings},
                    {"paper", {run->paperWidth, run->paperHeight}}};
    }
    return out;
  }

  void answer(httplib::Response& res, const json& body) { res.set_content(text(body), "application/json"); }

  /// Saves an upload into a fresh folder of the session and reads it into a new document.
  void upload(const httplib::Request& req, httplib::Response& res) {
    auto s = requireSession(req, res);
    if (!s) return;
    if (!req.is_multipart_form_data()) return refuse(res, 400, "send the model as multipart form data (field \"files\")");
    const httplib::MultipartFormData* model = nullptr;
    std::vector<const httplib::MultipartFormData*> companions;
    for (const auto& [field, file] : req.files) {
      if (field != "files") return refuse(res, 400, "unexpected form field \"" + shown(field) + "\"");
      const std::string extension = extensionOf(file.filename);
      const bool scene = extension == ".json";
      if (scene || std::binary_search(importable.begin(), importable.end(), extension)) {
        if (model) return refuse(res, 400, "one model at a time: " + shown(model->filename) + " and " + shown(file.filename));
        model = &file;
      } else if (kCompanionExtensions.count(extension)) {
        if (!plainName(file.filename)) {
          return refuse(res, 400, shown(file.filename) + ": not a plain file name (letters, digits, '.', '-', '_')");
        }
        companions.push_back(&file);
      } else {
        return refuse(res, 415, shown(file.filename) + ": the studio cannot open files of this type" +
                                    (extension.empty() ? " (no file extension)" : " (" + shown(extension) + ")"));
      }
    }
    if (!model) return refuse(res, 400, "no model among the files: open a .json scene or a mesh file such as .obj, .glb, .stl, .ply");

    std::unique_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
    if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module; open the model when it has finished");
    const fs::path folder = s->folder / ("model-" + std::to_string(++s->uploads));
    std::error_code ec;
    fs::create_directory(folder, ec);
    if (ec) return refuse(res, 500, "cannot make a folder for the model");
    auto discard = [&] { fs::remove_all(folder, ec); };
    const std::string extension = extensionOf(model->filename);
    const fs::path modelPath = folder / ("model" + extension);
    auto save = [&](const fs::path& path, const std::string& content) {
      std::ofstream out(path, std::ios::binary);
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      return static_cast<bool>(out);
    };
    bool saved = save(modelPath, model->content);
    for (const auto* c : companions) {
      if (fs::path(folder / c->filename) == modelPath) return discard(), refuse(res, 400, shown(c->filename) + ": this name is taken");
      saved = saved && save(folder / c->filename, c->content);
    }
    if (!saved) return discard(), refuse(res, 500, "cannot save the upload");

    auto document = std::make_unique<scene::Document>();
    std::string error;
    bool loaded = false;
    if (model->content.empty()) {
      error = modelPath.string() + ": the file is empty";
    } else if (extension == ".json") {
      auto sceneDocument = formats::loadScene(modelPath.string(), &error);
      if (sceneDocument) {
        scene::moveContent(*sceneDocument, *document);
        loaded = true;
      }
    } else {
      loaded = formats::importMesh(modelPath.string(), *document, &error);
    }
    if (!loaded) {
      // The importer names the file by the studio's own path; the person knows it by theirs.
      for (std::size_t at; (at = error.find(modelPath.string())) != std::string::npos;) {
        error.replace(at, modelPath.string().size(), shown(model->filename));
      }
      discard();
      return refuse(res, 422, error);
    }
    // Textures are read from the session's folder only: a model that names an image elsewhere on
    // this machine gets its colour instead.
    const std::string inside = fs::weakly_canonical(folder, ec).string() + "/";
    for (const auto& m : document->materials()) {
      if (m->texture.empty()) continue;
      const fs::path texture = fs::path(m->texture).is_absolute() ? fs::path(m->texture) : folder / m->texture;
      const std::string resolved = fs::weakly_canonical(texture, ec).string();
      if (ec || resolved.rfind(inside, 0) != 0) m->texture.clear();
    }
    document->deselectAll();
    int unfoldable = 0;
    for (const auto& o : document->objects()) {
      o->selected = true;
      const bool polygons = o->type != sdk::kObjectPolygon || !o->polygons.empty();
      if (o->convertible() && polygons) ++unfoldable;
    }
    if (unfoldable == 0) {
      discard();
      return refuse(res, 422, shown(model->filename) + ": nothing to unfold (no polygon object)");
    }
    // The new model replaces the old one and its history.
    if (!s->modelFolder.empty()) fs::remove_all(s->modelFolder, ec);
    s->extent = app::selectionExtent(*document);
    s->modelObjects = static_cast<int>(document->objects().size());
    s->modelPolygons = 0;
    for (const scene::Object* o : document->allObjects()) s->modelPolygons += static_cast<int>(o->polygons.size());
    s->document = std::move(document);
    s->modelName = shown(model->filename);
    s->modelFolder = folder.string();
    s->keepRuns(0);
    answer(res, state(*s));
  }

  /// The dialog script the form's values make: each gadget set in the order the dialog lists
  /// them, then the button the person pressed. Empty with *error set when a value does not fit.
  runtime::DialogScript formScript(const json& body, std::string* text, std::string* error) {
    runtime::DialogScript script;
    if (!body.is_object()) {
      *error = "expected a JSON object with \"gadgets\" and \"press\"";
      return {};
    }
    const json gadgets = body.value("gadgets", json::object());
    if (!gadgets.is_object()) {
      *error = "\"gadgets\" must be an object of gadget ids and values";
      return {};
    }
    std::set<std::string> known;
    for (const json& g : dialog["gadgets"]) {
      const std::string id = std::to_string(g["id"].get<int>());
      known.insert(id);
      if (g["kind"] == "button" || !gadgets.contains(id)) continue;
      const json& v = gadgets[id];
      std::string value;
      const std::string label = g["label"].get<std::string>();
      if (g["kind"] == "check") {
        if (!v.is_boolean()) {
          *error = label + ": expected true or false";
          return {};
        }
        value = v.get<bool>() ? "1" : "0";
      } else if (g["kind"] == "text") {
        // Every text field of the module's dialog is a length in model units, written as a
        // person types a decimal number.
        double length = 0;
        const bool decimal = !v.is_string() || v.get<std::string>().find_first_not_of("0123456789.eE+-") == std::string::npos;
        if (!decimal || !number(v, &length) || !(length > 0) || length > 1e12) {
          *error = label + ": expected a number greater than 0, not " + shown(v.is_string() ? v.get<std::string>() : v.dump());
          return {};
        }
        value = v.is_string() ? v.get<std::string>() : v.dump();
      } else {
        double n = 0;
        if (!number(v, &n) || n != std::floor(n) || std::fabs(n) > 2e9) {
          *error = label + ": expected a whole number";
          return {};
        }
        value = std::to_string(static_cast<std::int64_t>(n));
      }
      script.push_back({runtime::DialogStep::Kind::Set, g["id"].get<int>(), value});
    }
    for (const auto& [id, v] : gadgets.items()) {
      if (!known.count(id)) {
        *error = "the dialog has no gadget " + shown(id);
        return {};
      }
    }
    const json press = body.value("press", json(foldra::kButtonConfirm));
    bool button = false;
    for (const json& g : dialog["gadgets"]) button = button || (g["kind"] == "button" && press.is_number_integer() && g["id"] == press);
    if (!button) {
      *error = "\"press\" must name one of the dialog's buttons";
      return {};
    }
    script.push_back({runtime::DialogStep::Kind::Press, press.get<int>(), ""});
    for (const auto& step : script) {
      if (!text->empty()) *text += ", ";
      *text += step.kind == runtime::DialogStep::Kind::Press ? "press:" + std::to_string(step.gadget)
                                                            : std::to_string(step.gadget) + "=" + step.value;
    }
    return script;
  }

  void run(const httplib::Request& req, httplib::Response& res) {
    auto s = requireSession(req, res);
    if (!s) return;
    json body;
    try {
      body = json::parse(req.body);
    } catch (const json::exception&) {
      return refuse(res, 400, "the run's settings are not valid JSON");
    }
    std::string scriptText, error;
    runtime::DialogScript script = formScript(body, &scriptText, &error);
    if (script.empty()) return refuse(res, 400, error);
    // Paper for the printable pattern, in millimetres; the scale in millimetres per model unit.
    const json paper = body.value("paper", json::object());
    pattern::PatternOptions patternOptions;
    if (!paper.is_object()) return refuse(res, 400, "\"paper\" must be an object");
    for (const auto& [key, target, least] :
         {std::tuple{"width", &patternOptions.pageWidth, 1e-9}, std::tuple{"height", &patternOptions.pageHeight, 1e-9},
          std::tuple{"margin", &patternOptions.margin, 0.0}, std::tuple{"scale", &patternOptions.scale, 1e-12}}) {
      if (!paper.contains(key)) continue;
      double v = 0;
      if (!number(paper[key], &v) || v < least || v > 1e6) return refuse(res, 400, std::string("paper ") + key + ": not a usable number");
      *target = v;
    }
    if (2 * patternOptions.margin >= patternOptions.pageWidth || 2 * patternOptions.margin >= patternOptions.pageHeight) {
      return refuse(res, 400, "paper margin: the margins leave no printable area");
    }

    std::unique_lock<std::shared_mutex> sessionLock(s->mutex, std::try_to_lock);
    if (!sessionLock.owns_lock()) return refuse(res, 409, "busy: this session is already running the module");
    if (!s->document) return refuse(res, 409, "open a model first");
    std::unique_lock<std::mutex> moduleLock(moduleMutex, std::try_to_lock);
    if (!moduleLock.owns_lock()) {
      return refuse(res, 409, "busy: the module is running for another session; try again when it has finished");
    }
    s->startProgress();
    struct Done {
      Session& s;
      ~Done() { s.setProgress(false, 100, "Done"); }
    } done{*s};
    if (options.beforeRun) options.beforeRun();
    const auto start = std::chrono::steady_clock::now();

    // Every run unfolds the opened model: earlier runs are undone first (they stay redoable
    // until this run records its own step).
    scene::Document& document = *s->document;
    std::size_t undone = 0;
    while (document.undoCount() > 0 && document.undo()) ++undone;
    document.deselectAll();
    for (const auto& o : document.objects()) o->selected = true;
    auto before = scene::cloneDocument(document);
    std::set<const scene::Object*> existing;
    for (const auto& o : document.objects()) existing.insert(o.get());
    const std::size_t undoBefore = document.undoCount();

    host.setStatusHandler([&](int percent, const std::string& text) {
      if (percent >= 0) s->setProgress(true, percent, text, true);
    });
    host.setActiveDocument(std::move(s->document));
    host.setDialogScript(script);
    const bool enabled = host.commandState(foldra::kPluginId) == sdk::kCommandEnabled;
    const bool ran = enabled && host.runCommand(foldra::kPluginId);
    s->document = host.takeActiveDocument();
    host.setStatusHandler(nullptr);
    const runtime::DialogReport report = host.lastDialog();
    const bool newRun = s->document->undoCount() != undoBefore;
    // Without a run (the dialog's cancel button, or settings it refused) the document goes back
    // to where it stood.
    if (!newRun) {
      while (undone-- > 0 && s->document->redo()) {
      }
    }
    if (!enabled) return refuse(res, 409, "the module's command is not available for this model");
    if (!report.error.empty()) return refuse(res, 400, "the dialog refused the settings: " + report.error);
    if (!ran || !report.closedByDialog) return refuse(res, 500, "the module's dialog did not complete the run");
    if (!newRun) {
      json out = state(*s);
      out["message"] = "the dialog closed without a run";
      return answer(res, out);
    }
    // The run replaced whatever could have been redone.
    s->keepRuns(s->document->undoCount() - 1);
    RunRecord record;
    record.script = scriptText;
    for (const auto& o : before->objects()) {
      const bool polygons = o->type != sdk::kObjectPolygon || !o->polygons.empty();
      if (o->convertible() && polygons) ++record.objects;
    }
    for (const auto& o : s->document->objects()) {
      if (existing.count(o.get())) continue;
      ++record.pieces;
      record.pieceObjects.insert(o.get());
      for (const auto& p : o->polygons) (scene::isTriangle(p) ? record.triangles : record.tabs) += 1;
    }

    // The printable pattern: the same unfolding with the values the dialog held.
    app::DialogSettings settings;
    if (app::settingsFromGadgets(report.final, &settings)) {
      s->setProgress(true, 0, "Unfolding for the pattern");
      pattern::PatternInput input = app::unfoldForPattern(*before, settings, moduleFolder, s->modelFolder,
                                                          [&](int percent, const std::string& text) {
                                                            if (percent >= 0) s->setProgress(true, percent, text + " (pattern)", true);
                                                          });
      if (static_cast<int>(input.pieces.size()) != record.pieces) {
        record.warnings.push_back("the pattern's unfolding gave " + std::to_string(input.pieces.size()) +
                                  " pieces where the module made " + std::to_string(record.pieces));
      }
      s->setProgress(true, 100, "Drawing the pattern");
      const fs::path folder = s->folder / ("run-" + std::to_string(++s->outputs));
      std::error_code ec;
      fs::create_directory(folder, ec);
      record.folder = folder.string();
      record.paperWidth = patternOptions.pageWidth;
      record.paperHeight = patternOptions.pageHeight;
      // One packing, drawn into the PDF and the SVG sheets.
      const std::vector<std::string> paths{(folder / "pattern.pdf").string(), (folder / "pattern.svg").string()};
      pattern::PatternReport written;
      if (!pattern::writePattern(input, patternOptions, pattern::packPattern(input, patternOptions), paths, &written, &error)) {
        record.warnings.push_back("pattern: " + error.substr(error.find(": ") == std::string::npos ? 0 : error.find(": ") + 2));
      } else {
        for (const std::string& w : written.warnings) {
          if (std::find(record.warnings.begin(), record.warnings.end(), w) == record.warnings.end()) record.warnings.push_back(w);
        }
        record.pdf = paths[0];
        const std::string overview = (folder / "pattern-overview.svg").string();
        for (const std::string& file : written.files) {
          if (file != paths[0] && file != overview) record.sheets.push_back(file);
        }
      }
    }
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s->runs.push_back(std::move(record));
    answer(res, state(*s));
  }

  void undoRedo(const httplib::Request& req, httplib::Response& res, bool undo) {
    auto s = requireSession(req, res);
    if (!s) return;
    std::unique_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
    if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module");
    if (!s->document) return refuse(res, 409, "open a model first");
    const bool done = undo ? s->document->undo() : s->document->redo();
    if (!done) return refuse(res, 409, undo ? "nothing to undo" : "nothing to redo");
    answer(res, state(*s));
  }

  /// Sends a file of the session as a download named `name`.
  void sendFile(httplib::Response& res, const std::string& path, const std::string& name, bool attachment) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) return refuse(res, 404, "no such file");
    res.set_content(readFile(path), contentType(extensionOf(path)).c_str());
    res.set_header("Content-Disposition", std::string(attachment ? "attachment" : "inline") + "; filename=\"" + name + "\"");
  }

  /// The download name's stem: the model's name without extension, plain characters only.
  static std::string stemOf(const Session& s) {
    std::string stem = s.modelName.substr(0, s.modelName.find_last_of('.'));
    for (char& c : stem) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) c = '_';
    }
    return stem.empty() ? "model" : stem;
  }

  void download(const httplib::Request& req, httplib::Response& res) {
    auto s = requireSession(req, res);
    if (!s) return;
    const std::string what = req.matches[1];
    std::shared_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
    if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module");
    const RunRecord* run = s->current();
    if (!run) return refuse(res, 404, "no result yet: run the module first");
    const std::string stem = stemOf(*s);
    if (what == "pattern.pdf") return sendFile(res, run->pdf, stem + "-pattern.pdf", true);
    const fs::path folder = s->folder / ("export-" + std::to_string(++s->outputs));
    std::error_code ec;
    fs::create_directory(folder, ec);
    const std::string extension = extensionOf(what);
    const fs::path file = folder / ("result" + extension);
    std::string error;
    bool ok = false;
    if (extension == ".json") {
      ok = formats::saveScene(*s->document, file.string(), &error);
    } else {
      std::vector<const scene::Object*> objects;
      for (const scene::Object* o : s->document->allObjects()) objects.push_back(o);
      ok = formats::exportMesh(*s->document, objects, (extension == ".mtl" ? folder / "result.obj" : file).string(), &error);
    }
    if (!ok) {
      fs::remove_all(folder, ec);
      return refuse(res, 500, "the result could not be written");
    }
    sendFile(res, file.string(), stem + "-pieces" + extension, true);
    fs::remove_all(folder, ec);
  }

  void routes() {
    server.set_payload_max_length(options.maxUpload);
    server.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return;
      if (res.status == 413) {
        return refuse(res, 413, "the upload is larger than the studio accepts (" +
                                    std::to_string(options.maxUpload / (1024 * 1024)) + " MB; see --max-upload)");
      }
      refuse(res, res.status, res.status == 404 ? "not found" : "the request could not be handled");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      refuse(res, 500, "the request could not be handled");
    });
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("Referrer-Policy", "no-referrer");
      res.set_header("Cache-Control", "no-store");
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self'; img-src 'self' blob: data:; "
                     "connect-src 'self'; object-src 'none'; frame-ancestors 'none'");
      // Pages of other sites must not reach the studio through a name that points at this
      // machine: the Host header names the address the studio listens on.
      if (isLoopback(options.host)) {
        std::string named = req.get_header_value("Host");
        const auto colon = named.rfind(':');
        const auto bracket = named.find(']');
        if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) named = named.substr(0, colon);
        if (!named.empty() && !isLoopback(named)) {
          refuse(res, 403, "the studio answers only requests addressed to this machine");
          return httplib::Server::HandlerResponse::Handled;
        }
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });

    server.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
      auto s = openSession(req, res);
      if (!s) return;
      std::shared_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
      if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module");
      json out = state(*s);
      out["maxUpload"] = options.maxUpload;
      json extensions = json::array({".json"});
      for (const std::string& e : importable) extensions.push_back(e);
      out["extensions"] = std::move(extensions);
      out["companions"] = kCompanionExtensions;
      answer(res, out);
    });
    server.Get("/api/dialog", [this](const httplib::Request&, httplib::Response& res) { answer(res, dialog); });
    server.Get("/api/progress", [this](const httplib::Request& req, httplib::Response& res) {
      auto s = requireSession(req, res);
      if (!s) return;
      std::lock_guard<std::mutex> lock(s->progressMutex);
      answer(res, {{"running", s->progress.running},
                   {"percent", s->progress.percent},
                   {"stage", s->progress.stage},
                   {"reports", s->progress.reports}});
    });
    server.Get("/api/scene", [this](const httplib::Request& req, httplib::Response& res) {
      auto s = requireSession(req, res);
      if (!s) return;
      std::shared_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
      if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module");
      if (!s->document) return refuse(res, 404, "no model open");
      const RunRecord* run = s->current();
      answer(res, sceneView(*s->document, run ? run->pieceObjects : std::set<const scene::Object*>{}));
    });
    server.Post("/api/model", [this](const httplib::Request& req, httplib::Response& res) { upload(req, res); });
    server.Post("/api/run", [this](const httplib::Request& req, httplib::Response& res) { run(req, res); });
    server.Post("/api/undo", [this](const httplib::Request& req, httplib::Response& res) { undoRedo(req, res, true); });
    server.Post("/api/redo", [this](const httplib::Request& req, httplib::Response& res) { undoRedo(req, res, false); });
    server.Get(R"(/api/sheet/([0-9]{1,4})\.svg)", [this](const httplib::Request& req, httplib::Response& res) {
      auto s = requireSession(req, res);
      if (!s) return;
      std::shared_lock<std::shared_mutex> lock(s->mutex, std::try_to_lock);
      if (!lock.owns_lock()) return refuse(res, 409, "busy: this session is running the module");
      const RunRecord* run = s->current();
      const std::size_t n = std::stoul(req.matches[1]);
      if (!run || n < 1 || n > run->sheets.size()) return refuse(res, 404, "no such sheet");
      sendFile(res, run->sheets[n - 1], stemOf(*s) + "-pattern-" + std::to_string(n) + ".svg",
               req.has_param("download"));
    });
    server.Get(R"(/api/download/(pattern\.pdf|result\.obj|result\.mtl|result\.glb|result\.json))",
               [this](const httplib::Request& req, httplib::Response& res) { download(req, res); });
    // The studio's own files, and nothing else.
    server.Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
      auto it = assets.find(req.path);
      if (it == assets.end()) return refuse(res, 404, "not found");
      res.headers.erase("Cache-Control");
      res.set_header("Cache-Control", "no-cache");
      res.set_content(it->second.body, it->second.type.c_str());
    });
  }
};

Studio::Studio(StudioOptions options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }

Studio::~Studio() { stop(); }

bool Studio::start(std::string* error) {
  Impl& m = *impl_;
  if (!m.loadAssets(error) || !m.loadModule(error)) return false;
  m.importable = formats::importExtensions();
  std::string folder = (fs::temp_directory_path() / "foldra-studio-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    *error = "cannot make a private folder for uploads in " + fs::temp_directory_path().string();
    return false;
  }
  ::chmod(folder.c_str(), 0700);
  m.work = folder;
  m.routes();
  if (m.options.port == 0) {
    m.port = m.server.bind_to_any_port(m.options.host.c_str());
  } else {
    m.port = m.server.bind_to_port(m.options.host.c_str(), m.options.port) ? m.options.port : -1;
  }
  if (m.port <= 0) {
    *error = "cannot listen on " + m.options.host + ":" + std::to_string(m.options.port) +
             " (is the port in use, or the address not one of this machine?)";
    return false;
  }
  m.reaper = std::thread([&m] { m.reap(); });
  return true;
}

int Studio::port() const { return impl_->port; }

bool Studio::serve() { return impl_->server.listen_after_bind(); }

void Studio::stop() {
  if (impl_) impl_->server.stop();
}

std::string Studio::workFolder() const { return impl_->work; }

std::size_t Studio::sessionCount() const {
  std::lock_guard<std::mutex> lock(impl_->sessionsMutex);
  return impl_->sessions.size();
}

int serve(const StudioOptions& options) {
  // SIGINT and SIGTERM end the studio in order (sessions' files deleted), handled by one thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Studio studio(options);
  std::string error;
  if (!studio.start(&error)) {
    std::fprintf(stderr, "foldra serve: %s\n", error.c_str());
    return 1;
  }
  if (!isLoopback(options.host)) {
    std::fprintf(stderr,
                 "foldra serve: warning: listening on %s: other machines can reach the studio, open models "
                 "and run the module\n",
                 options.host.c_str());
  }
  const std::string shownHost = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  std::printf("foldra studio: http://%s:%d/\n", shownHost.c_str(), studio.port());
  std::fflush(stdout);
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    studio.stop();
  });
  const bool served = studio.serve();
  // Wake the waiter if the server ended on its own.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return served ? 0 : 1;
}

}  // namespace studio
