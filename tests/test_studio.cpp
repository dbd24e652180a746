// The studio's server from the outside, through HTTP: uploads that are too large, broken or
// named to escape, requests for files outside the studio, sessions that run at the same time,
// and the private folder that holds the sessions' files; and its form read back into a run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "job/methods.h"
#include "shell/ids.h"
#include "studio/checks.h"
#include "studio/form.h"
#include "studio/sessions.h"
#include "studio/studio.h"
#include "temp_dir.h"
#include "unzip_all.h"

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::TempDir;
using testing_support::unzipAll;

namespace {

const char* kCube =
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";

/// A studio on a free port of the loopback address, serving in a thread of its own.
class Served {
 public:
  explicit Served(studio::StudioOptions options = {}) {
    std::ofstream(web_.file("index.html")) << "<!doctype html><title>studio</title>";
    fs::create_directory(web_.path() / "vendor");
    std::ofstream(web_.file("vendor/lib.js")) << "export const x = 1;";
    options.host = "127.0.0.1";
    options.port = 0;
    options.modulePath = FOLDRA_MODULE;
    options.webFolder = web_.path().string();
    studio_ = std::make_unique<studio::Studio>(std::move(options));
    std::string error;
    if (!studio_->start(&error)) throw std::runtime_error(error);
    thread_ = std::thread([this] { studio_->serve(); });
    // Wait until it answers.
    for (int i = 0; i < 200; ++i) {
      if (client().Get("/")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Served() {
    studio_->stop();
    thread_.join();
  }
  studio::Studio& studio() { return *studio_; }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", studio_->port());
    c.set_url_encode(false);
    c.set_read_timeout(60, 0);
    return c;
  }

 private:
  TempDir web_;
  std::unique_ptr<studio::Studio> studio_;
  std::thread thread_;
};

/// One browser: its session cookie goes with every request. Each request has a connection of
/// its own, as a browser's parallel requests do.
class Browser {
 public:
  explicit Browser(const Served& served) : served_(served) {
    auto res = served_.client().Get("/api/state");
    if (!res || res->status != 200) throw std::runtime_error("no session");
    const std::string cookie = res->get_header_value("Set-Cookie");
    cookie_ = cookie.substr(0, cookie.find(';'));
  }
  httplib::Headers headers() const { return {{"Cookie", cookie_}}; }
  httplib::Result get(const std::string& path) { return served_.client().Get(path.c_str(), headers()); }
  httplib::Result upload(const std::vector<std::pair<std::string, std::string>>& files) {
    httplib::MultipartFormDataItems items;
    for (const auto& [name, content] : files) items.push_back({"files", content, name, "application/octet-stream"});
    return served_.client().Post("/api/model", headers(), items);
  }
  httplib::Result run(const json& body) {
    return served_.client().Post("/api/run", headers(), body.dump(), "application/json");
  }
  httplib::Result post(const std::string& path) { return served_.client().Post(path.c_str(), headers(), "", "text/plain"); }

 private:
  const Served& served_;
  std::string cookie_;
};

std::string errorOf(const httplib::Result& res) {
  if (!res) return "(no answer)";
  try {
    return json::parse(res->body).at("error").get<std::string>();
  } catch (const std::exception&) {
    return "(no message: " + res->body + ")";
  }
}

/// Sends bytes as they are to the studio and answers the first line of the reply ("" for none).
std::string rawRequest(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    char buffer[4096];
    ssize_t n = 0;
    while (reply.find("\r\n") == std::string::npos && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return reply.substr(0, reply.find("\r\n"));
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

json stackRun() { return {{"gadgets", {{"10002", 6052}}}, {"press", 1}, {"paper", {{"scale", 50}}}}; }

}  // namespace

TEST(StudioUploads, RefusedWithAMessage) {
  studio::StudioOptions options;
  options.maxUpload = 64 * 1024;
  Served served(options);
  Browser browser(served);

  // Larger than --max-upload: 413, and the message says what the limit is.
  auto res = browser.upload({{"big.obj", std::string(200 * 1024, 'v')}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
  EXPECT_NE(errorOf(res).find("larger than the studio accepts"), std::string::npos) << errorOf(res);

  // A file that is no mesh: the importer's message, naming the file as the person knows it.
  res = browser.upload({{"garbage.obj", "\x01\x02 this is not a mesh \x7f"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 422);
  EXPECT_NE(errorOf(res).find("garbage.obj"), std::string::npos) << errorOf(res);
  EXPECT_EQ(errorOf(res).find(served.studio().workFolder()), std::string::npos) << "no server path: " << errorOf(res);

  res = browser.upload({{"empty.stl", ""}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 422);
  EXPECT_NE(errorOf(res).find("empty"), std::string::npos) << errorOf(res);

  // Names that try to leave the upload folder, and types the studio does not open.
  for (const std::string name : {"/etc/passwd", "../../x.png", "..", "a/../../b.mtl", ".hidden.png", "run.exe"}) {
    res = browser.upload({{"cube.obj", kCube}, {name, "x"}});
    ASSERT_TRUE(res) << name;
    EXPECT_TRUE(res->status == 400 || res->status == 415) << name << ": " << res->status;
    EXPECT_FALSE(errorOf(res).empty()) << name;
  }
  res = browser.upload({{"a.obj", kCube}, {"b.obj", kCube}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400) << "one model at a time";

  // Nothing of the refused uploads stays behind, and nothing is written outside the folder.
  const fs::path folder = served.studio().workFolder();
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    EXPECT_TRUE(entry.is_directory()) << entry.path();
  }
  EXPECT_FALSE(fs::exists(folder.parent_path() / "x.png"));

  // A model with its material file is read; the state reports it.
  res = browser.upload({{"cube.obj", std::string("mtllib cube.mtl\nusemtl Red\n") + kCube},
                        {"cube.mtl", "newmtl Red\nKd 0.8 0.1 0.1\n"}});
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(json::parse(res->body)["model"]["name"], "cube.obj");
  auto scene = browser.get("/api/scene");
  ASSERT_TRUE(scene && scene->status == 200);
  EXPECT_EQ(json::parse(scene->body)["materials"][0]["name"], "Red");

  // Names that are not UTF-8 still make answers that parse.
  res = browser.upload({{"\xff\xfe.obj", std::string("o \xff\xfe\n") + kCube}});
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_NO_THROW(json::parse(res->body));
  scene = browser.get("/api/scene");
  ASSERT_TRUE(scene);
  ASSERT_EQ(scene->status, 200);
  EXPECT_NO_THROW(json::parse(scene->body));
}

TEST(StudioFiles, OnlyTheStudiosOwnFilesAreServed) {
  Served served;
  auto client = served.client();
  auto res = client.Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  res = client.Get("/vendor/lib.js");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/javascript; charset=utf-8");

  for (const std::string path :
       {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/vendor/../../../../etc/passwd", "/vendor/%2e%2e/%2e%2e/etc/passwd",
        "/etc/passwd", "//etc/passwd", "/api/sheet/../../../etc/passwd", "/api/sheet/1.svg/../../../etc/passwd",
        "/api/download/..%2f..%2fetc%2fpasswd", "/index.html%00.png", "/vendor/"}) {
    res = client.Get(path.c_str());
    ASSERT_TRUE(res) << path;
    EXPECT_GE(res->status, 400) << path;
    EXPECT_LT(res->status, 500) << path;
    EXPECT_EQ(res->body.find("root:"), std::string::npos) << path;
  }
  // A page of another site that reaches the studio through its own name is turned away.
  res = client.Get("/api/state", {{"Host", "attacker.example:8080"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 403);
}

TEST(StudioRequests, MalformedHttpIsRefusedAndTheStudioGoesOn) {
  Served served;
  const int port = served.studio().port();
  for (const std::string& request :
       {std::string("GARBAGE\r\n\r\n"), std::string("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -5\r\n\r\n"),
        std::string("POST /api/model HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=x\r\n"
                    "Content-Length: 15\r\n\r\n--x\r\nbroken\r\n\r\n"),
        std::string("GET /") + std::string(20000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        std::string("GET / HTTP/1.1\r\n") + std::string(20000, 'X') + "\r\n\r\n"}) {
    const std::string status = rawRequest(port, request);
    // An answer, and never a server error: 4xx for what cannot be read.
    EXPECT_EQ(status.rfind("HTTP/1.1 ", 0), 0u) << request.substr(0, 60) << " -> " << status;
    EXPECT_EQ(status.find("HTTP/1.1 5"), std::string::npos) << request.substr(0, 60) << " -> " << status;
    if (request.rfind("GARBAGE", 0) == 0 || request.size() > 10000) {
      EXPECT_EQ(status.rfind("HTTP/1.1 4", 0), 0u) << request.substr(0, 60) << " -> " << status;
    }
  }
  // A form that is no multipart upload, and one with an unexpected field.
  Browser browser(served);
  auto res = served.client().Post("/api/model", browser.headers(), "files=cube.obj", "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_FALSE(errorOf(res).empty());
  httplib::MultipartFormDataItems items{{"path", "/etc/passwd", "", ""}};
  res = served.client().Post("/api/model", browser.headers(), items);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  // Still serving.
  EXPECT_EQ(served.client().Get("/")->status, 200);
}

TEST(StudioRequests, MalformedRunsGetAMessage) {
  Served served;
  Browser browser(served);
  // No session: the page is told to reload.
  auto res = served.client().Post("/api/run", "{}", "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);

  res = browser.run(stackRun());
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 409) << "no model yet";
  ASSERT_EQ(browser.upload({{"cube.obj", kCube}})->status, 200);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{not json", "not valid JSON"},
      {R"({"gadgets": {"99999": 1}, "press": 1})", "no gadget 99999"},
      {R"({"gadgets": {"10007": "wide"}, "press": 1})", "Page width"},
      {R"({"gadgets": {"10007": "-3"}, "press": 1})", "greater than 0"},
      {R"({"gadgets": {"10007": "nan"}, "press": 1})", "Page width"},
      {R"({"gadgets": {"10007": "0x10"}, "press": 1})", "Page width"},
      {R"({"gadgets": {"10007": " 5"}, "press": 1})", "Page width"},
      {R"({"gadgets": {"10005": "yes"}, "press": 1})", "true or false"},
      {R"({"gadgets": {"10002": 7}, "press": 1})", "no entry 7"},
      {R"({"gadgets": {}, "press": 10002})", "buttons"},
      {R"({"gadgets": {}, "press": 1, "paper": {"margin": 200}})", "no room on the paper"},
      {R"({"gadgets": {}, "press": 1, "paper": {"scale": "/etc/passwd"}})", "Scale: \"/etc/passwd\" is not a number"},
      // Numbers that are numbers, only too large, are told so.
      {R"({"gadgets": {}, "press": 1, "paper": {"size": "1e308"}})", "Model size: 1e308 mm is too large (at most 1000000 mm)"},
      {R"({"gadgets": {}, "press": 1, "paper": {"width": 1e12}})", "Paper width: 1000000000000.0 mm is too large"},
      {R"({"gadgets": {}, "press": 1, "paper": {"tab": "1e400"}})", "Glue tab depth: 1e400 is far too large"},
      {R"({"gadgets": {}, "press": 1, "paper": {"margin": "-1"}})", "Margin: must be 0 or more, not -1 mm"},
      {R"({"gadgets": {"10007": "1e308"}, "press": 1})", "Page width: 1e308 is too large"},
      {R"([1, 2])", "JSON object"},
  };
  for (const auto& [body, expected] : cases) {
    res = served.client().Post("/api/run", browser.headers(), body, "application/json");
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 400) << body;
    EXPECT_NE(errorOf(res).find(expected), std::string::npos) << body << " -> " << errorOf(res);
  }
  // None of them changed the document.
  res = browser.get("/api/state");
  EXPECT_EQ(json::parse(res->body)["undo"], 0);

  // The cancel button closes the dialog without a run.
  res = browser.run({{"gadgets", json::object()}, {"press", 2}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(json::parse(res->body)["undo"], 0);
}

TEST(StudioForm, OffersTheProgramsWaysOfCuttingAndRefusesOneItDoesNotKnow) {
  // The dialog as a module that learnt a third way of cutting would show it.
  job::DialogForm form;
  runtime::GadgetDescription cut;
  cut.id = foldra::kGadgetUnfolding;
  cut.kind = runtime::GadgetDescription::Kind::Choice;
  cut.label = "How to cut the pieces";
  cut.entries = {{foldra::kUnfoldingLongestEdge, "Longest edges first"}, {foldra::kUnfoldingCompact, "Compact"},
                 {foldra::kUnfoldingChoiceBase + 2, "Another"}};
  runtime::GadgetDescription shut;
  shut.id = foldra::kGadgetFoldShut;
  shut.label = "Fold shut seams that open at most";
  runtime::GadgetDescription confirm;
  confirm.id = foldra::kButtonConfirm;
  confirm.kind = runtime::GadgetDescription::Kind::Button;
  confirm.label = "Unfold";
  form.description.gadgets = {cut, shut, confirm};
  const json dialog = studio::dialogJson(form);
  EXPECT_EQ(dialog["gadgets"][0]["value"], job::method(job::Settings{}.unfold).choice) << "the command line's default";
  EXPECT_EQ(dialog["lengths"]["foldShut"], foldra::kGadgetFoldShut);
  ASSERT_EQ(dialog["methods"].size(), std::size(job::kMethods));
  for (const job::Method& m : job::kMethods) {
    const json& row = dialog["methods"][std::to_string(m.choice)];
    EXPECT_EQ(row["name"], m.name);
    EXPECT_EQ(row["tabDepth"], m.tabDepth);
    EXPECT_EQ(row["description"], m.description);
  }

  const std::string shutId = std::to_string(foldra::kGadgetFoldShut), cutId = std::to_string(foldra::kGadgetUnfolding);
  studio::FormRun run;
  std::string error;
  ASSERT_TRUE(studio::readRunForm({{"gadgets", {{cutId, foldra::kUnfoldingLongestEdge}, {shutId, "0"}}}, {"press", 1}},
                                  dialog, &run, &error))
      << error;
  EXPECT_EQ(run.settings.unfold, job::Unfold::LongestEdge);
  EXPECT_EQ(run.settings.dialogFoldShut, 0.0) << "0 folds shut only the seams whose sides meet";
  EXPECT_EQ(run.entries, job::kEntryUnfolding | job::kEntryFoldShut);
  // Never run as another way of cutting.
  EXPECT_FALSE(studio::readRunForm({{"gadgets", {{cutId, foldra::kUnfoldingChoiceBase + 2}}}, {"press", 1}}, dialog, &run, &error));
  EXPECT_NE(error.find("How to cut the pieces: entry 6062 is not a way of cutting that foldra knows"), std::string::npos) << error;
}

TEST(StudioRuns, AreSerialisedAndUndoable) {
  std::promise<void> entered, release;
  auto releaseFuture = release.get_future().share();
  std::atomic<int> runs{0};
  studio::StudioOptions options;
  options.beforeRun = [&] {
    if (runs++ == 0) {
      entered.set_value();
      releaseFuture.wait();
    }
  };
  Served served(options);
  Browser first(served), second(served);
  ASSERT_EQ(first.upload({{"cube.obj", kCube}})->status, 200);
  ASSERT_EQ(second.upload({{"cube.obj", kCube}})->status, 200);

  // The first run holds the module; the second session is told the studio is busy, and the
  // first session's own requests are too.
  auto running = std::async(std::launch::async, [&] { return first.run(stackRun()); });
  entered.get_future().wait();
  auto busy = second.run(stackRun());
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->status, 409);
  EXPECT_NE(errorOf(busy).find("busy"), std::string::npos) << errorOf(busy);
  auto progress = first.get("/api/progress");
  ASSERT_TRUE(progress && progress->status == 200);
  EXPECT_TRUE(json::parse(progress->body)["running"].get<bool>());
  EXPECT_EQ(first.post("/api/undo")->status, 409);
  release.set_value();
  auto done = running.get();
  ASSERT_TRUE(done);
  ASSERT_EQ(done->status, 200) << done->body;
  // The module's status-bar reports reached the session's progress.
  progress = first.get("/api/progress");
  const json finished = json::parse(progress->body);
  EXPECT_FALSE(finished["running"].get<bool>());
  EXPECT_GT(finished["reports"].get<int>(), 0);

  // Once free, the second session runs; both sessions hold the same result, each their own.
  auto again = second.run(stackRun());
  ASSERT_TRUE(again);
  ASSERT_EQ(again->status, 200) << again->body;
  const json a = json::parse(done->body), b = json::parse(again->body);
  EXPECT_EQ(a["run"]["pieces"], b["run"]["pieces"]);
  EXPECT_EQ(a["run"]["tabs"], b["run"]["tabs"]);
  EXPECT_EQ(a["undo"], 1);
  EXPECT_EQ(b["undo"], 1);
  // The page limit is always on, and the dialog's page and tab sizes follow the paper.
  EXPECT_EQ(a["run"]["script"].get<std::string>().rfind("10002=6052, 10005=1, 10007=3.8, 10008=5.54, 10009=", 0), 0u)
      << a["run"]["script"];

  // Undo in one session leaves the other alone.
  auto undone = first.post("/api/undo");
  ASSERT_EQ(undone->status, 200);
  EXPECT_TRUE(json::parse(undone->body)["run"].is_null());
  EXPECT_EQ(json::parse(first.get("/api/scene")->body)["objects"].size(), 1u);
  EXPECT_EQ(json::parse(second.get("/api/scene")->body)["objects"].size(), b["run"]["pieces"].get<std::size_t>());
  EXPECT_EQ(first.post("/api/undo")->status, 409) << "nothing more to undo";
  auto redone = first.post("/api/redo");
  ASSERT_EQ(redone->status, 200);
  EXPECT_EQ(json::parse(redone->body)["run"], a["run"]);

  // The downloads of the result.
  auto pdf = first.get("/api/download/pattern.pdf");
  ASSERT_TRUE(pdf);
  EXPECT_EQ(pdf->status, 200);
  EXPECT_EQ(pdf->body.substr(0, 4), "%PDF");
  for (const std::string kind : {"pieces.zip", "pieces.glb", "scene.json"}) {
    auto file = first.get("/api/download/" + kind);
    ASSERT_TRUE(file) << kind;
    EXPECT_EQ(file->status, 200) << kind;
    EXPECT_FALSE(file->body.empty()) << kind;
  }
  auto sheet = first.get("/api/sheet/1.svg");
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->status, 200);
  EXPECT_EQ(sheet->get_header_value("Content-Type"), "image/svg+xml");
  EXPECT_NE(sheet->body.find("sheet 1 of"), std::string::npos) << "the first sheet, not the overview before it";
  EXPECT_EQ(first.get("/api/sheet/99.svg")->status, 404);
  // A page loads its sheets and its view at the same time: none of them is turned away.
  std::vector<std::future<int>> loads;
  for (int i = 0; i < 8; ++i) {
    loads.push_back(std::async(std::launch::async, [&first, i] {
      auto r = first.get(i % 2 ? "/api/sheet/1.svg" : "/api/scene");
      return r ? r->status : -1;
    }));
  }
  for (auto& load : loads) EXPECT_EQ(load.get(), 200);

  // Running again starts from the model as opened and replaces the earlier run with its files:
  // one run's pattern per session stays on disk.
  auto rerun = first.run({{"gadgets", {{"10002", 6050}}}, {"press", 1}});
  ASSERT_EQ(rerun->status, 200) << rerun->body;
  EXPECT_EQ(json::parse(rerun->body)["undo"], 1);
  EXPECT_EQ(json::parse(rerun->body)["redo"], 0);
  // Cancel closes the dialog without a run and leaves the result as it was.
  auto cancelled = first.run({{"gadgets", {{"10002", 6051}}}, {"press", 2}});
  ASSERT_EQ(cancelled->status, 200) << cancelled->body;
  EXPECT_EQ(json::parse(cancelled->body)["run"], json::parse(rerun->body)["run"]);
  EXPECT_EQ(json::parse(cancelled->body)["undo"], 1);
  // The pattern's unfolding takes the values the dialog held: with the page limit the cube
  // falls into several pieces, and the pattern has as many.
  auto limited = second.run({{"gadgets", {{"10002", 6051}, {"10005", true}, {"10007", "3"}, {"10008", "3"}, {"10009", "0.5"}}},
                             {"press", 1},
                             {"paper", {{"scale", 50}, {"width", 210}, {"height", 297}, {"margin", 10}}}});
  ASSERT_EQ(limited->status, 200) << limited->body;
  const json limitedRun = json::parse(limited->body)["run"];
  EXPECT_GT(limitedRun["pieces"].get<int>(), 1);
  for (const json& w : limitedRun["warnings"]) {
    EXPECT_EQ(w.get<std::string>().find("the pattern's unfolding gave"), std::string::npos) << w;
  }
  // The widest seam folded shut was not given: it follows the paper, 0.2 mm at 50 mm a unit.
  EXPECT_EQ(limitedRun["script"], "10002=6051, 10005=1, 10007=3, 10008=3, 10009=0.5, 10011=0.004, press:1");
  int runFolders = 0;
  for (const auto& entry : fs::recursive_directory_iterator(served.studio().workFolder())) {
    if (entry.is_directory() && entry.path().filename().string().rfind("run-", 0) == 0) ++runFolders;
  }
  EXPECT_EQ(runFolders, 2);
}

TEST(StudioRuns, GiveTheFilesOfTheCommandLineForTheSameSettings) {
  Served served;
  Browser browser(served);
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  ASSERT_EQ(browser.upload({{"house.obj", slurp(examples / "house.obj")},
                            {"house.mtl", slurp(examples / "house.mtl")},
                            {"house-walls.png", slurp(examples / "house-walls.png")}})
                ->status,
            200);
  // The command line's defaults, entered as a person does on the page: the paper, and the
  // dialog's sizes in model units as the studio converts them.
  auto paper = browser.get("/api/paper?width=210&height=297&margin=10&size=150&tab=6");
  ASSERT_TRUE(paper && paper->status == 200);
  const json lengths = json::parse(paper->body)["dialog"];
  const json gadgets = {{"10002", 6050},  {"10010", 6061}, {"10003", true}, {"10004", true}, {"10005", true},
                        {"10007", lengths["pageWidth"]}, {"10008", lengths["pageHeight"]}, {"10006", true},
                        {"10009", lengths["tabWidth"]}, {"10011", lengths["foldShut"]}};
  auto res = browser.run({{"gadgets", gadgets},
                          {"press", 1},
                          {"paper", {{"width", 210}, {"height", 297}, {"margin", 10}, {"size", 150}}}});
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;

  TempDir out;
  const std::string command = std::string("'") + FOLDRA_PROGRAM + "' '" + (examples / "house.obj").string() + "' -o '" +
                              out.file("result.obj") + "' -o '" + out.file("pattern.pdf") + "' --quiet";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  auto pdf = browser.get("/api/download/pattern.pdf");
  ASSERT_TRUE(pdf && pdf->status == 200);
  EXPECT_TRUE(pdf->body == slurp(out.file("pattern.pdf"))) << "the PDF differs from the command line's";
  // The pieces' OBJ travels in the archive under the model's name; but for the name of its
  // MTL it is the command line's.
  auto zip = browser.get("/api/download/pieces.zip");
  ASSERT_TRUE(zip && zip->status == 200);
  std::ofstream(out.file("pieces.zip"), std::ios::binary) << zip->body;
  const auto entries = unzipAll(out.file("pieces.zip"));
  ASSERT_TRUE(entries.count("house-pieces.obj"));
  std::string obj = entries.at("house-pieces.obj");
  const auto at = obj.find("house-pieces.mtl");
  ASSERT_NE(at, std::string::npos);
  obj.replace(at, std::string("house-pieces.mtl").size(), "result.mtl");
  EXPECT_TRUE(obj == slurp(out.file("result.obj")));
}

TEST(StudioUploads, CountTheFacesAsTheFileHasThem) {
  // A cylinder of 16 sides and two caps of 16 corners: 18 faces, however the caps are split.
  std::ostringstream obj;
  const int n = 16;
  for (int i = 0; i < n; ++i) obj << "v " << std::cos(i * 2 * M_PI / n) << " -1 " << std::sin(i * 2 * M_PI / n) << "\n";
  for (int i = 0; i < n; ++i) obj << "v " << std::cos(i * 2 * M_PI / n) << " 1 " << std::sin(i * 2 * M_PI / n) << "\n";
  for (int i = 0; i < n; ++i) {
    const int a = i + 1, b = (i + 1) % n + 1;
    obj << "f " << a << " " << b << " " << b + n << " " << a + n << "\n";
  }
  obj << "f";
  for (int i = n; i >= 1; --i) obj << " " << i;
  obj << "\nf";
  for (int i = 1; i <= n; ++i) obj << " " << i + n;
  obj << "\n";
  Served served;
  Browser browser(served);
  auto res = browser.upload({{"cylinder.obj", obj.str()}});
  ASSERT_TRUE(res && res->status == 200) << (res ? res->body : "");
  EXPECT_EQ(json::parse(res->body)["model"]["faces"], 18);
}

TEST(StudioAnswers, AreCompressedOnceAndNameNoPathOfTheServer) {
  Served served;
  Browser browser(served);
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  ASSERT_EQ(browser.upload({{"house.obj", slurp(examples / "house.obj")},
                            {"house.mtl", slurp(examples / "house.mtl")},
                            {"house-walls.png", slurp(examples / "house-walls.png")}})
                ->status,
            200);
  auto res = browser.run({{"gadgets", json::object()}, {"press", 1}, {"paper", {{"size", 150}}}});
  ASSERT_TRUE(res && res->status == 200) << (res ? res->body : "");
  const json run = json::parse(res->body)["run"];
  // The pieces' places on the pattern come with the run, numbered as the sheets number them.
  ASSERT_EQ(run["pattern"]["pieces"].size(), run["pieces"].get<std::size_t>());
  for (const json& piece : run["pattern"]["pieces"]) EXPECT_FALSE(piece["oversize"].get<bool>()) << piece;

  // gzip when the client takes it, made once; nothing for a client that takes only Brotli.
  auto client = served.client();
  client.set_decompress(false);
  httplib::Headers gzip = browser.headers();
  gzip.emplace("Accept-Encoding", "gzip, deflate, br");
  res = client.Get("/api/scene", gzip);
  ASSERT_TRUE(res && res->status == 200);
  EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
  const std::string tag = res->get_header_value("ETag");
  httplib::Headers brotli = browser.headers();
  brotli.emplace("Accept-Encoding", "br");
  res = client.Get("/api/scene", brotli);
  ASSERT_TRUE(res && res->status == 200);
  EXPECT_EQ(res->get_header_value("Content-Encoding"), "");
  EXPECT_NO_THROW(json::parse(res->body));
  httplib::Headers again = browser.headers();
  again.emplace("If-None-Match", tag);
  EXPECT_EQ(client.Get("/api/scene", again)->status, 304);
  res = client.Get("/api/sheet/1.svg", gzip);
  ASSERT_TRUE(res && res->status == 200);
  EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
  res = browser.get("/api/sheet/1.png");
  ASSERT_TRUE(res && res->status == 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
  // The list's small image of the same sheet: a PNG whose width (bytes 16-19, big-endian) is
  // the A4 page's at the list's resolution, where the viewer's is at its own.
  const auto pngWidth = [](const std::string& png) {
    return png.size() < 24 ? 0u : (static_cast<unsigned char>(png[16]) << 24 | static_cast<unsigned char>(png[17]) << 16 |
                                   static_cast<unsigned char>(png[18]) << 8 | static_cast<unsigned char>(png[19]));
  };
  const unsigned previewWidth = pngWidth(res->body);
  auto small = browser.get("/api/thumbnail/1.png");
  ASSERT_TRUE(small && small->status == 200);
  EXPECT_EQ(small->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(pngWidth(small->body), 372u) << "210 mm at 45 dpi";
  EXPECT_GT(previewWidth, 2 * pngWidth(small->body));
  EXPECT_EQ(browser.get("/api/thumbnail/99.png")->status, 404);
  // The walls' image for the 3D view; no image for a material without one.
  const json scene = json::parse(browser.get("/api/scene")->body);
  int images = 0;
  for (std::size_t m = 0; m < scene["materials"].size(); ++m) {
    auto image = browser.get("/api/texture/" + std::to_string(m));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->status, scene["materials"][m].contains("texture") ? 200 : 404) << m;
    images += image->status == 200;
  }
  EXPECT_EQ(images, 1);

  // No download names a path of the server: the archive carries the image, the GLB holds it.
  const std::string work = served.studio().workFolder();
  TempDir out;
  for (const std::string name : {"pattern.pdf", "pieces.zip", "pieces.glb", "scene.json"}) {
    res = browser.get("/api/download/" + name);
    ASSERT_TRUE(res && res->status == 200) << name;
    EXPECT_EQ(res->body.find(work), std::string::npos) << name;
    if (name == "pieces.zip") {
      std::ofstream(out.file(name), std::ios::binary) << res->body;
      const auto entries = unzipAll(out.file(name));
      EXPECT_EQ(entries.size(), 3u);
      EXPECT_TRUE(entries.count("house-walls.png"));
      for (const auto& [entry, content] : entries) EXPECT_EQ(content.find(work), std::string::npos) << entry;
    }
  }
}
TEST(StudioSessions, FilesArePrivateAndGoWithTheSession) {
  studio::StudioOptions options;
  options.sessionTimeout = std::chrono::seconds(1);
  std::string folder;
  {
    Served served(options);
    folder = served.studio().workFolder();
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    Browser browser(served);
    ASSERT_EQ(browser.upload({{"cube.obj", kCube}})->status, 200);
    EXPECT_EQ(served.studio().sessionCount(), 1u);
    EXPECT_FALSE(fs::is_empty(folder));
    // Unused for longer than the timeout: the session ends and its files go. The files go when
    // the reaper lets go of the session, just after the count has dropped.
    for (int i = 0; i < 100 && (served.studio().sessionCount() > 0 || !fs::is_empty(folder)); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(served.studio().sessionCount(), 0u);
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(browser.get("/api/scene")->status, 401);

    Browser later(served);
    ASSERT_EQ(later.upload({{"cube.obj", kCube}})->status, 200);
    EXPECT_FALSE(fs::is_empty(folder));
  }
  // The studio's end deletes what was left.
  EXPECT_FALSE(fs::exists(folder));
}

TEST(StudioSessions, KeptSessionsSurviveAPauseAndARestartAndAreCleanedWithinTheirBounds) {
  TempDir kept;
  studio::StudioOptions options;
  options.sessionTimeout = std::chrono::seconds(1);
  options.keepFolder = (kept.path() / "sessions").string();
  std::string cookie, id;
  {
    Served served(options);
    Browser browser(served);
    ASSERT_EQ(browser.upload({{"cube.obj", kCube}})->status, 200);
    auto res = browser.run(stackRun());
    ASSERT_EQ(res->status, 200) << errorOf(res);
    const json ran = json::parse(res->body);
    // A pause longer than the timeout: the session leaves memory, and the next request brings
    // it back from disk with its model and the run to make again, past the revision shown.
    for (int i = 0; i < 100 && served.studio().sessionCount() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(served.studio().sessionCount(), 0u);
    res = browser.get("/api/state");
    ASSERT_EQ(res->status, 200) << errorOf(res);
    json back = json::parse(res->body);
    ASSERT_TRUE(back["model"].is_object()) << back.dump();
    EXPECT_EQ(back["model"]["name"], "cube.obj");
    EXPECT_EQ(back["resume"], stackRun());
    EXPECT_GT(back["revision"].get<int>(), ran["revision"].get<int>());
    // Undo from a page that still shows the run before the pause is refused with what is there.
    httplib::Headers stale = browser.headers();
    stale.emplace("X-Foldra-Revision", std::to_string(ran["revision"].get<int>()));
    res = served.client().Post("/api/undo", stale, "", "text/plain");
    EXPECT_EQ(res->status, 409);
    res = browser.run(stackRun());
    ASSERT_EQ(res->status, 200) << errorOf(res);
    EXPECT_EQ(json::parse(res->body)["run"]["pieces"], ran["run"]["pieces"]);
    EXPECT_FALSE(json::parse(res->body).contains("resume")) << "made again: nothing left to resume";
    cookie = browser.headers().begin()->second;
    id = cookie.substr(cookie.find('=') + 1);
  }
  // A restart: the same browser finds its model again, under its own name only.
  ASSERT_TRUE(fs::exists(kept.path() / "sessions" / id / "session.json"));
  {
    Served served(options);
    auto res = served.client().Get("/api/state", {{"Cookie", cookie}});
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body)["model"]["name"], "cube.obj");
    res = served.client().Get("/api/state", {{"Cookie", "foldra_studio=../../etc"}});
    EXPECT_EQ(json::parse(res->body)["model"], nullptr) << "a name that is no session's starts a new one";
  }
  // A record that is not one (truncated) gives a fresh session, not an error.
  {
    std::ofstream(kept.path() / "sessions" / id / "session.json") << "{\"version\": 1, \"mod";
    Served served(options);
    auto res = served.client().Get("/api/state", {{"Cookie", cookie}});
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body)["model"], nullptr);
  }
  // Over its bounds the kept folder loses its least recently seen sessions first.
  options.keepBytes = 1;
  {
    Served served(options);
    for (int i = 0; i < 100 && fs::exists(kept.path() / "sessions" / id); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(fs::exists(kept.path() / "sessions" / id));
  }
}

/// The resident memory of this process, in kilobytes.
long residentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// What the page asks for while an edit or a move holds its session (a texture, the edge under a
// click) is answered once the change is done; a second change is refused at once, and a read
// that meets a change longer than the wait (a run of the module) is answered busy.
TEST(StudioSessions, AReadWaitsForAShortChangeAndIsRefusedDuringALongOne) {
  using Clock = std::chrono::steady_clock;
  auto session = std::make_shared<studio::Session>();
  // A change held by another request's thread until `release` is set (or for `hold`).
  auto changing = [&](std::promise<void>& taken, std::shared_future<void> release, std::chrono::milliseconds hold) {
    return std::thread([&taken, release, hold, session] {
      httplib::Response res;
      studio::Changing change = studio::Sessions::change(session, res);
      taken.set_value();
      if (change) release.wait_for(hold);
    });
  };

  std::promise<void> taken, never;
  // An edit of a second, well within the read's wait.
  std::thread edit = changing(taken, never.get_future().share(), std::chrono::milliseconds(1000));
  taken.get_future().wait();
  httplib::Response second;
  EXPECT_FALSE(studio::Sessions::change(session, second)) << "a second change never waits";
  EXPECT_EQ(second.status, 409);
  httplib::Response read;
  EXPECT_TRUE(studio::Sessions::read(session, read)) << "the read waits for the edit, answered " << read.status;
  edit.join();

  std::promise<void> runTaken, runEnds;
  std::thread run = changing(runTaken, runEnds.get_future().share(), std::chrono::milliseconds(60000));
  runTaken.get_future().wait();
  const auto again = Clock::now();
  httplib::Response refused;
  EXPECT_FALSE(studio::Sessions::read(session, refused));
  EXPECT_EQ(refused.status, 409);
  EXPECT_GE(Clock::now() - again, studio::kReadWait - std::chrono::milliseconds(50));
  runEnds.set_value();
  run.join();
}

TEST(StudioSessions, MemoryGoesBackAfterThirtySessionsEnd) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator holds freed memory back on purpose";
#endif
  studio::StudioOptions options;
  options.leaveGrace = std::chrono::seconds(0);
  Served served(options);
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  const std::vector<std::pair<std::string, std::string>> house = {{"house.obj", slurp(examples / "house.obj")},
                                                                  {"house.mtl", slurp(examples / "house.mtl")},
                                                                  {"house-walls.png", slurp(examples / "house-walls.png")}};
  // A person's session: the model opened and unfolded, its view, a sheet and the PDF seen, and
  // the page closed.
  auto session = [&] {
    Browser browser(served);
    ASSERT_EQ(browser.upload(house)->status, 200);
    ASSERT_EQ(browser.run({{"gadgets", json::object()}, {"press", 1}, {"paper", {{"size", 150}}}})->status, 200);
    EXPECT_EQ(browser.get("/api/scene")->status, 200);
    EXPECT_EQ(browser.get("/api/sheet/1.png")->status, 200);
    EXPECT_EQ(browser.get("/api/download/pattern.pdf")->status, 200);
    EXPECT_EQ(browser.post("/api/leave")->status, 200);
  };
  // A session's files go when the reaper lets go of it, just after the count has dropped.
  auto allEnded = [&] {
    for (int i = 0; i < 100 && (served.studio().sessionCount() > 0 || !fs::is_empty(served.studio().workFolder())); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return served.studio().sessionCount() == 0 && fs::is_empty(served.studio().workFolder());
  };
  // The first session loads what every later one shares (fonts, the module's first run).
  session();
  ASSERT_TRUE(allEnded());
  const long before = residentKb();
  long most = before;
  for (int i = 0; i < 30; ++i) {
    session();
    most = std::max(most, residentKb());
  }
  ASSERT_TRUE(allEnded()) << "a closed page's session ends, its files with it";
  const long after = residentKb();
  std::printf("studio memory: %ld kB after the first session, %ld kB at most during 30 more, %ld kB once they ended\n",
              before, most, after);
  EXPECT_LT(after, before + 32 * 1024) << "what 30 sessions held went back";
}

TEST(StudioProgram, StopsOnSigtermAndDeletesItsFiles) {
  // foldra serve as a person starts it, with its temporary folder in a folder of the test's own.
  TempDir temporary;
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string tmpdir = "TMPDIR=" + temporary.path().string();
  std::vector<char*> environment{const_cast<char*>(tmpdir.c_str()), nullptr};
  std::vector<std::string> arguments{FOLDRA_PROGRAM, "serve", "--port", "0"};
  std::vector<char*> argv;
  for (auto& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, FOLDRA_PROGRAM, &actions, nullptr, argv.data(), environment.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  // Whatever fails below, the studio does not outlive the test.
  struct Reap {
    pid_t pid;
    ~Reap() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
  } reap{pid};
  std::string line;
  char c = 0;
  while (line.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) line += c;
  ::close(out[0]);
  const auto colon = line.rfind(':');
  ASSERT_NE(colon, std::string::npos) << line;
  const int port = std::stoi(line.substr(colon + 1));
  EXPECT_EQ(line.rfind("foldra studio: http://127.0.0.1:", 0), 0u) << line;

  httplib::Client client("127.0.0.1", port);
  auto res = client.Get("/api/state");
  ASSERT_TRUE(res);
  const std::string cookie = res->get_header_value("Set-Cookie");
  httplib::MultipartFormDataItems items{{"files", kCube, "cube.obj", ""}};
  res = client.Post("/api/model", {{"Cookie", cookie.substr(0, cookie.find(';'))}}, items);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_FALSE(fs::is_empty(temporary.path())) << "the upload is kept while the studio runs";

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  reap.pid = 0;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::is_empty(temporary.path())) << "the studio's folder is gone";
}

namespace {

/// Every copy of the run's edges as /api/edge describes it, found by walking the pieces.
std::vector<json> edgesOfRun(Browser& browser, const json& state) {
  std::vector<json> out;
  const int pieces = state["run"]["pieces"].get<int>();
  for (int p = 0; p < pieces; ++p) {
    for (int t = 0;; ++t) {
      auto res = browser.get("/api/edge?piece=" + std::to_string(p) + "&triangle=" + std::to_string(t) + "&side=0");
      if (!res || res->status != 200) break;
      for (int k = 0; k < 3; ++k) {
        auto e = browser.get("/api/edge?piece=" + std::to_string(p) + "&triangle=" + std::to_string(t) + "&side=" + std::to_string(k));
        out.push_back(json::parse(e->body));
      }
    }
  }
  return out;
}

/// The copy of the model's edge (object, edge) in a run, or null.
json copyOf(const std::vector<json>& edges, const json& like) {
  for (const json& e : edges) {
    if (e["object"] == like["object"] && e["edge"] == like["edge"]) return e;
  }
  return nullptr;
}

json editAt(const json& copy, const std::string& action) {
  return {{"piece", copy["piece"]}, {"triangle", copy["triangle"]}, {"side", copy["side"]}, {"action", action}};
}

}  // namespace

TEST(StudioEdits, CutJoinAndTabsAtAnEdgeWithUndoAndRedo) {
  Served served;
  Browser browser(served);
  ASSERT_EQ(browser.upload({{"cube.obj", kCube}})->status, 200);
  auto first = browser.run(stackRun());
  ASSERT_EQ(first->status, 200) << first->body;
  const json start = json::parse(first->body);
  const int pieces = start["run"]["pieces"].get<int>();
  auto post = [&](const json& body) { return served.client().Post("/api/edit", browser.headers(), body.dump(), "application/json"); };

  // Cut at a fold that is an edge of the model (not a face's diagonal): one piece more.
  std::vector<json> edges = edgesOfRun(browser, start);
  json fold = nullptr;
  for (const json& e : edges) {
    if (e["kind"] == "fold" && e["edge"].get<int>() >= 0 && fold.is_null()) fold = e;
  }
  ASSERT_FALSE(fold.is_null());
  auto cut = post(editAt(fold, "cut"));
  ASSERT_EQ(cut->status, 200) << cut->body;
  const json afterCut = json::parse(cut->body);
  EXPECT_EQ(afterCut["run"]["pieces"].get<int>(), pieces + 1);
  EXPECT_EQ(afterCut["run"]["edits"], 1);
  EXPECT_EQ(afterCut["run"]["checks"], json({{"inParts", json::array()}, {"overlapping", json::array()},
                                             {"offPage", json::array()}, {"untabbed", json::array()}}));
  edges = edgesOfRun(browser, afterCut);
  const json nowCut = copyOf(edges, fold);
  ASSERT_FALSE(nowCut.is_null());
  EXPECT_EQ(nowCut["kind"], "cut");
  EXPECT_TRUE(nowCut["edited"].get<bool>());
  EXPECT_FALSE(nowCut["name"].get<std::string>().empty()) << "a cut edge has its name on the sheets";

  // Undo gives the pieces before the edit back, redo the edit's.
  auto undone = browser.post("/api/undo");
  ASSERT_EQ(undone->status, 200) << undone->body;
  EXPECT_EQ(json::parse(undone->body)["run"]["pieces"].get<int>(), pieces);
  auto redone = browser.post("/api/redo");
  ASSERT_EQ(redone->status, 200) << redone->body;
  EXPECT_EQ(json::parse(redone->body)["run"]["pieces"].get<int>(), pieces + 1);

  // Joins across two pieces: one that fits makes one piece of them; one that does not is
  // refused with the reason in plain words, and nothing changes.
  json state = json::parse(redone->body);
  bool joinedOne = false, refusedOne = false;
  std::set<std::pair<int, int>> tried;
  for (int tries = 0; tries < 40 && !(joinedOne && refusedOne); ++tries) {
    edges = edgesOfRun(browser, state);
    json next = nullptr;
    for (const json& e : edges) {
      const std::pair<int, int> id{e["object"].get<int>(), e["edge"].get<int>()};
      if (e["kind"] == "cut" && e["partner"]["piece"] != e["piece"] && id.second >= 0 && !tried.count(id)) {
        next = e;
        break;
      }
    }
    if (next.is_null()) break;
    tried.insert({next["object"].get<int>(), next["edge"].get<int>()});
    auto res = post(editAt(next, "join"));
    if (res->status == 200) {
      const json after = json::parse(res->body);
      EXPECT_EQ(after["run"]["pieces"].get<int>(), state["run"]["pieces"].get<int>() - 1);
      EXPECT_EQ(copyOf(edgesOfRun(browser, after), next)["kind"], "fold");
      state = after;
      joinedOne = true;
    } else {
      EXPECT_EQ(res->status, 409);
      EXPECT_EQ(errorOf(res).rfind("Not joined: ", 0), 0u) << errorOf(res);
      EXPECT_EQ(json::parse(browser.get("/api/state")->body)["run"], state["run"]);
      refusedOne = true;
    }
  }
  EXPECT_TRUE(joinedOne);
  EXPECT_TRUE(refusedOne);
  edges = edgesOfRun(browser, state);
  json tabbed = nullptr;
  for (const json& e : edges) {
    if (e["kind"] == "cut" && e["tab"] == "partner" && tabbed.is_null()) tabbed = e;
  }

  // The tab moves to the copy asked for, and goes where none is wanted.
  ASSERT_FALSE(tabbed.is_null());
  auto moved = post(editAt(tabbed, "tab"));
  ASSERT_EQ(moved->status, 200) << moved->body;
  edges = edgesOfRun(browser, json::parse(moved->body));
  EXPECT_EQ(copyOf(edges, tabbed)["tab"], "here");
  auto bare = post(editAt(copyOf(edges, tabbed), "no-tab"));
  ASSERT_EQ(bare->status, 200) << bare->body;
  const json afterBare = json::parse(bare->body);
  EXPECT_EQ(afterBare["run"]["untabbedByChoice"], 1);
  EXPECT_EQ(copyOf(edgesOfRun(browser, afterBare), tabbed)["tab"], "none");

  // Edits that name no edge, or no edit, are refused.
  EXPECT_EQ(post({{"piece", 99}, {"triangle", 0}, {"side", 0}, {"action", "cut"}})->status, 400);
  EXPECT_EQ(post(editAt(tabbed, "fold it"))->status, 400);
  EXPECT_EQ(post(editAt(tabbed, "cut"))->status, 409) << "a cut edge is cut already";
}

TEST(StudioEdits, AProjectKeepsTheEditsGivesTheSamePatternOnTheCommandLineAndOpensAgain) {
  Served served;
  Browser browser(served);
  const fs::path examples = fs::path(FOLDRA_SOURCE_DIR) / "examples";
  ASSERT_EQ(browser.upload({{"house.obj", slurp(examples / "house.obj")},
                            {"house.mtl", slurp(examples / "house.mtl")},
                            {"house-walls.png", slurp(examples / "house-walls.png")}})
                ->status,
            200);
  const json form = {{"gadgets", {{"10002", 6052}}}, {"press", 1}, {"paper", {{"width", 210}, {"height", 297}, {"size", 150}}}};
  auto first = browser.run(form);
  ASSERT_EQ(first->status, 200) << first->body;
  const json start = json::parse(first->body);
  json fold = nullptr;
  for (const json& e : edgesOfRun(browser, start)) {
    if (e["kind"] == "fold" && fold.is_null()) fold = e;
  }
  ASSERT_FALSE(fold.is_null());
  auto cut = served.client().Post("/api/edit", browser.headers(), editAt(fold, "cut").dump(), "application/json");
  ASSERT_EQ(cut->status, 200) << cut->body;
  json edited = json::parse(cut->body);

  // A piece moved by hand to a new sheet, where it keeps its place on the paper; one moved
  // over another piece is refused, saying which.
  auto placeAt = [&](const json& body) { return served.client().Post("/api/place", browser.headers(), body.dump(), "application/json"); };
  const int sheets = edited["run"]["pattern"]["sheets"].get<int>();
  auto moved = placeAt({{"piece", 0}, {"sheet", sheets + 1}, {"dx", 0}, {"dy", 0}, {"turn", 0}});
  ASSERT_EQ(moved->status, 200) << moved->body;
  edited = json::parse(moved->body);
  EXPECT_EQ(edited["run"]["pattern"]["sheets"].get<int>(), sheets + 1);
  EXPECT_EQ(edited["run"]["pattern"]["pieces"][0]["sheet"].get<int>(), sheets);
  const json& second = edited["run"]["pattern"]["pieces"][1];
  const json& alone = edited["run"]["pattern"]["pieces"][0];
  const double dx = alone["left"].get<double>() - second["left"].get<double>(), dy = alone["top"].get<double>() - second["top"].get<double>();
  auto over = placeAt({{"piece", 1}, {"sheet", sheets + 1}, {"dx", dx}, {"dy", dy}, {"turn", 0}});
  EXPECT_EQ(over->status, 409);
  EXPECT_EQ(errorOf(over).rfind("Not moved: piece ", 0), 0u) << errorOf(over);
  EXPECT_NE(errorOf(over).find("would lie over piece"), std::string::npos) << errorOf(over);
  auto off = placeAt({{"piece", 1}, {"sheet", 1}, {"dx", 5000}, {"dy", 0}, {"turn", 15}});
  EXPECT_EQ(off->status, 409);
  EXPECT_NE(errorOf(off).find("printable area"), std::string::npos) << errorOf(off);

  auto project = browser.get("/api/download/project.foldra");
  ASSERT_TRUE(project && project->status == 200) << (project ? project->body : "");
  auto pdf = browser.get("/api/download/pattern.pdf");
  ASSERT_TRUE(pdf && pdf->status == 200);
  TempDir out;
  std::ofstream(out.file("house.foldra"), std::ios::binary) << project->body;
  const std::string command =
      std::string("'") + FOLDRA_PROGRAM + "' '" + out.file("house.foldra") + "' -o '" + out.file("pattern.pdf") + "' --quiet";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_TRUE(pdf->body == slurp(out.file("pattern.pdf"))) << "the project's pattern differs from the studio's";

  // Opened again in another browser, the project runs as it was saved: the same pieces, with
  // the edit kept (it can be undone there too).
  Browser other(served);
  auto opened = other.upload({{"house.foldra", project->body}});
  ASSERT_EQ(opened->status, 200) << opened->body;
  const json back = json::parse(opened->body);
  ASSERT_TRUE(back["resume"].is_object());
  EXPECT_EQ(back["model"]["name"], "house.obj");
  auto again = other.run(back["resume"]);
  ASSERT_EQ(again->status, 200) << again->body;
  const json reopened = json::parse(again->body);
  EXPECT_EQ(reopened["run"]["pieces"], edited["run"]["pieces"]);
  EXPECT_EQ(reopened["run"]["tabs"], edited["run"]["tabs"]);
  EXPECT_EQ(reopened["run"]["edits"], 1);
  EXPECT_EQ(reopened["run"]["pattern"]["sheets"], edited["run"]["pattern"]["sheets"]) << "with the piece placed by hand";
  auto samePdf = other.get("/api/download/pattern.pdf");
  EXPECT_TRUE(samePdf && samePdf->body == pdf->body);

  // A file that is not a project, or is cut short, is refused and changes nothing.
  auto notOne = other.upload({{"broken.foldra", "not a project"}});
  EXPECT_EQ(notOne->status, 422);
  EXPECT_NE(errorOf(notOne).find("broken.foldra"), std::string::npos) << errorOf(notOne);
  auto cutShort = other.upload({{"short.foldra", project->body.substr(0, project->body.size() / 2)}});
  EXPECT_EQ(cutShort->status, 422);
  EXPECT_EQ(json::parse(other.get("/api/state")->body)["run"]["pieces"], edited["run"]["pieces"]);
}

TEST(StudioChecks, FindPiecesInPartsAndPartsThatOverlap) {
  using P = pattern::Point2;
  // Overlap is told by depth: triangles that share a side or a corner do not overlap.
  const studio::Flat a{P{0, 0}, P{2, 0}, P{0, 2}};
  EXPECT_TRUE(pattern::trianglesOverlap(a, {P{0.5, 0.5}, P{3, 0.5}, P{0.5, 3}}, 1e-9));
  EXPECT_FALSE(pattern::trianglesOverlap(a, {P{2, 0}, P{0, 2}, P{2, 2}}, 1e-9));
  EXPECT_FALSE(pattern::trianglesOverlap(a, {P{2, 0}, P{4, 0}, P{3, 1}}, 1e-9));
  EXPECT_FALSE(pattern::trianglesOverlap(a, {P{0.5, 0.5}, P{3, 0.5}, P{0.5, 3}}, 5.0)) << "deeper than the overlap";

  // Two triangles of one piece with no fold between them: a piece in parts.
  job::EdgeCopy open;
  job::RunEdges edges(1);
  edges[0].push_back({open, open, open});
  edges[0].push_back({open, open, open});
  EXPECT_EQ(studio::runChecks(edges, nullptr)["inParts"], json({1}));
  job::EdgeCopy fold;
  fold.kind = job::EdgeCopy::Kind::Fold;
  fold.otherPiece = 0;
  fold.otherTriangle = 1;
  edges[0][0][0] = fold;
  fold.otherTriangle = 0;
  edges[0][1][2] = fold;
  EXPECT_EQ(studio::runChecks(edges, nullptr)["inParts"], json::array());
}
