#include "app/run.h"

#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/pattern_input.h"
#include "app/progress.h"
#include "formats/files.h"
#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "host/host.h"
#include "host/run_state.h"
#include "intake/intake.h"
#include "runtime/host.h"
#include "shell/execute.h"
#include "shell/plugin.h"

namespace app {

namespace fs = std::filesystem;

std::string outputKind(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".json") return "scene";
  if (formats::canExportMesh(path)) return "mesh";
  if (ext == ".pdf" || ext == ".svg" || ext == ".png") return "pattern";
  return "";
}

namespace {

bool fail(Failure* failure, std::string message, int code = 1) {
  failure->exitCode = code;
  failure->message = std::move(message);
  return false;
}

/// A number as a person types it into the dialog: the shortest text that reads back exactly.
std::string typed(double value) {
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

struct Inputs {
  std::unique_ptr<scene::Document> document = std::make_unique<scene::Document>();
  /// Name of the outputs written by default, and the folder relative texture paths start from.
  std::string name;
  std::string folder;
};

bool loadInputs(const Options& options, const std::string& programFolder, Inputs* inputs, Failure* failure) {
  std::vector<std::string> files = options.inputs;
  if (files.empty()) {
    const std::string example = (fs::path(programFolder) / "examples" / "house.obj").string();
    if (!fs::exists(example)) return fail(failure, example + ": the bundled example is missing");
    files.push_back(example);
  }
  inputs->name = fs::path(files.front()).stem().string();
  inputs->folder = fs::absolute(fs::path(files.front())).parent_path().string();
  for (const std::string& file : files) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return fail(failure, file + ": no such file");
    if (!fs::is_regular_file(file, ec)) return fail(failure, file + ": not a file");
    if (fs::file_size(file, ec) == 0) return fail(failure, file + ": the file is empty");
    std::string error;
    if (outputKind(file) == "scene") {
      auto scene = formats::loadScene(file, &error);
      if (!scene) return fail(failure, error);
      scene::moveContent(*scene, *inputs->document);
    } else if (!formats::importMesh(file, *inputs->document, &error)) {
      return fail(failure, error);
    }
  }
  return true;
}

bool selectObjects(scene::Document& document, const std::vector<std::string>& names, Failure* failure) {
  document.deselectAll();
  if (names.empty()) {
    for (const auto& o : document.objects()) o->selected = true;
    return true;
  }
  for (const std::string& name : names) {
    bool found = false;
    for (scene::Object* o : document.allObjects()) {
      if (o->name == name) o->selected = found = true;
    }
    if (!found) return fail(failure, "no object named \"" + name + "\" in the input");
  }
  return true;
}

/// The selected objects that the module will unfold: top-level ones with a polygon form.
int unfoldableObjects(const scene::Document& document) {
  int count = 0;
  for (const auto& o : document.objects()) {
    const bool polygons = o->type != sdk::kObjectPolygon || !o->polygons.empty();
    if (o->selected && o->convertible() && polygons) ++count;
  }
  return count;
}

}  // namespace

