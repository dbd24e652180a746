#include "app/options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "app/version.h"
#include "job/methods.h"
#include "job/output_formats.h"
#include "job/project.h"

namespace app {

namespace {

/// Reads "WIDTHxHEIGHT" in millimetres.
bool parsePage(const std::string& text, double* width, double* height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  try {
    std::size_t used = 0;
    *width = std::stod(text.substr(0, x), &used);
    if (used != x) return false;
    const std::string rest = text.substr(x + 1);
    *height = std::stod(rest, &used);
    if (used != rest.size()) return false;
  } catch (const std::exception&) {
    return false;
  }
  return std::isfinite(*width) && std::isfinite(*height) && *width > 0 && *height > 0;
}

const CLI::Validator positive = CLI::Validator(
    [](std::string& text) -> std::string {
      try {
        std::size_t used = 0;
        const double v = std::stod(text, &used);
        if (used == text.size() && std::isfinite(v) && v > 0) return "";
      } catch (const std::exception&) {
      }
      return "expected a number greater than 0, not \"" + text + "\"";
    },
    "NUMBER > 0");

const CLI::Validator notNegative = CLI::Validator(
    [](std::string& text) -> std::string {
      try {
        std::size_t used = 0;
        const double v = std::stod(text, &used);
        if (used == text.size() && std::isfinite(v) && v >= 0) return "";
      } catch (const std::exception&) {
      }
      return "expected a number of 0 or more, not \"" + text + "\"";
    },
    "NUMBER >= 0");

const std::map<std::string, job::Layout> kLayouts = {
    {"row", job::Layout::Row}, {"animation", job::Layout::Animation}, {"stack", job::Layout::Stack}};

/// Items as a sentence lists them: "a, b or c".
std::string inWords(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
  }
  return text;
}

/// The extensions of the output formats of one kind; Unknown: of every kind.
std::vector<std::string> extensions(job::OutputKind kind) {
  std::vector<std::string> out;
  for (const job::OutputFormat& f : job::outputFormats()) {
    if (kind == job::OutputKind::Unknown || f.kind == kind) out.emplace_back(f.extension);
  }
  return out;
}

/// What each kind of output is, as `-o`'s help says it.
const char* kindWords(job::OutputKind kind) {
  switch (kind) {
    case job::OutputKind::Scene: return "the scene after the run";
    case job::OutputKind::Mesh: return "the pieces as a mesh";
    case job::OutputKind::Pattern: return "the printable pattern";
    case job::OutputKind::Project: return "the project: the model before the run with this run's settings";
    case job::OutputKind::Unknown: break;
  }
  return "";
}

/// `-o`'s help: each kind's extensions, then what they hold.
std::string outputHelp() {
  std::string text;
  for (const job::OutputKind kind :
       {job::OutputKind::Scene, job::OutputKind::Mesh, job::OutputKind::Pattern, job::OutputKind::Project}) {
    std::string list;
    for (const std::string& e : extensions(kind)) list += (list.empty() ? "" : " ") + e;
    text += (text.empty() ? "" : ", ") + list + " (" + kindWords(kind) + ")";
  }
  return "Output file, repeatable; the extension decides: " + text +
         ". None: foldra-out/NAME.json and foldra-out/NAME.obj";
}

/// `--unfold`'s help: every method with what it makes.
std::string methodHelp() {
  std::vector<std::string> methods;
  for (const job::Method& m : job::kMethods) methods.push_back(std::string(m.name) + " (" + std::string(m.description) + ")");
  return "How to cut the pieces: " + inWords(methods);
}

/// `--tab-depth`'s help, with each method's own depth.
std::string tabDepthHelp() {
  std::string depths;
  for (const job::Method& m : job::kMethods) {
    depths += (depths.empty() ? "" : ", ") + job::typed(m.tabDepth) + " for " + std::string(m.name);
  }
  return "How far a glue tab reaches out from its edge at most, millimetres on paper (default: " + depths + ")";
}

/// Options that change neither the pieces nor the pattern: a project's run takes them.
const std::set<std::string> kBesideAProject = {"INPUT", "--output", "--select", "--module", "--quiet"};

/// What is wrong with a project given on the command line: other model files beside it, or
/// options that would change its settings. "" when nothing is.
std::string projectProblem(const CommandLine& line) {
  const std::vector<std::string>& inputs = line.request.inputs;
  const auto project = std::find_if(inputs.begin(), inputs.end(), [](const std::string& f) { return job::isProjectFile(f); });
  if (project == inputs.end()) return "";
  if (inputs.size() > 1) {
    std::vector<std::string> others;
    for (const std::string& input : inputs) {
      if (input != *project) others.push_back(input);
    }
    return "a project is read alone: " + *project + " holds its model, so " + inWords(others) + " cannot be given with it";
  }
  std::vector<std::string> given;
  for (const CLI::Option* option : line.app->get_options()) {
    if (option->count() == 0 || kBesideAProject.count(option->get_name())) continue;
    given.push_back(option->get_name());
  }
  if (given.empty()) return "";
  return "a project carries its settings: " + inWords(given) + " cannot be given with " + *project +
         " (only -o, --select, --module and --quiet can)";
}

}  // namespace

