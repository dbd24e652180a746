// Opening a model: the upload saved into the session's folder and read into a document.
#include <filesystem>
#include <fstream>

#include "job/document.h"
#include "job/project.h"
#include "scene/object.h"
#include "studio/context.h"
#include "studio/http.h"
#include "studio/kept.h"
#include "studio/scene_view.h"

namespace studio {

namespace fs = std::filesystem;

const std::set<std::string> kCompanionExtensions = {".mtl", ".png", ".jpg", ".jpeg", ".bmp", ".tga",
                                                    ".tif", ".tiff", ".gif", ".bin"};

namespace {

bool save(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

/// Textures are read from the model's folder only: a model that names an image elsewhere on
/// this machine gets its colour instead.
void keepTexturesInside(scene::Document& document, const fs::path& folder) {
  std::error_code ec;
  const std::string inside = fs::weakly_canonical(folder, ec).string() + "/";
  for (const auto& m : document.materials()) {
    if (m->texture.empty()) continue;
    const fs::path texture = fs::path(m->texture).is_absolute() ? fs::path(m->texture) : folder / m->texture;
    const std::string resolved = fs::weakly_canonical(texture, ec).string();
    if (ec || resolved.rfind(inside, 0) != 0) m->texture.clear();
  }
}

}  // namespace

bool adoptModel(Session& s, const fs::path& modelPath, const std::string& name, std::string* error) {
  fs::path folder = modelPath.parent_path();
  auto document = std::make_unique<scene::Document>();
  std::string modelName = name;
  nlohmann::json form;
  int faces = 0;
  if (job::isProjectFile(modelPath.string())) {
    // A project brings its model, images and the form of its run with the edges marked; its
    // images go to a folder of their own beside it.
    const fs::path work = folder / "project";
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::create_directory(work, ec);
    job::Project project;
    if (!job::readProject(modelPath.string(), work.string(), &project, error)) {
      // The file is named by the studio's own path; the person knows it by theirs.
      if (error->rfind(modelPath.string(), 0) == 0) *error = name + error->substr(modelPath.string().size());
      return false;
    }
    document = std::move(project.model);
    folder = work;
    modelName = project.run.modelName;
    form = project.run.studio;
    for (const scene::Object* o : document->allObjects()) faces += static_cast<int>(o->polygons.size());
  } else {
    // The file is named by the studio's own path; the person knows it by theirs.
    // Images inside the file (a GLB's) are written beside it, where its textures are read from.
    if (!job::loadModel(modelPath.string(), *document, error, name, folder.string(), &faces)) return false;
  }
  keepTexturesInside(*document, folder);
  job::selectObjects(*document, {}, error);
  if (job::unfoldableObjects(*document) == 0) {
    *error = name + ": nothing to unfold (no polygon object)";
    return false;
  }
  // Edits name the edges of the objects: split into triangles as the module splits them, every
  // edge of every piece is one of them (a four-sided face's diagonal is no edge of its object).
  for (scene::Object* o : document->allObjects()) scene::triangulate(*o);
  s.setExtent(job::selectionExtent(*document));
  s.modelObjects = static_cast<int>(document->objects().size());
  // Faces as the file has them: an 18-sided cylinder has 18, however its caps are split.
  s.modelFaces = faces;
  s.modelScene = std::make_shared<Body>(text(sceneView(*document, {})), "application/json");
  s.modelEdges = ModelEdges::of(*document);
  s.openedEdits = readTagMarks(*document);
  s.document = std::move(document);
  s.modelName = modelName;
  s.modelFolder = folder.string();
  s.keepRuns(0);
  s.history.clear();
  s.historyAt = 0;
  // The form a project's run had: the page runs it again.
  s.resume = form.is_object() ? form : nlohmann::json();
  s.changed();
  return true;
}

void upload(Context& context, const httplib::Request& req, httplib::Response& res) {
  auto session = context.sessions.require(req, res);
  if (!session) return;
  if (!req.is_multipart_form_data()) return refuse(res, 400, "send the model as multipart form data (field \"files\")");
  const httplib::MultipartFormData* model = nullptr;
  std::vector<const httplib::MultipartFormData*> companions;
  for (const auto& [field, file] : req.files) {
    if (field != "files") return refuse(res, 400, "unexpected form field \"" + shown(field) + "\"");
    const std::string extension = extensionOf(file.filename);
    const bool scene = extension == ".json" || extension == job::kProjectExtension;
    if (scene || std::binary_search(context.importable.begin(), context.importable.end(), extension)) {
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

  Changing s = Sessions::change(std::move(session), res,
                                "busy: this session is running the module; open the model when it has finished");
  if (!s) return;
  const fs::path folder = s->folder / ("model-" + std::to_string(++s->uploads));
  std::error_code ec;
  fs::create_directory(folder, ec);
  if (ec) return refuse(res, 500, "cannot make a folder for the model");
  auto discard = [&] { fs::remove_all(folder, ec); };
  const fs::path modelPath = folder / ("model" + extensionOf(model->filename));
  bool saved = save(modelPath, model->content);
  for (const auto* c : companions) {
    if (fs::path(folder / c->filename) == modelPath) return discard(), refuse(res, 400, shown(c->filename) + ": this name is taken");
    saved = saved && save(folder / c->filename, c->content);
  }
  if (!saved) return discard(), refuse(res, 500, "cannot save the upload");

  std::string error;
  const std::string previous = s->modelFolder;
  if (!adoptModel(*s, modelPath, shown(model->filename), &error)) {
    discard();
    return refuse(res, 422, error);
  }
  // The new model replaces the old one and its history.
  if (!previous.empty()) fs::remove_all(fs::path(previous).filename() == "project" ? fs::path(previous).parent_path() : fs::path(previous), ec);
  saveSession(*s);
  answer(res, s->state());
}

}  // namespace studio
