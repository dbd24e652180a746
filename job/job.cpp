#include "job/job.h"

#include <algorithm>
#include <filesystem>

#include "job/document.h"
#include "job/outputs.h"

namespace job {

namespace fs = std::filesystem;

bool run(const Request& request, const Settings& settings, const ProgressHandler& progress, Report* report,
         std::string* error) {
  Progress shown;
  shown.running = true;
  auto stage = [&](const std::string& text) {
    shown.stage = text;
    shown.percent = -1;
    if (progress) progress(shown);
  };

  stage("Reading the input");
  std::vector<std::string> files = request.inputs;
  if (files.empty()) {
    std::error_code ec;
    if (!fs::exists(request.example, ec)) {
      *error = request.example + ": the bundled example is missing";
      return false;
    }
    files.push_back(request.example);
  }
  auto document = std::make_unique<scene::Document>();
  for (const std::string& file : files) {
    if (!loadModel(file, *document, error)) return false;
  }
  if (!selectObjects(*document, request.select, error)) return false;
  if (unfoldableObjects(*document) == 0) {
    *error = "nothing to unfold: no polygon object among the selected objects";
    return false;
  }
  const std::optional<double> scale = chooseScale(settings, selectionExtent(*document));
  if (!scale) {
    *error = "the selected objects have no height to scale (use --scale instead)";
    return false;
  }

  std::vector<std::string> outputs = request.outputs;
  const bool defaultOutputs = outputs.empty();
  if (defaultOutputs) {
    const std::string name = fs::path(files.front()).stem().string();
    outputs = {"foldra-out/" + name + ".json", "foldra-out/" + name + ".obj"};
  }
  Unfolding unfolding;
  unfolding.settings = settings;
  unfolding.scale = *scale;
  unfolding.pattern = std::any_of(outputs.begin(), outputs.end(),
                                  [](const std::string& o) { return outputKind(o) == OutputKind::Pattern; });

  stage("Loading the module");
  Module module;
  if (!module.load(request.module, error)) return false;
  stage("Unfolding");
  RunResult result;
  // Relative texture paths of the model are relative to the first input's folder.
  const std::string textureFolder = fs::absolute(fs::path(files.front())).parent_path().string();
  module.unfold(document, unfolding, textureFolder, progress, &result);
  switch (result.outcome) {
    case RunResult::Outcome::Ran:
      break;
    case RunResult::Outcome::Unavailable:
      *error = "the module's command is not available for the selected objects";
      return false;
    case RunResult::Outcome::Refused:
    case RunResult::Outcome::Incomplete:
      *error = request.module + ": the run did not complete (" +
               (result.refusal.empty() ? std::string("the dialog did not confirm") : result.refusal) + ")";
      return false;
  }
  if (unfolding.pattern && !result.patternProblem.empty()) {
    *error = result.patternProblem;
    return false;
  }
  report->summary = result.summary;

  if (defaultOutputs) {
    std::error_code ec;
    fs::create_directories("foldra-out", ec);
  }
  stage(outputs.size() == 1 ? "Writing " + outputs[0] : "Writing " + std::to_string(outputs.size()) + " files");
  Written written;
  if (!writeOutputs(*document, result.pattern, patternOptions(settings, *scale), outputs, &written, error)) return false;
  report->written = std::move(written.files);
  report->warnings = std::move(written.warnings);
  return true;
}

}  // namespace job
