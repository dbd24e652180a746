// foldra: turns 3D models into a paper model — flat pieces with glue tabs, as a scene, as mesh
// files and as a printable pattern — by running the paper-model module in our host.
#include <CLI/CLI.hpp>
#include <malloc.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include <unistd.h>

#include "app/locate.h"
#include "app/manual.h"
#include "app/progress_bar.h"
#include "app/version.h"
#include "job/job.h"
#include "job/outputs.h"
#include "studio/serve.h"

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

int usage(const std::string& message) {
  std::fprintf(stderr, "foldra: %s\nRun foldra --help for the options.\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A large mesh allocates and frees big buffers stage after stage (and in each output's
  // thread): freed memory is kept for reuse instead of being handed back to the system and
  // faulted in again, which took a tenth of a large run.
  mallopt(M_TOP_PAD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // The outputs are written by a thread each. With an arena per thread, every writer would take
  // fresh memory while what the unfolding freed stays in the first arena: three outputs of a
  // large mesh peaked half again higher. One arena reuses it, and the writers hardly wait.
  mallopt(M_ARENA_MAX, 1);
  job::Settings settings;
  job::Request request;
  bool quiet = false;
  CLI::App cli{"foldra: unfolds 3D models into a paper model: flat pieces with glue tabs, numbered edges and\n"
               "fold lines, written as a scene, as mesh files and as a printable pattern (PDF, SVG, PNG).\n"
               "Lengths are millimetres on paper; the scale turns them into model units.",
               "foldra"};
  cli.option_defaults()->always_capture_default();
  cli.set_version_flag("--version", app::versionText());
  // Hidden: the build writes the manual page from this same definition of the options.
  bool manualPage = false;
  cli.add_flag("--manual-page", manualPage, "Print the manual page foldra(1) in roff")->group("");
  cli.add_option("INPUT", request.inputs,
                 "Model files: native scenes (.json) or any mesh format Assimp reads (OBJ with MTL, STL, PLY, "
                 "glTF/GLB, FBX, COLLADA, 3DS, ...); several files make one scene. None: the bundled example house")
      ->default_str("");
  cli.add_option("-o,--output", request.outputs,
                 "Output file, repeatable; the extension decides: .json (the scene after the run), .obj .glb .gltf "
                 ".stl .ply (the pieces as a mesh), .pdf .svg .png (the printable pattern). "
                 "None: foldra-out/NAME.json and foldra-out/NAME.obj")
      ->default_str("");
  const std::map<std::string, job::Layout> layouts = {
      {"row", job::Layout::Row}, {"animation", job::Layout::Animation}, {"stack", job::Layout::Stack}};
  std::string layout = "row";
  cli.add_option("--layout", layout, "How the pieces stand in the scene: row, animation (one piece per frame) or stack")
      ->check(CLI::IsMember({"row", "animation", "stack"}));
  std::string page;
  cli.add_option("--page", page,
                 "Paper size WIDTHxHEIGHT in millimetres; giving it (or writing a pattern) keeps every piece within "
                 "the printable area")
      ->default_str(job::typed(settings.pageWidth) + "x" + job::typed(settings.pageHeight));
  cli.add_option("--margin", settings.margin, "Blank border of every sheet, millimetres")->check(notNegative);
  cli.add_flag("--no-tabs", [&](std::int64_t) { settings.tabs = false; }, "No glue tabs");
  const std::map<std::string, job::Unfold> methods = {{"compact", job::Unfold::Compact},
                                                      {"longest-edge", job::Unfold::LongestEdge}};
  std::string unfold = "compact";
  cli.add_option("--unfold", unfold,
                 "How to cut the pieces: compact (few, large pieces; tabs placed after the cuts) or longest-edge "
                 "(every join tested with its tabs, longest edge first)")
      ->check(CLI::IsMember({"compact", "longest-edge"}));
  cli.add_option("--tab-depth,--tab-width", settings.tabDepth,
                 "How far a glue tab reaches out from its edge at most, millimetres on paper (default: " +
                     job::typed(job::kCompactTabMm) + " for compact, " + job::typed(job::kLongestEdgeTabMm) +
                     " for longest-edge)")
      ->check(positive)
      ->default_str("");
  cli.add_option("--fold-shut", settings.foldShut,
                 "Compact: a seam inside one piece whose two sides lie at most this far apart on paper, "
                 "millimetres, is folded shut instead of cut; 0 cuts every seam")
      ->check(notNegative);
  cli.add_flag("--keep-originals", settings.keepOriginals, "Keep the source objects in the scene next to the pieces");
  cli.add_flag("--no-materials", [&](std::int64_t) { settings.materials = false; },
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
  cli.add_flag("--no-fill", [&](std::int64_t) { settings.fill = false; }, "Pattern as line art, without colours and textures");
  cli.add_option("--label-size", settings.labelSize, "Height of the edge labels' digits on the pattern, millimetres")
      ->check(positive);
  cli.add_flag("--no-overview", [&](std::int64_t) { settings.overview = false; },
               "No overview page (the model from four directions, pieces coloured and numbered) with the pattern");
  auto* fit = cli.add_option("--fit-sheets", settings.fitSheets,
                             "Make the model as large as fits this many sheets of the pattern (instead of --scale or "
                             "--height)")
                  ->check(CLI::Range(1, 100000))
                  ->default_str("");
  fit->excludes(scale);
  fit->excludes(height);
  cli.add_option("--module", request.module, "The module file to run (default: the one installed with foldra, or beside the program in a build tree)")->default_str("");
  cli.add_flag("--quiet", quiet, "No progress and no summary");

  // foldra serve: the web studio.
  studio::StudioOptions serveOptions;
  double maxUploadMb = 100;
  double sessionMinutes = 30;
  std::string serveModule;
  auto* serve = cli.add_subcommand("serve", "Starts the web studio: open a model in the browser, set the module's options in "
                                            "its dialog, run it and see the pieces, the pattern and the downloads");
  serve->option_defaults()->always_capture_default();
  serve->add_option("--host", serveOptions.host, "Address to listen on (anything but loopback lets other machines in)");
  serve->add_option("--port", serveOptions.port, "Port to listen on; 0 picks a free one")->check(CLI::Range(0, 65535));
  serve->add_option("--max-upload", maxUploadMb, "Largest upload (a model with its material and texture files), megabytes")
      ->check(positive);
  serve->add_option("--session-timeout", sessionMinutes, "Minutes after which an unused session ends and its files are deleted")
      ->check(positive);
  serve->add_option("--module", serveModule, "The module file to run (default: the one installed with foldra, or beside the program in a build tree)")->default_str("");

  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    return usage(e.what());
  }
  if (manualPage) {
    std::fputs(app::manualPage(cli).c_str(), stdout);
    return 0;
  }
  const app::Locations parts = app::locate(app::programFolder(argv[0]));
  if (*serve) {
    if (!request.inputs.empty() || !request.outputs.empty()) {
      std::string named;
      for (const auto& f : request.inputs) named += (named.empty() ? "" : ", ") + f;
      for (const auto& f : request.outputs) named += (named.empty() ? "" : ", ") + f;
      return usage("serve takes no input or output files (" + named + "); open models in the studio's page");
    }
    serveOptions.modulePath = serveModule.empty() ? parts.module : serveModule;
    serveOptions.webFolder = (std::filesystem::path(parts.data) / "studio").string();
    if (maxUploadMb > 1e6) return usage("--max-upload: at most 1000000 megabytes");
    serveOptions.maxUpload = static_cast<std::size_t>(maxUploadMb * 1024 * 1024);
    if (sessionMinutes > 1e6) return usage("--session-timeout: at most 1000000 minutes");
    serveOptions.sessionTimeout = std::chrono::seconds(std::max<long long>(1, std::llround(sessionMinutes * 60)));
    return studio::serve(serveOptions);
  }
  settings.layout = layouts.at(layout);
  settings.unfold = methods.at(unfold);
  if (!page.empty()) {
    if (!parsePage(page, &settings.pageWidth, &settings.pageHeight)) {
      return usage("--page: expected WIDTHxHEIGHT in millimetres, both greater than 0 (for example 210x297), not \"" + page + "\"");
    }
    settings.pageLimit = true;
  }
  if (2 * settings.margin >= settings.pageWidth || 2 * settings.margin >= settings.pageHeight) {
    return usage("--margin: the margins leave no printable area on a " + page + " page");
  }
  if (settings.dpi > 2400) return usage("--dpi: at most 2400");
  for (const std::string& output : request.outputs) {
    if (job::outputKind(output) == job::OutputKind::Unknown) {
      return usage(output + ": unknown output format (use .json, .obj, .glb, .gltf, .stl, .ply, .pdf, .svg or .png)");
    }
  }
  if (settings.fitSheets && std::none_of(request.outputs.begin(), request.outputs.end(), [](const std::string& o) {
        return job::outputKind(o) == job::OutputKind::Pattern;
      })) {
    return usage("--fit-sheets: sizes the pattern, but no pattern output (.pdf, .svg or .png) is asked for");
  }
  if (request.module.empty()) request.module = parts.module;
  request.example = (std::filesystem::path(parts.data) / "examples" / "house.obj").string();

  const auto start = std::chrono::steady_clock::now();
  app::ProgressBar bar(!quiet && isatty(fileno(stderr)));
  job::Report report;
  std::string error;
  if (!job::run(request, settings, [&](const job::Progress& p) { bar.show(p); }, &report, &error)) {
    bar.clear();
    std::fprintf(stderr, "foldra: %s\n", error.c_str());
    return 1;
  }
  bar.clear();
  for (const std::string& w : report.warnings) std::fprintf(stderr, "foldra: warning: %s\n", w.c_str());
  if (!quiet && settings.fitSheets) {
    const int n = *settings.fitSheets;
    const auto& e = report.extent;
    std::printf("foldra: to fit %d sheet%s the model is %.0f x %.0f x %.0f mm (--scale %s)\n", n, n == 1 ? "" : "s",
                e[0] * report.scale, e[1] * report.scale, e[2] * report.scale, job::typed(report.scale).c_str());
  }
  if (!quiet && !report.sheetFill.empty()) {
    // How full the sheets are, so that a scale or page size that wastes paper shows.
    std::string used;
    for (const double f : report.sheetFill) used += (used.empty() ? "" : ", ") + std::to_string(std::lround(100 * f)) + " %";
    const std::size_t sheets = report.sheetFill.size();
    std::printf("foldra: pattern on %zu sheet%s, covering %s of the printable area\n", sheets, sheets == 1 ? "" : "s",
                used.c_str());
  }
  if (!quiet) {
    const job::Summary& s = report.summary;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string written;
    for (const auto& w : report.written) written += (written.empty() ? "" : ", ") + std::filesystem::relative(w).string();
    const std::string bare =
        s.untabbed ? ", " + std::to_string(*s.untabbed) + " cut edge" + (*s.untabbed == 1 ? "" : "s") + " without a tab" : "";
    std::printf("foldra: %d object%s, %d triangles, %d piece%s, %d glue tabs%s, %.2f s; wrote %s\n", s.objects,
                s.objects == 1 ? "" : "s", s.triangles, s.pieces, s.pieces == 1 ? "" : "s", s.tabs, bare.c_str(), seconds,
                written.c_str());
  }
  return 0;
}
