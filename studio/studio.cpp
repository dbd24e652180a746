// The studio's server: its routes, its own files, the headers every answer carries, and the
// program's entry point that runs it until a signal ends it.
#include "studio/studio.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/mesh_io.h"
#include "job/output_formats.h"
#include "job/project.h"
#include "studio/context.h"
#include "studio/form.h"
#include "studio/http.h"
#include "studio/scene_view.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

/// The private folder of the sessions, deleted with whatever is left in it.
struct WorkFolder {
  std::string path;
  ~WorkFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

/// The sheets of the current pattern, /api/sheet/N.EXT, in every format drawn as a file per
/// sheet (the page shows the PNG sheets and offers the SVG ones).
std::string sheetRoute() {
  std::string extensions;
  for (const job::OutputFormat& f : job::outputFormats()) {
    if (f.perSheet) extensions += (extensions.empty() ? "" : "|") + f.extension.substr(1);
  }
  return R"(/api/sheet/([0-9]{1,4})\.()" + extensions + ")";
}

}  // namespace

struct Studio::Impl {
  // Members end in reverse order: the server first, then the sessions with their files and the
  // module, and the folder last.
  WorkFolder work;
  Context context;
  httplib::Server server;
  int port = 0;

  /// Reads the page's files once: each is sent from memory, compressed once.
  bool serveFiles(std::string* error) {
    std::error_code ec;
    const fs::path root = fs::absolute(context.options.webFolder, ec);
    if (!fs::is_regular_file(root / "index.html", ec)) {
      *error = context.options.webFolder + ": the studio's web files are missing (build the studio_web target)";
      return false;
    }
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      const std::string name = "/" + it->path().lexically_relative(root).generic_string();
      context.webFiles[name] = std::make_shared<Body>(content.str(), contentType(extensionOf(name)));
    }
    return true;
  }

  bool loadModule(std::string* error) {
    if (!context.module.load(context.options.modulePath, error)) return false;
    job::DialogForm form;
    if (!context.module.dialogForm(&form, error)) return false;
    context.dialog = dialogJson(form);
    return true;
  }

  void headers() {
    server.set_payload_max_length(context.options.maxUpload);
    // A connection left open by a browser is closed after a second without a request, so that
    // stopping the studio does not wait for idle connections.
    server.set_keep_alive_timeout(1);
    server.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return;
      if (res.status == 413) {
        return refuse(res, 413, "the upload is larger than the studio accepts (" +
                                    std::to_string(context.options.maxUpload / (1024 * 1024)) + " MB; see --max-upload)");
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
      // A path that names no file of ours as it stands (a NUL or another control character in
      // it would cut the name short on its way to the file system) is not looked up at all.
      for (unsigned char c : req.path) {
        if (c < 0x20 || c == 0x7f) {
          refuse(res, 404, "not found");
          return httplib::Server::HandlerResponse::Handled;
        }
      }
      // Pages of other sites must not reach the studio through a name that points at this
      // machine: the Host header names the address the studio listens on.
      if (isLoopback(context.options.host)) {
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
  }

  void routes() {
    using Req = httplib::Request;
    using Res = httplib::Response;
    Context& c = context;
    server.Get("/api/state", [&c](const Req& req, Res& res) {
      Reading s = c.sessions.read(req, res, true);
      if (!s) return;
      json out = s->state();
      out["maxUpload"] = c.options.maxUpload;
      json extensions = json::array({".json", job::kProjectExtension});
      for (const std::string& e : c.importable) extensions.push_back(e);
      out["extensions"] = std::move(extensions);
      out["companions"] = kCompanionExtensions;
      answer(res, out);
    });
    server.Get("/api/dialog", [&c](const Req&, Res& res) { answer(res, c.dialog); });
    server.Get("/api/paper", [&c](const Req& req, Res& res) {
      // The model's extent gives the scale; without a session or a model it is 1. Answered
      // while a run holds the session too: the page asks whenever the paper changes.
      std::array<double, 3> extent{0, 0, 0};
      if (auto session = c.sessions.find(req)) extent = session->extentNow();
      json out;
      std::string error;
      if (!paperJson(req.params, extent, &out, &error)) return refuse(res, 400, error);
      answer(res, out);
    });
    server.Get("/api/progress", [&c](const Req& req, Res& res) {
      auto s = c.sessions.require(req, res);
      if (!s) return;
      const job::Progress p = s->progress();
      answer(res, {{"running", p.running}, {"percent", p.percent}, {"stage", p.stage}, {"reports", p.reports}});
    });
    server.Get("/api/scene", [&c](const Req& req, Res& res) {
      Reading s = c.sessions.read(req, res);
      if (!s) return;
      if (!s->document) return refuse(res, 404, "no model open");
      send(req, res, s->scene());
    });
    server.Get("/api/scene/model", [&c](const Req& req, Res& res) {
      Reading s = c.sessions.read(req, res);
      if (!s) return;
      if (!s->modelScene) return refuse(res, 404, "no model open");
      send(req, res, s->modelScene);
    });
    server.Post("/api/model", [&c](const Req& req, Res& res) { upload(c, req, res); });
    server.Post("/api/run", [&c](const Req& req, Res& res) { run(c, req, res); });
    server.Get("/api/download/project.foldra", [&c](const Req& req, Res& res) { downloadProject(c, req, res); });
    server.Get("/api/sheet-edge", [&c](const Req& req, Res& res) { sheetEdge(c, req, res); });
    server.Get("/api/edge", [&c](const Req& req, Res& res) { edgeInfo(c, req, res); });
    server.Post("/api/place", [&c](const Req& req, Res& res) { place(c, req, res); });
    server.Post("/api/edit", [&c](const Req& req, Res& res) { edit(c, req, res); });
    server.Post("/api/undo", [&c](const Req& req, Res& res) { undoRedo(c, req, res, true); });
    server.Post("/api/redo", [&c](const Req& req, Res& res) { undoRedo(c, req, res, false); });
    server.Post("/api/stop", [&c](const Req& req, Res& res) { stopRun(c, req, res); });
    server.Post("/api/leave", [&c](const Req& req, Res& res) {
      // A closed tab stops the run it asked for; the session's other tabs keep theirs.
      const std::string tab = req.body.substr(0, 64);
      if (!tab.empty() && c.running.is(c.sessions.find(req).get(), tab)) c.module.breakRun();
      c.sessions.leave(req);
      answer(res, {{"left", true}});
    });
    server.Get(sheetRoute(), [&c](const Req& req, Res& res) { sheet(c, req, res); });
    server.Get(R"(/api/thumbnail/([0-9]{1,4})\.png)", [&c](const Req& req, Res& res) { thumbnail(c, req, res); });
    server.Get(R"(/api/texture/([0-9]{1,6}))", [&c](const Req& req, Res& res) { texture(c, req, res); });
    server.Get(R"(/api/download/(pattern\.pdf|pieces\.zip|pieces\.glb|scene\.json))",
               [&c](const Req& req, Res& res) { download(c, req, res); });
    // The page's files; the browser asks each time whether they changed (they change when the
    // studio is rebuilt).
    server.Get(R"(/[A-Za-z0-9_.\-/]*)", [&c](const Req& req, Res& res) {
      auto it = c.webFiles.find(req.path == "/" ? "/index.html" : req.path);
      if (it == c.webFiles.end()) return refuse(res, 404, "not found");
      send(req, res, it->second);
      res.headers.erase("Cache-Control");
      res.set_header("Cache-Control", "no-cache");
    });
  }
};

Studio::Studio(StudioOptions options) : impl_(std::make_unique<Impl>()) { impl_->context.options = std::move(options); }

Studio::~Studio() { stop(); }

bool Studio::start(std::string* error) {
  Impl& m = *impl_;
  // Every request and every drawing of sheets runs in a thread; with an allocator arena per
  // thread, what ended sessions freed stays scattered over many arenas and is never given back
  // to the system. With one arena it is given back (see Sessions), and the studio's few threads
  // at a time hardly wait for each other.
  mallopt(M_ARENA_MAX, 1);
  if (!m.serveFiles(error) || !m.loadModule(error)) return false;
  m.context.importable = formats::importExtensions();
  std::string folder = (fs::temp_directory_path() / "foldra-studio-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    *error = "cannot make a private folder for uploads in " + fs::temp_directory_path().string();
    return false;
  }
  ::chmod(folder.c_str(), 0700);
  m.work.path = folder;
  m.headers();
  m.routes();
  const StudioOptions& o = m.context.options;
  if (o.port == 0) {
    m.port = m.server.bind_to_any_port(o.host.c_str());
  } else {
    m.port = m.server.bind_to_port(o.host.c_str(), o.port) ? o.port : -1;
  }
  if (m.port <= 0) {
    *error = "cannot listen on " + o.host + ":" + std::to_string(o.port) +
             " (is the port in use, or the address not one of this machine?)";
    return false;
  }
  Keeping keeping;
  if (!o.keepFolder.empty()) {
    std::error_code ec;
    fs::create_directories(o.keepFolder, ec);
    if (ec || !fs::is_directory(o.keepFolder, ec) || ::chmod(o.keepFolder.c_str(), 0700) != 0) {
      *error = o.keepFolder + ": cannot make the folder for kept sessions";
      return false;
    }
    keeping.folder = o.keepFolder;
    keeping.age = o.keepAge;
    keeping.bytes = o.keepBytes;
  }
  m.context.sessions.start(m.work.path, o.maxSessions, o.sessionTimeout, o.leaveGrace, std::move(keeping));
  return true;
}

int Studio::port() const { return impl_->port; }

bool Studio::serve() { return impl_->server.listen_after_bind(); }

void Studio::stop() {
  if (impl_) impl_->server.stop();
}

std::string Studio::workFolder() const { return impl_->work.path; }

std::size_t Studio::sessionCount() const { return impl_->context.sessions.count(); }

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
