// The current result as files: the pattern's PDF and sheets, the pieces as a ZIP of OBJ, MTL and
// textures or as a GLB, the scene; and the model's texture images for the 3D view.
#include <filesystem>

#include "formats/mesh_io.h"
#include "job/bundle.h"
#include "job/output_formats.h"
#include "job/project.h"
#include "scene/document.h"
#include "studio/context.h"
#include "studio/edits.h"
#include "studio/http.h"

namespace studio {

namespace fs = std::filesystem;

namespace {

/// The download name's stem: the model's name without extension, plain characters only.
std::string stemOf(const Session& s) {
  std::string stem = s.modelName.substr(0, s.modelName.find_last_of('.'));
  for (char& c : stem) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) c = '_';
  }
  return stem.empty() ? "model" : stem;
}

/// A fresh folder of the session for one download, deleted when the download has been read.
struct ExportFolder {
  fs::path path;
  explicit ExportFolder(Session& s) : path(s.folder / ("export-" + std::to_string(++s.outputs))) {
    std::error_code ec;
    fs::create_directory(path, ec);
  }
  ~ExportFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

/// A file of the current run's pattern: the one document of a format such as PDF, or sheet n
/// (from 1) of a format drawn per sheet (the PNG previews, SVG). The session is let go before
/// the drawing is waited for: a page that opens another model meanwhile is not told that the
/// session is busy.
void sendPattern(const httplib::Request& req, httplib::Response& res, Reading& s, const std::string& extension,
                 std::size_t n, bool attachment, bool thumbnail = false) {
  const RunRecord* run = s->current();
  if (!run) return refuse(res, 404, "no result yet: unfold the model first");
  if (!run->pattern) return refuse(res, 404, "this result has no pattern");
  const std::shared_ptr<job::PatternFiles> pattern = run->pattern;
  const std::string stem = stemOf(*s);
  s.lock.unlock();
  std::vector<std::string> files;
  std::string error;
  if (!(thumbnail ? pattern->pngAt(kThumbnailDpi, false, &files, &error) : pattern->files(extension, &files, &error))) {
    // A run replaced while its sheet was asked for (an edit that came quickly after it): the
    // page shows the newer one.
    if (pattern->abandoned()) return refuse(res, 410, "this result was replaced by a newer one");
    return refuse(res, 500, "the pattern could not be drawn");
  }
  const job::OutputFormat* format = job::formatOfExtension(extension);
  const bool one = format && !format->perSheet;
  if (!one && (n < 1 || n > files.size())) return refuse(res, 404, "no such sheet");
  const std::string file = one ? (files.empty() ? "" : files[0]) : files[n - 1];
  // A replaced result's files go once it is given up (Session::keepRuns): gone, they were
  // replaced, not lost.
  std::error_code ec;
  if (!file.empty() && !fs::is_regular_file(file, ec) && pattern->abandoned()) {
    return refuse(res, 410, "this result was replaced by a newer one");
  }
  sendFile(req, res, file, one ? stem + "-pattern" + extension : stem + "-sheet-" + std::to_string(n) + extension, attachment);
}

}  // namespace

void download(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  const std::string what = req.matches[1];
  if (what == "pattern.pdf") return sendPattern(req, res, s, ".pdf", 0, true);
  if (!s->current()) return refuse(res, 404, "no result yet: unfold the model first");
  const std::string stem = stemOf(*s);
  ExportFolder folder(*s);
  std::string error;
  if (what == "pieces.zip") {
    const fs::path zip = folder.path / "pieces.zip";
    const fs::path work = folder.path / "files";
    std::error_code ec;
    fs::create_directory(work, ec);
    if (!job::writeMeshZip(*s->document, s->modelFolder, stem + "-pieces", work.string(), zip.string(), &error)) {
      return refuse(res, 500, "the pieces could not be written");
    }
    return sendFile(req, res, zip.string(), stem + "-pieces.zip", true);
  }
  const std::string extension = extensionOf(what);
  const fs::path written = folder.path / ("result" + extension);
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : s->document->allObjects()) objects.push_back(o);
  bool ok = false;
  if (extension == ".glb") {
    // The images go inside: a GLB that names files of this machine is of no use elsewhere.
    formats::MeshExportOptions options;
    options.embedTextures = true;
    ok = formats::exportMesh(*s->document, objects, written.string(), &error, options);
  } else {
    ok = job::writeSceneAlone(*s->document, written.string(), &error);
  }
  if (!ok) {
    // The message names the model's own files by their names, never by the studio's folders.
    std::string said = error;
    for (const auto& m : s->document->materials()) {
      if (m->texture.empty()) continue;
      for (auto at = said.find(m->texture); at != std::string::npos; at = said.find(m->texture, at)) {
        said.replace(at, m->texture.size(), fs::path(m->texture).filename().string());
      }
    }
    const auto folderAt = said.find(s->folder.string());
    if (folderAt != std::string::npos) said = "a file of the model could not be read";
    return refuse(res, 500, "the pieces could not be written: " + said);
  }
  sendFile(req, res, written.string(), stem + (extension == ".glb" ? "-pieces" : "-scene") + extension, true);
}

void downloadProject(Context& context, const httplib::Request& req, httplib::Response& res) {
  // The model as opened is under the runs' undo steps: the session is held alone meanwhile.
  Changing s = context.sessions.change(req, res);
  if (!s) return;
  const RunRecord* run = s->current();
  if (!run) return refuse(res, 404, "no result yet: unfold the model first (a project keeps a run's settings and edits)");
  job::Unfolding unfolding;
  std::string error;
  if (!unfoldingOf(run->form, context, *s, &unfolding, &error)) return refuse(res, 500, "the run's form no longer reads: " + error);
  std::size_t undone = 0;
  while (s->document->undoCount() > 0 && s->document->undo()) ++undone;
  std::unique_ptr<scene::Document> model = scene::cloneDocument(*s->document);
  while (undone-- > 0 && s->document->redo()) {
  }
  writeMarks(*model, run->used);
  // The project enters what the run entered; the dialog keeps its own values for the rest, as
  // it did for the run.
  std::vector<pattern::Position> placed;
  if (!readPlacements(run->form.value("placements", nlohmann::json()), &placed, &error)) placed.clear();
  const job::ProjectRun project{s->modelName, unfolding.settings, run->scale, unfolding.entries, placed, run->form};
  const std::string stem = stemOf(*s);
  ExportFolder folder(*s);
  const fs::path written = folder.path / (stem + job::kProjectExtension);
  if (!job::writeProject(*model, s->modelFolder, project, written.string(), &error)) {
    return refuse(res, 500, "the project could not be written");
  }
  sendFile(req, res, written.string(), stem + job::kProjectExtension, true);
}

void sheet(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  sendPattern(req, res, s, "." + std::string(req.matches[2]), std::stoul(req.matches[1]), req.has_param("download"));
}

void thumbnail(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  sendPattern(req, res, s, ".png", std::stoul(req.matches[1]), false, true);
}

void texture(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  if (!s->document) return refuse(res, 404, "no model open");
  const std::size_t n = std::stoul(req.matches[1]);
  const auto& materials = s->document->materials();
  if (n >= materials.size() || materials[n]->texture.empty()) return refuse(res, 404, "no such texture");
  // Uploads keep only textures inside the model's folder (see upload).
  fs::path path = materials[n]->texture;
  if (path.is_relative()) path = fs::path(s->modelFolder) / path;
  sendFile(req, res, path.string(), "texture" + extensionOf(path.string()), false);
}

}  // namespace studio