std::array<double, 3> selectionExtent(const scene::Document& document) {
  auto copy = scene::polygonForm(*scene::copySelection(document, document.activeObjects(true)));
  double low[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, high[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
  for (const scene::Object* o : copy->allObjects()) {
    for (const scene::Point& p : o->points) {
      const double v[3] = {p.x, p.y, p.z};
      for (int i = 0; i < 3; ++i) {
        low[i] = std::min(low[i], v[i]);
        high[i] = std::max(high[i], v[i]);
      }
    }
  }
  std::array<double, 3> extent{0, 0, 0};
  for (std::size_t i = 0; i < 3; ++i) extent[i] = high[i] >= low[i] ? high[i] - low[i] : 0;
  return extent;
}

namespace {

bool chooseScale(const Options& options, const scene::Document& document, double* scale, Failure* failure) {
  if (options.scale) {
    *scale = *options.scale;
    return true;
  }
  const auto extent = selectionExtent(document);
  if (options.height) {
    if (!(extent[1] > 0)) return fail(failure, "the selected objects have no height to scale (use --scale instead)");
    *scale = *options.height / extent[1];
    return true;
  }
  const double largest = std::max({extent[0], extent[1], extent[2]});
  *scale = largest > 0 ? kDefaultSizeMm / largest : 1.0;
  return true;
}

}  // namespace

DialogSettings dialogSettings(const Options& options, double scale) {
  DialogSettings v;
  bool pattern = false;
  for (const auto& o : options.outputs) pattern = pattern || outputKind(o) == "pattern";
  v.layout = options.layout;
  v.keepOriginals = options.keepOriginals;
  v.materials = options.materials;
  v.tabs = options.tabs;
  v.pageLimit = options.pageGiven || pattern;
  v.pageWidth = typed((options.pageWidth - 2 * options.margin) / scale);
  v.pageHeight = typed((options.pageHeight - 2 * options.margin) / scale);
  v.tabWidth = typed(options.tabWidth / scale);
  return v;
}

runtime::DialogScript dialogScript(const DialogSettings& v) {
  using Step = runtime::DialogStep;
  auto set = [](int gadget, std::string value) { return Step{Step::Kind::Set, gadget, std::move(value)}; };
  return {set(foldra::kGadgetLayout, std::to_string(foldra::kLayoutChoiceBase + static_cast<int>(v.layout))),
          set(foldra::kGadgetOriginals, v.keepOriginals ? "0" : "1"),
          set(foldra::kGadgetMaterials, v.materials ? "1" : "0"),
          set(foldra::kGadgetPageLimit, v.pageLimit ? "1" : "0"),
          set(foldra::kGadgetPageWidth, v.pageWidth),
          set(foldra::kGadgetPageHeight, v.pageHeight),
          set(foldra::kGadgetTabs, v.tabs ? "1" : "0"),
          set(foldra::kGadgetTabWidth, v.tabWidth),
          Step{Step::Kind::Press, foldra::kButtonConfirm, ""}};
}

bool settingsFromGadgets(const std::map<std::int32_t, runtime::Gadget>& gadgets, DialogSettings* settings) {
  auto find = [&](std::int32_t id) -> const runtime::Gadget* {
    auto it = gadgets.find(id);
    return it == gadgets.end() ? nullptr : &it->second;
  };
  const runtime::Gadget* layout = find(foldra::kGadgetLayout);
  const runtime::Gadget* originals = find(foldra::kGadgetOriginals);
  const runtime::Gadget* materials = find(foldra::kGadgetMaterials);
  const runtime::Gadget* pageLimit = find(foldra::kGadgetPageLimit);
  const runtime::Gadget* pageWidth = find(foldra::kGadgetPageWidth);
  const runtime::Gadget* pageHeight = find(foldra::kGadgetPageHeight);
  const runtime::Gadget* tabs = find(foldra::kGadgetTabs);
  const runtime::Gadget* tabWidth = find(foldra::kGadgetTabWidth);
  if (!layout || !originals || !materials || !pageLimit || !pageWidth || !pageHeight || !tabs || !tabWidth) return false;
  const int mode = layout->number - foldra::kLayoutChoiceBase;
  if (mode < 0 || mode > 2) return false;
  settings->layout = static_cast<Layout>(mode);
  settings->keepOriginals = !originals->checked;
  settings->materials = materials->checked;
  settings->pageLimit = pageLimit->checked;
  settings->tabs = tabs->checked;
  settings->pageWidth = pageWidth->text;
  settings->pageHeight = pageHeight->text;
  settings->tabWidth = tabWidth->text;
  return true;
}

pattern::PatternInput unfoldForPattern(const scene::Document& document, const DialogSettings& v,
                                       const std::string& moduleFolder, const std::string& textureFolder,
                                       const std::function<void(int, const std::string&)>& status) {
  runtime::Host host;
  host.setActiveDocument(scene::cloneDocument(document));
  if (status) host.setStatusHandler(status);
  sdk::HostInterface& operations = host.interfaceFor(moduleFolder);
  foldra::host::install(&operations);
  // The values the dialog reads from the same texts.
  bool error = false;
  foldra::Settings& s = foldra::settings;
  s = foldra::Settings{};
  s.Originalflag = !v.keepOriginals;
  s.Materialflag = v.materials;
  s.Seitenflag = v.pageLimit;
  s.Laschenflag = v.tabs;
  s.Seitenbreite = operations.textToReal(v.pageWidth, 10, &error);
  s.Seitenhoehe = operations.textToReal(v.pageHeight, 10, &error);
  s.Laschenbreite = operations.textToReal(v.tabWidth, 10, &error);
  s.AlsAnimation = static_cast<int>(v.layout);
  foldra::run.activeDocument = operations.activeDocument();
  foldra::unfoldSelection();
  pattern::PatternInput input = patternFromRun(textureFolder);
  foldra::releaseCopyDocuments();
  foldra::clearContainers();
  foldra::clearTriangleLists();
  foldra::host::install(nullptr);
  return input;
}

namespace {

/// Output files written into a hidden folder beside their destination, and moved into place
/// together once every one of them is complete.
class Outputs {
 public:
  ~Outputs() { discard(); }
  /// Where to write the file that is to become `path`; empty with *failure set when the folder
  /// cannot be used.
  std::string stage(const std::string& path, Failure* failure) {
    const fs::path destination = fs::absolute(path).parent_path();
    std::error_code ec;
    if (!fs::is_directory(destination, ec)) {
      fail(failure, destination.string() + ": no such folder (for " + path + ")");
      return "";
    }
    auto it = folders_.find(destination.string());
    if (it == folders_.end()) {
      const fs::path temporary = destination / (".foldra-" + std::to_string(getpid()));
      fs::remove_all(temporary, ec);
      if (!fs::create_directory(temporary, ec)) {
        fail(failure, destination.string() + ": cannot be written");
        return "";
      }
      it = folders_.emplace(destination.string(), temporary.string()).first;
    }
    return (fs::path(it->second) / fs::path(path).filename()).string();
  }
  /// Moves every staged file into place, all or nothing; the names of the files written.
  bool commit(std::vector<std::string>* written, Failure* failure) {
    std::vector<std::pair<std::string, std::string>> moves;
    for (const auto& [destination, temporary] : folders_) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(temporary)) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) moves.emplace_back(file.string(), (fs::path(destination) / file.filename()).string());
    }
    std::string error;
    if (!formats::moveAllOrNothing(moves, &error)) return fail(failure, error);
    for (const auto& [from, to] : moves) written->push_back(to);
    discard();
    return true;
  }

 private:
  void discard() {
    for (const auto& [destination, temporary] : folders_) {
      std::error_code ec;
      fs::remove_all(temporary, ec);
    }
    folders_.clear();
  }
  std::map<std::string, std::string> folders_;  // destination folder -> staging folder
};