std::string programDescription() {
  std::string formats;
  for (const std::string& e : extensions(job::OutputKind::Pattern)) {
    std::string name = e.substr(1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    formats += (formats.empty() ? "" : ", ") + name;
  }
  return "foldra: unfolds 3D models into a paper model: flat pieces with glue tabs, numbered edges and\n"
         "fold lines, written as a scene, as mesh files and as a printable pattern (" +
         formats +
         ").\n"
         "Lengths are millimetres on paper; the scale turns them into model units.";
}

void defineOptions(CLI::App& cli, CommandLine* line) {
  job::Settings& settings = line->settings;
  job::Request& request = line->request;
  line->app = &cli;
  cli.option_defaults()->always_capture_default();
  cli.set_version_flag("--version", versionText());
  cli.add_flag("--manual-page", line->manualPage, "Print the manual page foldra(1) in roff")->group("");
  cli.add_option("INPUT", request.inputs,
                 "Model files: native scenes (.json) or any mesh format Assimp reads (OBJ with MTL, STL, PLY, "
                 "glTF/GLB, FBX, COLLADA, 3DS, ...); several files make one scene. Or one project (.foldra), run with the "
                 "settings it holds. None: the bundled example house")
      ->default_str("");
  cli.add_option("-o,--output", request.outputs, outputHelp())->default_str("");
  for (const auto& [name, layout] : kLayouts) {
    if (layout == settings.layout) line->layout = name;
  }
  cli.add_option("--layout", line->layout, "How the pieces stand in the scene: row, animation (one piece per frame) or stack")
      ->check(CLI::IsMember({"row", "animation", "stack"}));
  cli.add_option("--page", line->page,
                 "Paper size WIDTHxHEIGHT in millimetres; giving it (or writing a pattern) keeps every piece within "
                 "the printable area")
      ->default_str(job::typed(settings.pageWidth) + "x" + job::typed(settings.pageHeight));
  cli.add_option("--margin", settings.margin, "Blank border of every sheet, millimetres")->check(notNegative);
  cli.add_flag("--no-tabs", [&settings](std::int64_t) { settings.tabs = false; }, "No glue tabs");
  std::vector<std::string> methods;
  for (const job::Method& m : job::kMethods) methods.emplace_back(m.name);
  line->unfold = job::method(settings.unfold).name;
  cli.add_option("--unfold", line->unfold, methodHelp())->check(CLI::IsMember(methods));
  cli.add_option("--tab-depth,--tab-width", settings.tabDepth, tabDepthHelp())->check(positive)->default_str("");
  cli.add_option("--fold-shut", settings.foldShut,
                 "Compact: a seam inside one piece whose two sides lie at most this far apart on paper, "
                 "millimetres, is folded shut instead of cut; 0 cuts every seam")
      ->check(notNegative);
  cli.add_flag("--bare-seams", settings.bareSeams,
               "Compact: allow cut edges without a glue tab where that saves pieces; by default every cut edge "
               "long enough for a useful tab carries one");
  cli.add_flag("--keep-originals", settings.keepOriginals, "Keep the source objects in the scene next to the pieces");
  cli.add_flag("--no-materials", [&settings](std::int64_t) { settings.materials = false; },
               "Pieces without materials, texture selections and texture coordinates");
  cli.add_option("--select", request.select, "Unfold only the objects of this name (repeatable; default: every top-level object)")
      ->default_str("");
  auto* scale = cli.add_option("--scale", settings.scale, "Millimetres on paper per model unit")->check(positive)->default_str("");
  auto* height = cli.add_option("--height", settings.height, "The model's height (y extent) on paper in millimetres, instead of --scale")
                     ->check(positive)
                     ->default_str("");
  scale->excludes(height);
  cli.footer("Without --scale or --height the model's largest dimension becomes " + job::typed(settings.largestSize) +
             " mm on paper.");
  cli.add_option("--dpi", settings.dpi, "Resolution of PNG sheets")->check(positive);
  cli.add_option("--flat-fold", settings.flatFold, "Folds flatter than this many degrees are not drawn")->check(notNegative);
  cli.add_flag("--no-fill", [&settings](std::int64_t) { settings.fill = false; }, "Pattern as line art, without colours and textures");
  cli.add_option("--label-size", settings.labelSize, "Height of the edge labels' digits on the pattern, millimetres")
      ->check(positive);
  cli.add_flag("--no-overview", [&settings](std::int64_t) { settings.overview = false; },
               "No overview page (the model from four directions, pieces coloured and numbered) with the pattern");
  auto* fit = cli.add_option("--fit-sheets", settings.fitSheets,
                             "Make the model as large as fits this many sheets of the pattern (instead of --scale or "
                             "--height)")
                  ->check(CLI::Range(1, job::kMostFitSheets))
                  ->default_str("");
  fit->excludes(scale);
  fit->excludes(height);
  cli.add_option("--module", request.module, "The module file to run (default: the one installed with foldra, or beside the program in a build tree)")->default_str("");
  cli.add_flag("--quiet", line->quiet, "No progress and no summary");

  auto* serve = cli.add_subcommand("serve", "Starts the web studio: open a model in the browser, set the module's options in "
                                            "its dialog, run it and see the pieces, the pattern and the downloads");
  line->serve = serve;
  studio::StudioOptions& studio = line->studio;
  serve->option_defaults()->always_capture_default();
  serve->add_option("--host", studio.host, "Address to listen on (anything but loopback lets other machines in)");
  serve->add_option("--port", studio.port, "Port to listen on; 0 picks a free one")->check(CLI::Range(0, 65535));
  serve->add_option("--max-upload", line->maxUploadMb, "Largest upload (a model with its material and texture files), megabytes")
      ->check(positive);
  serve->add_option("--session-timeout", line->sessionMinutes, "Minutes after which an unused session ends and its files are deleted")
      ->check(positive);
  serve->add_option("--sessions", line->keepFolder,
                    "Folder in which sessions are kept, so that a reload, a pause or a restart brings the work back "
                    "(default: $XDG_STATE_HOME/foldra/sessions, or ~/.local/state/foldra/sessions); none keeps nothing")
      ->default_str("");
  serve->add_option("--keep-days", line->keepDays, "Days after which a kept session not seen since is deleted")->check(positive);
  serve->add_option("--keep-mb", line->keepMb, "Megabytes the kept sessions take at most; the least recently seen go first")
      ->check(positive);
  serve->add_option("--module", line->serveModule, "The module file to run (default: the one installed with foldra, or beside the program in a build tree)")->default_str("");
}

std::string readRun(CommandLine* line, const Locations& parts) {
  job::Settings& settings = line->settings;
  job::Request& request = line->request;
  if (const std::string problem = projectProblem(*line); !problem.empty()) return problem;
  settings.layout = kLayouts.at(line->layout);
  // CLI11 let only the table's names through.
  settings.unfold = job::methodNamed(line->unfold)->unfold;
  if (!line->page.empty()) {
    if (!parsePage(line->page, &settings.pageWidth, &settings.pageHeight)) {
      return "--page: expected WIDTHxHEIGHT in millimetres, both greater than 0 (for example 210x297), not \"" +
             line->page + "\"";
    }
    settings.pageLimit = true;
  }
  if (2 * settings.margin >= settings.pageWidth || 2 * settings.margin >= settings.pageHeight) {
    return "--margin: the margins leave no printable area on a " + job::typed(settings.pageWidth) + "x" +
           job::typed(settings.pageHeight) + " page";
  }
  if (settings.dpi > job::kMostDpi) return "--dpi: at most " + job::typed(job::kMostDpi);
  for (const std::string& output : request.outputs) {
    if (job::outputKind(output) == job::OutputKind::Unknown) {
      return output + ": unknown output format (use " + inWords(extensions(job::OutputKind::Unknown)) + ")";
    }
  }
  if (settings.fitSheets && std::none_of(request.outputs.begin(), request.outputs.end(), [](const std::string& o) {
        return job::outputKind(o) == job::OutputKind::Pattern;
      })) {
    return "--fit-sheets: sizes the pattern, but no pattern output (" + inWords(extensions(job::OutputKind::Pattern)) +
           ") is asked for";
  }
  if (request.module.empty()) request.module = parts.module;
  request.example = (std::filesystem::path(parts.data) / "examples" / "house.obj").string();
  return "";
}

std::string readServe(CommandLine* line, const Locations& parts) {
  const job::Request& request = line->request;
  if (!request.inputs.empty() || !request.outputs.empty()) {
    std::string named;
    for (const auto& f : request.inputs) named += (named.empty() ? "" : ", ") + f;
    for (const auto& f : request.outputs) named += (named.empty() ? "" : ", ") + f;
    return "serve takes no input or output files (" + named + "); open models in the studio's page";
  }
  studio::StudioOptions& studio = line->studio;
  studio.modulePath = line->serveModule.empty() ? parts.module : line->serveModule;
  studio.webFolder = (std::filesystem::path(parts.data) / "studio").string();
  if (line->maxUploadMb > 1e6) return "--max-upload: at most 1000000 megabytes";
  studio.maxUpload = static_cast<std::size_t>(line->maxUploadMb * 1024 * 1024);
  if (line->sessionMinutes > 1e6) return "--session-timeout: at most 1000000 minutes";
  studio.sessionTimeout = std::chrono::seconds(std::max<long long>(1, std::llround(line->sessionMinutes * 60)));
  if (line->keepDays > 1e5) return "--keep-days: at most 100000 days";
  if (line->keepMb > 1e9) return "--keep-mb: at most 1000000000 megabytes";
  studio.keepAge = std::chrono::hours(std::max<long long>(1, std::llround(line->keepDays * 24)));
  studio.keepBytes = static_cast<std::uintmax_t>(line->keepMb * 1024 * 1024);
  if (line->keepFolder == "none") {
    studio.keepFolder.clear();
  } else if (!line->keepFolder.empty()) {
    studio.keepFolder = line->keepFolder;
  } else {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && *state == '/') {
      studio.keepFolder = (std::filesystem::path(state) / "foldra" / "sessions").string();
    } else if (home && *home == '/') {
      studio.keepFolder = (std::filesystem::path(home) / ".local" / "state" / "foldra" / "sessions").string();
    }
  }
  return "";
}

}  // namespace app
