#include "job/job.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "job/document.h"
#include "job/outputs.h"
#include "job/project.h"

namespace job {

namespace fs = std::filesystem;

namespace {

/// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() = default;
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  bool make(std::string* error) {
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    std::string name = (folder / "foldra-project-XXXXXX").string();
    if (ec || !mkdtemp(name.data())) {
      *error = folder.string() + ": cannot make a folder for the project's images";
      return false;
    }
    path_ = name;
    return true;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Scales tried at most by each phase of the search for a number of sheets.
constexpr int kFitSteps = 12;

/// The sheets the pattern of a run at `scale` takes, on a copy of the document; -1 with *error
/// set when the run fails.
int sheetsAt(Module& module, const scene::Document& document, Unfolding unfolding, double scale,
             const std::string& textureFolder, std::string* error) {
  auto copy = scene::cloneDocument(document);
  unfolding.scale = scale;
  RunResult result;
  module.unfold(copy, unfolding, textureFolder, {}, &result);
  if (result.outcome != RunResult::Outcome::Ran) {
    *error = module.path() + ": the run at scale " + typed(scale) + " did not complete" +
             (result.refusal.empty() ? std::string() : " (" + result.refusal + ")");
    return -1;
  }
  if (!result.patternProblem.empty()) {
    *error = result.patternProblem;
    return -1;
  }
  if (result.pattern.pieces.empty()) return 0;
  return pattern::packPattern(result.pattern, patternOptions(unfolding.settings, scale)).sheets;
}

/// The largest scale at which the pattern takes at most `wanted` sheets: first stepping from
/// `start` until one scale fits and one does not, then halving the step between them. 0 with
/// *error set when a run fails or no scale tried fits.
double fitScale(Module& module, const scene::Document& document, const Unfolding& unfolding, double start, int wanted,
                const std::string& textureFolder, std::string* error) {
  double fits = 0, tooLarge = 0;
  double scale = start;
  for (int step = 0; step < kFitSteps && (fits == 0 || tooLarge == 0); ++step) {
    const int sheets = sheetsAt(module, document, unfolding, scale, textureFolder, error);
    if (sheets < 0) return 0;
    // Sheets grow with the area, the square of the scale; the factor aims a little past the
    // boundary so that it is crossed.
    const double aim = std::sqrt(static_cast<double>(wanted) / std::max(sheets, 1));
    if (sheets <= wanted) {
      fits = std::max(fits, scale);
      scale *= std::max(1.15, 1.1 * aim);
    } else {
      tooLarge = tooLarge == 0 ? scale : std::min(tooLarge, scale);
      scale *= std::min(0.87, 0.9 * aim);
    }
  }
  if (fits == 0) {
    *error = "the pattern does not fit " + std::to_string(wanted) + " sheet" + (wanted == 1 ? "" : "s") +
             " at any scale tried (down to " + typed(scale) + " mm per unit)";
    return 0;
  }
  for (int step = 0; tooLarge > 0 && step < kFitSteps && tooLarge / fits > 1.01; ++step) {
    const double middle = std::sqrt(fits * tooLarge);
    const int sheets = sheetsAt(module, document, unfolding, middle, textureFolder, error);
    if (sheets < 0) return 0;
    (sheets <= wanted ? fits : tooLarge) = middle;
  }
  // Three significant digits, rounded down: a scale a person can type again. The rounded scale
  // is smaller, and a smaller scale takes no more sheets.
  const double unit = std::pow(10.0, std::floor(std::log10(fits)) - 2);
  return std::floor(fits / unit) * unit;
}

}  // namespace

std::string sheetsFill(const std::vector<double>& fill) {
  const auto percent = [](double f) { return std::to_string(std::lround(100 * f)); };
  const std::size_t n = fill.size();
  std::string text = std::to_string(n) + (n == 1 ? " sheet, " : " sheets, ");
  if (n <= 3) {
    for (std::size_t i = 0; i < n; ++i) text += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + percent(fill[i]) + " %";
  } else {
    const auto [least, most] = std::minmax_element(fill.begin(), fill.end());
    text += percent(*least) == percent(*most) ? percent(*least) + " %" : percent(*least) + "\u2013" + percent(*most) + " %";
  }
  return text + " full";
}

bool run(const Request& request, const Settings& given, const ProgressHandler& progress, Report* report,
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
  // A project brings its own model, settings, scale and entries.
  const auto project = std::find_if(files.begin(), files.end(), [](const std::string& f) { return isProjectFile(f); });
  if (project != files.end() && files.size() > 1) {
    *error = *project + ": a project is read alone, without other model files";
    return false;
  }
  Settings settings = given;
  unsigned entries = request.entries;
  std::optional<double> projectScale;
  std::vector<pattern::Position> placements;
  // The model's name titles the pattern; relative texture paths of the model are relative to
  // the first input's folder.
  std::string modelName = fs::path(files.front()).filename().string();
  std::string textureFolder = fs::absolute(fs::path(files.front())).parent_path().string();
  // A project's images are extracted here for the run.
  ScratchFolder scratch;
  auto document = std::make_unique<scene::Document>();
  if (project != files.end()) {
    Project opened;
    if (!scratch.make(error) || !readProject(*project, scratch.path(), &opened, error)) return false;
    document = std::move(opened.model);
    textureFolder = opened.textureFolder;
    modelName = opened.run.modelName;
    settings = opened.run.settings;
    entries = opened.run.entries;
    projectScale = opened.run.scale;
    placements = opened.run.placements;
    // The project keeps the selection its run had.
    if (!request.select.empty() && !selectObjects(*document, request.select, error)) return false;
  } else {
    for (const std::string& file : files) {
      if (!loadModel(file, *document, error)) return false;
    }
    if (!selectObjects(*document, request.select, error)) return false;
  }
  report->settings = settings;
  if (unfoldableObjects(*document) == 0) {
    *error = "nothing to unfold: no polygon object among the selected objects";
    return false;
  }
  report->extent = selectionExtent(*document);
  const double medianModelEdge = medianEdge(*document);
  std::optional<double> scale = projectScale ? projectScale : chooseScale(settings, report->extent);
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
  unfolding.entries = entries;
  unfolding.pattern = std::any_of(outputs.begin(), outputs.end(),
                                  [](const std::string& o) { return outputKind(o) == OutputKind::Pattern; });
  // A project output holds the model as the run found it.
  std::unique_ptr<scene::Document> before;
  if (std::any_of(outputs.begin(), outputs.end(), [](const std::string& o) { return outputKind(o) == OutputKind::Project; })) {
    before = scene::cloneDocument(*document);
  }

  stage("Loading the module");
  Module module;
  if (!module.load(request.module, error)) return false;
  if (settings.fitSheets && unfolding.pattern && !projectScale) {
    stage("Fitting the model to " + std::to_string(*settings.fitSheets) + " sheets");
    *scale = fitScale(module, *document, unfolding, *scale, *settings.fitSheets, textureFolder, error);
    if (*scale == 0) return false;
    unfolding.scale = *scale;
  }
  report->scale = *scale;
  stage("Unfolding");
  RunResult result;
  module.unfold(document, unfolding, textureFolder, progress, &result);
  switch (result.outcome) {
    case RunResult::Outcome::Ran:
      break;
    case RunResult::Outcome::Unavailable:
      *error = "the module's command is not available for the selected objects";
      return false;
    case RunResult::Outcome::Broken:
      *error = "the run was broken off";
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
  pattern::PatternOptions drawn = patternOptions(settings, *scale, fs::path(modelName).stem().string());
  drawn.placed = placements;
  // The pattern's own stages show on the bar while the other files are written beside it.
  if (progress) {
    drawn.progress = [&](const std::string& text, int percent) {
      shown.stage = text;
      shown.percent = percent;
      progress(shown);
    };
  }
  ProjectSource source{before.get(), textureFolder, ProjectRun{modelName, settings, *scale, entries, placements, nullptr}};
  if (!writeOutputs(*document, result.pattern, drawn, outputs, &written, error, &source)) {
    return false;
  }
  report->written = std::move(written.files);
  report->warnings = std::move(written.warnings);
  const std::string shortEdges = shortEdgesWarning(medianModelEdge, *scale, report->extent[1]);
  if (!shortEdges.empty()) report->warnings.push_back(shortEdges);
  if (written.packing) {
    report->sheetFill = written.packing->fill;
    if (written.packing->sheets > kManySheets) {
      report->warnings.push_back("the pattern needs " + std::to_string(written.packing->sheets) +
                                 " sheets; --fit-sheets N makes the model as large as fits N sheets");
    }
  }
  return true;
}

}  // namespace job