/// More sheets than this are worth a warning: the model is probably larger than meant.
constexpr int kManySheets = 20;
/// Scales tried at most by each phase of the search for --fit-sheets.
constexpr int kFitSteps = 12;

pattern::PatternOptions patternOptionsFor(const Options& options, double scale, const std::string& name) {
  pattern::PatternOptions p;
  p.pageWidth = options.pageWidth;
  p.pageHeight = options.pageHeight;
  p.margin = options.margin;
  p.scale = scale;
  p.dpi = options.dpi;
  p.flatFoldDegrees = options.flatFold;
  p.fill = options.fill;
  p.labelSize = options.labelSize;
  p.overview = options.overview;
  p.title = name;
  return p;
}

/// The largest scale at which the pattern takes at most options.fitSheets sheets. The pieces
/// depend on the scale (the page limit is a length in model units), so every scale tried is
/// unfolded and packed anew: first stepping from `start` until one scale fits and one does not,
/// then halving the step between them.
double fitScale(const Options& options, const scene::Document& document, double start, const std::string& moduleFolder,
                const std::string& textureFolder) {
  const int wanted = *options.fitSheets;
  auto sheetsAt = [&](double scale) {
    const pattern::PatternInput input =
        unfoldForPattern(document, dialogSettings(options, scale), moduleFolder, textureFolder, nullptr);
    if (input.pieces.empty()) return 0;
    return pattern::packPattern(input, patternOptionsFor(options, scale, "")).sheets;
  };
  double fits = 0, tooLarge = 0;
  double scale = start;
  for (int step = 0; step < kFitSteps && (fits == 0 || tooLarge == 0); ++step) {
    const int sheets = sheetsAt(scale);
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
  if (fits == 0) return scale;
  for (int step = 0; tooLarge > 0 && step < kFitSteps && tooLarge / fits > 1.01; ++step) {
    const double middle = std::sqrt(fits * tooLarge);
    (sheetsAt(middle) <= wanted ? fits : tooLarge) = middle;
  }
  // Three significant digits, rounded down: a scale a person can type again.
  const double unit = std::pow(10.0, std::floor(std::log10(fits)) - 2);
  return std::floor(fits / unit) * unit;
}


struct Summary {
  int objects = 0, triangles = 0, pieces = 0, tabs = 0;
};

}  // namespace

