// The current result as files: the pattern's PDF and sheets, the pieces as meshes, the scene.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "job/outputs.h"
#include "studio/context.h"
#include "studio/http.h"

namespace studio {

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Sends a file of the session as a download named `name`.
void sendFile(httplib::Response& res, const std::string& path, const std::string& name, bool attachment) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) return refuse(res, 404, "no such file");
  res.set_content(readFile(path), contentType(extensionOf(path)).c_str());
  res.set_header("Content-Disposition", std::string(attachment ? "attachment" : "inline") + "; filename=\"" + name + "\"");
}

/// The download name's stem: the model's name without extension, plain characters only.
std::string stemOf(const Session& s) {
  std::string stem = s.modelName.substr(0, s.modelName.find_last_of('.'));
  for (char& c : stem) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) c = '_';
  }
  return stem.empty() ? "model" : stem;
}

}  // namespace

void download(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  const std::string what = req.matches[1];
  const RunRecord* run = s->current();
  if (!run) return refuse(res, 404, "no result yet: run the module first");
  const std::string stem = stemOf(*s);
  if (what == "pattern.pdf") return sendFile(res, run->pdf, stem + "-pattern.pdf", true);
  const fs::path folder = s->folder / ("export-" + std::to_string(++s->outputs));
  std::error_code ec;
  fs::create_directory(folder, ec);
  const std::string extension = extensionOf(what);
  // An MTL comes with its OBJ.
  const fs::path written = folder / (extension == ".mtl" ? "result.obj" : "result" + extension);
  job::Written files;
  std::string error;
  if (!job::writeOutputs(*s->document, {}, {}, {written.string()}, &files, &error)) {
    fs::remove_all(folder, ec);
    return refuse(res, 500, "the result could not be written");
  }
  sendFile(res, (folder / ("result" + extension)).string(), stem + "-pieces" + extension, true);
  fs::remove_all(folder, ec);
}

void sheet(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  const RunRecord* run = s->current();
  const std::size_t n = std::stoul(req.matches[1]);
  if (!run || n < 1 || n > run->sheets.size()) return refuse(res, 404, "no such sheet");
  sendFile(res, run->sheets[n - 1], stemOf(*s) + "-pattern-" + std::to_string(n) + ".svg", req.has_param("download"));
}

}  // namespace studio
