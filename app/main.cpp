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

#include "app/locate.h"
#include "app/manual.h"
#include "app/options.h"
#include "app/run.h"
#include "app/version.h"
#include "studio/studio.h"

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
  app::Options options;
  CLI::App cli{"foldra: unfolds 3D models into a paper model: flat pieces with glue tabs, numbered edges and\n"
               "fold lines, written as a scene, as mesh files and as a printable pattern (PDF, SVG, PNG).\n"
               "Lengths are millimetres on paper; the scale turns them into model units.",
               "foldra"};
  cli.option_defaults()->always_capture_default();
  cli.set_version_flag("--version", app::versionText());
  // Hidden: the build writes the manual page from this same definition of the options.
  bool manualPage = false;
  cli.add_flag("--manual-page", manualPage, "Print the manual page foldra(1) in roff")->group("");
  cli.add_option("INPUT", options.inputs,
                 "Model files: native scenes (.json) or any mesh format Assimp reads (OBJ with MTL, STL, PLY, "
                 "glTF/GLB, FBX, COLLADA, 3DS, ...); several files make one scene. None: the bundled example house")
      ->default_str("");
  cli.add_option("-o,--output", options.outputs,
                 "Output file, repeatable; the extension decides: .json (the scene after the run), .obj .glb .gltf "
                 ".stl .ply (the pieces as a mesh), .pdf .svg .png (the printable pattern). "
                 "None: foldra-out/NAME.json and foldra-out/NAME.obj")
      ->default_str("");
  const std::map<std::string, app::Layout> layouts = {
      {"row", app::Layout::Row}, {"animation", app::Layout::Animation}, {"stack", app::Layout::Stack}};
  std::string layout = "row";
  cli.add_option("--layout", layout, "How the pieces stand in the scene: row, animation (one piece per frame) or stack")
      ->check(CLI::IsMember({"row", "animation", "stack"}));
  std::string page;
  cli.add_option("--page", page,
                 "Paper size WIDTHxHEIGHT in millimetres; giving it (or writing a pattern) keeps every piece within "
                 "the printable area")
      ->default_str("210x297");
  cli.add_option("--margin", options.margin, "Blank border of every sheet, millimetres")->check(notNegative);
  cli.add_flag("--no-tabs", [&](std::int64_t) { options.tabs = false; }, "No glue tabs");
  cli.add_option("--tab-width", options.tabWidth, "Greatest glue tab width, millimetres on paper")->check(positive);
  cli.add_flag("--keep-originals", options.keepOriginals, "Keep the source objects in the scene next to the pieces");
  cli.add_flag("--no-materials", [&](std::int64_t) { options.materials = false; },
               "Pieces without materials, texture selections and texture coordinates");
  cli.add_option("--select", options.select, "Unfold only the objects of this name (repeatable; default: every top-level object)")
      ->default_str("");
  auto* scale = cli.add_option("--scale", options.scale, "Millimetres on paper per model unit")->check(positive)->default_str("");
  auto* height = cli.add_option("--height", options.height, "The model's height (y extent) on paper in millimetres, instead of --scale")
                     ->check(positive)
                     ->default_str("");
  scale->excludes(height);
  cli.footer("Without --scale or --height the model's largest dimension becomes 150 mm on paper.");
  cli.add_option("--dpi", options.dpi, "Resolution of PNG sheets")->check(positive);
  cli.add_option("--flat-fold", options.flatFold, "Folds flatter than this many degrees are not drawn")->check(notNegative);
  cli.add_flag("--no-fill", [&](std::int64_t) { options.fill = false; }, "Pattern as line art, without colours and textures");
  cli.add_option("--label-size", options.labelSize, "Height of the edge labels' digits on the pattern, millimetres")
      ->check(positive);
  cli.add_flag("--no-overview", [&](std::int64_t) { options.overview = false; },
               "No overview page (the model from four directions, pieces coloured and numbered) with the pattern");
  auto* fit = cli.add_option("--fit-sheets", options.fitSheets,
                             "Make the model as large as fits this many sheets (instead of --scale or --height)")
                  ->check(CLI::Range(1, 100000))
                  ->default_str("");
  fit->excludes(scale);
  fit->excludes(height);
  cli.add_option("--module", options.module, "The module file to run (default: the one installed with foldra, or beside the program in a build tree)")->default_str("");
  cli.add_flag("--quiet", options.quiet, "No progress and no summary");

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
    if (!options.inputs.empty() || !options.outputs.empty()) {
      std::string named;
      for (const auto& f : options.inputs) named += (named.empty() ? "" : ", ") + f;
      for (const auto& f : options.outputs) named += (named.empty() ? "" : ", ") + f;
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
  options.layout = layouts.at(layout);
  if (!page.empty()) {
    if (!parsePage(page, &options.pageWidth, &options.pageHeight)) {
      return usage("--page: expected WIDTHxHEIGHT in millimetres, both greater than 0 (for example 210x297), not \"" + page + "\"");
    }
    options.pageGiven = true;
  }
  if (2 * options.margin >= options.pageWidth || 2 * options.margin >= options.pageHeight) {
    return usage("--margin: the margins leave no printable area on a " + page + " page");
  }
  if (options.dpi > 2400) return usage("--dpi: at most 2400");
  for (const std::string& output : options.outputs) {
    if (app::outputKind(output).empty()) {
      return usage(output + ": unknown output format (use .json, .obj, .glb, .gltf, .stl, .ply, .pdf, .svg or .png)");
    }
  }
  if (options.module.empty()) options.module = parts.module;
  app::Failure failure;
  if (!app::run(options, parts.data, &failure)) {
    std::fprintf(stderr, "foldra: %s\n", failure.message.c_str());
    return failure.exitCode;
  }
  return 0;
}