bool run(const Options& options, const std::string& programFolder, Failure* failure) {
  const auto start = std::chrono::steady_clock::now();
  Progress progress(!options.quiet && isatty(fileno(stderr)));

  progress.stage("Reading the input");
  Inputs inputs;
  if (!loadInputs(options, programFolder, &inputs, failure)) return false;
  scene::Document& document = *inputs.document;
  if (!selectObjects(document, options.select, failure)) return false;
  Summary summary;
  summary.objects = unfoldableObjects(document);
  if (summary.objects == 0) return fail(failure, "nothing to unfold: no polygon object among the selected objects");
  double scale = 1;
  if (!chooseScale(options, document, &scale, failure)) return false;

  std::vector<std::string> outputs = options.outputs;
  bool defaultOutputs = false;
  if (outputs.empty()) {
    outputs = {"foldra-out/" + inputs.name + ".json", "foldra-out/" + inputs.name + ".obj"};
    defaultOutputs = true;
  }
  const bool wantPattern =
      std::any_of(outputs.begin(), outputs.end(), [](const std::string& o) { return outputKind(o) == "pattern"; });

  const std::string modulePath =
      options.module.empty() ? (fs::path(programFolder) / "Foldra_C4d.cdl").string() : options.module;
  const std::string moduleFolder = fs::absolute(modulePath).parent_path().string();
  std::array<double, 3> fitted{0, 0, 0};
  if (options.fitSheets) {
    progress.stage("Fitting the model to " + std::to_string(*options.fitSheets) + " sheets");
    scale = fitScale(options, document, scale, moduleFolder, inputs.folder);
    fitted = selectionExtent(document);
  }
  const DialogSettings values = dialogSettings(options, scale);
  pattern::PatternInput patternInput;
  if (wantPattern) {
    progress.stage("Unfolding for the pattern");
    patternInput = unfoldForPattern(document, values, moduleFolder, inputs.folder, [&](int percent, const std::string& text) {
      if (percent >= 0) progress.bar(percent, text + " (pattern)");
    });
  }

  progress.stage("Loading the module");
  runtime::Host host;
  host.setStatusHandler([&](int percent, const std::string& text) {
    if (percent >= 0) progress.bar(percent, text);
  });
  std::set<const scene::Object*> before;
  for (const auto& o : document.objects()) before.insert(o.get());
  host.setActiveDocument(std::move(inputs.document));
  std::string error;
  if (!host.loadModule(modulePath, &error)) return fail(failure, error);
  if (!host.findCommand(foldra::kPluginId)) return fail(failure, modulePath + ": registered no paper model command");
  if (host.commandState(foldra::kPluginId) != sdk::kCommandEnabled) {
    return fail(failure, "the module's command is not available for the selected objects");
  }
  progress.stage("Unfolding");
  host.setDialogScript(dialogScript(values));
  const bool ran = host.runCommand(foldra::kPluginId);
  if (!ran || !host.lastDialog().error.empty() || !host.lastDialog().closedByDialog) {
    const std::string why = host.lastDialog().error.empty() ? "the dialog did not confirm" : host.lastDialog().error;
    return fail(failure, modulePath + ": the run did not complete (" + why + ")");
  }
  scene::Document& result = host.activeDocument();
  for (const auto& o : result.objects()) {
    if (before.count(o.get())) continue;
    ++summary.pieces;
    for (const auto& p : o->polygons) (scene::isTriangle(p) ? summary.triangles : summary.tabs) += 1;
  }
  if (wantPattern && static_cast<int>(patternInput.pieces.size()) != summary.pieces) {
    return fail(failure, "the pattern's unfolding gave " + std::to_string(patternInput.pieces.size()) +
                             " pieces where the module made " + std::to_string(summary.pieces) +
                             " (is --module a different build of the module?)");
  }

  if (defaultOutputs) {
    std::error_code ec;
    fs::create_directories("foldra-out", ec);
  }
  Outputs staged;
  std::vector<std::string> warnings;
  // Every output reads the finished document and writes a file of its own: they are written
  // side by side, each in a thread of its own, and reported in the order they were asked for.
  struct Written {
    std::string path;
    bool ok = true;
    std::string error;
    pattern::PatternReport report;
  };
  std::vector<Written> results(outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    results[i].path = staged.stage(outputs[i], failure);
    if (results[i].path.empty()) return false;
  }
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : result.allObjects()) objects.push_back(o);
  // The pattern is packed and drawn once, then written into every pattern file asked for.
  const pattern::PatternOptions patternOptions = patternOptionsFor(options, scale, inputs.name);
  std::vector<std::string> patternPaths;
  std::size_t firstPattern = outputs.size();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (outputKind(outputs[i]) != "pattern") continue;
    patternPaths.push_back(results[i].path);
    firstPattern = std::min(firstPattern, i);
  }
  progress.stage(outputs.size() == 1 ? "Writing " + outputs[0] : "Writing " + std::to_string(outputs.size()) + " files");
  auto write = [&](std::size_t i) {
    Written& w = results[i];
    const std::string kind = outputKind(outputs[i]);
    if (kind == "scene") {
      w.ok = formats::saveScene(result, w.path, &w.error);
    } else if (kind == "mesh") {
      w.ok = formats::exportMesh(result, objects, w.path, &w.error);
    } else if (i == firstPattern) {
      const pattern::Packing packing = pattern::packPattern(patternInput, patternOptions);
      w.ok = pattern::writePattern(patternInput, patternOptions, packing, patternPaths, &w.report, &w.error);
    }
  };
  {
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < outputs.size(); ++i) {
      if (outputKind(outputs[i]) != "pattern" || i == firstPattern) threads.emplace_back(write, i);
    }
    if (!outputs.empty()) write(0);
    for (std::thread& t : threads) t.join();
  }
  if (firstPattern < outputs.size() && !results[firstPattern].ok) {
    // Errors name a staging path; the user knows the file by the name they gave.
    std::string message = results[firstPattern].error;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      const auto at = message.find(results[i].path);
      if (at != std::string::npos) message.replace(at, results[i].path.size(), outputs[i]);
    }
    return fail(failure, message);
  }
  if (firstPattern < outputs.size() && results[firstPattern].report.packing.sheets > kManySheets) {
    warnings.push_back("the pattern needs " + std::to_string(results[firstPattern].report.packing.sheets) +
                       " sheets; --fit-sheets N makes the model as large as fits N sheets");
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const Written& w = results[i];
    if (!w.ok) {
      // Errors name the staging path; the user knows the file by the name they gave.
      std::string message = w.error;
      const auto at = message.find(w.path);
      if (at != std::string::npos) message.replace(at, w.path.size(), outputs[i]);
      return fail(failure, message);
    }
    // Several pattern outputs share one layout: each warning is said once.
    for (const std::string& warning : w.report.warnings) {
      if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) warnings.push_back(warning);
    }
  }
  std::vector<std::string> written;
  if (!staged.commit(&written, failure)) return false;
  progress.clear();
  if (options.fitSheets && !options.quiet) {
    std::printf("foldra: to fit %d sheet%s the model is %.0f x %.0f x %.0f mm (--scale %s)\n", *options.fitSheets,
                *options.fitSheets == 1 ? "" : "s", fitted[0] * scale, fitted[1] * scale, fitted[2] * scale, typed(scale).c_str());
  }
  if (firstPattern < outputs.size() && !options.quiet) {
    // How full the sheets are, so that a scale or page size that wastes paper shows.
    const pattern::Packing& packing = results[firstPattern].report.packing;
    std::string used;
    for (const double f : packing.fill) used += (used.empty() ? "" : ", ") + std::to_string(std::lround(100 * f)) + " %";
    std::printf("foldra: pattern on %d sheet%s, covering %s of the printable area\n", packing.sheets,
                packing.sheets == 1 ? "" : "s", used.c_str());
  }
  for (const std::string& w : warnings) std::fprintf(stderr, "foldra: warning: %s\n", w.c_str());
  if (!options.quiet) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("foldra: %d object%s, %d triangles, %d piece%s, %d glue tabs, %.2f s; wrote %s\n", summary.objects,
                summary.objects == 1 ? "" : "s", summary.triangles, summary.pieces, summary.pieces == 1 ? "" : "s",
                summary.tabs, seconds, [&] {
                  std::string all;
                  for (const auto& w : written) all += (all.empty() ? "" : ", ") + fs::relative(w).string();
                  return all;
                }().c_str());
  }
  return true;
}

}  // namespace app
