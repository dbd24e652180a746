// Fuzz target: the project reader on arbitrary bytes. It must answer with a project or with one
// line that names the file, and leave nothing in its work folder when it refuses; a project it
// reads must be sound (finite points, point indices in range, settings the program accepts, a
// scale greater than 0), and written again it must read back to the same model.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/scene_json.h"
#include "job/project.h"
#include "job/settings.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void failure(const std::string& what) {
  std::fprintf(stderr, "fuzz_project: %s\n", what.c_str());
  std::abort();
}

const fs::path& scratch() {
  static const fs::path base = fs::temp_directory_path() / ("foldra-fuzz-project-" + std::to_string(getpid()));
  return base;
}

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

void checkModel(const scene::Document& model) {
  for (const scene::Object* o : model.allObjects()) {
    const auto count = static_cast<std::int32_t>(o->points.size());
    for (const scene::Point& p : o->points) {
      if (!finite(p)) failure("a point of the project's model is not finite");
    }
    for (const scene::Polygon& q : o->polygons) {
      for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
        if (i < 0 || i >= count) failure("a polygon of the project's model names no point");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::error_code ec;
  fs::remove_all(scratch(), ec);
  fs::create_directories(scratch() / "work", ec);
  const std::string path = (scratch() / "input.foldra").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  job::Project project;
  std::string error;
  if (!job::readProject(path, (scratch() / "work").string(), &project, &error)) {
    if (error.rfind(path, 0) != 0) failure("a refusal does not start with the file's name: " + error);
    if (error.find('\n') != std::string::npos) failure("a refusal is more than one line");
    if (project.model) failure("a refused project left a model");
    if (!fs::is_empty(scratch() / "work", ec)) failure("a refused project left files in its work folder");
    fs::remove_all(scratch(), ec);
    return 0;
  }
  if (!project.model) failure("a project was read without a model");
  checkModel(*project.model);
  if (const std::string problem = job::settingsProblem(project.run.settings); !problem.empty()) {
    failure("a project was read with a setting the program refuses: " + problem);
  }
  if (!(project.run.scale > 0) || !std::isfinite(project.run.scale)) failure("a project was read with a scale that is not a number above 0");
  for (const auto& p : project.run.placements) {
    if (!std::isfinite(p.rotation) || !std::isfinite(p.offset.x) || !std::isfinite(p.offset.y)) failure("a piece's place is not finite");
  }
  // Written again, it reads back to the same model.
  const std::string again = (scratch() / "again.foldra").string();
  if (!job::writeProject(*project.model, project.textureFolder, project.run, again, &error)) {
    failure("a project that was read cannot be written again: " + error);
  }
  fs::create_directories(scratch() / "work2", ec);
  job::Project back;
  if (!job::readProject(again, (scratch() / "work2").string(), &back, &error)) failure("a project written again does not read back: " + error);
  if (formats::sceneToJson(*back.model) != formats::sceneToJson(*project.model)) failure("a project written again reads back another model");
  fs::remove_all(scratch(), ec);
  return 0;
}
