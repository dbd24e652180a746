// The command line's options: defined once on a CLI11 app, which parses them, prints `--help` and
// writes the manual page; then read into the job's settings and request, or the studio's options,
// with the checks that need more than one option or more than CLI11 offers.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "app/locate.h"
#include "job/job.h"
#include "studio/serve.h"

namespace app {

/// Everything the command line can say, as the options leave it after parsing.
struct CommandLine {
  /// The run's settings; the options that CLI11 cannot read directly stand as text below until
  /// readRun turns them into settings.
  job::Settings settings;
  job::Request request;
  /// No progress and no summary.
  bool quiet = false;
  /// Print the manual page instead of running (hidden: the build writes foldra(1) with it).
  bool manualPage = false;
  /// `--layout`, `--unfold` and `--page` as typed.
  std::string layout, unfold, page;
  /// The app the options are defined on (defineOptions), which knows which were given.
  CLI::App* app = nullptr;
  /// The `serve` command; it was given when it reads true.
  CLI::App* serve = nullptr;
  /// `foldra serve`'s options, but the sizes and times typed in the units below.
  studio::StudioOptions studio;
  /// `--max-upload` in megabytes, `--session-timeout` in minutes.
  double maxUploadMb = 100, sessionMinutes = 30;
  /// Where the studio keeps sessions ("none": nowhere), how many days and megabytes at most.
  std::string keepFolder;
  double keepDays = 14, keepMb = 2048;
  /// `serve --module`; empty: the module found beside the program or under its prefix.
  std::string serveModule;
};

/// The program's description, as `--help` starts with it.
std::string programDescription();

/// Defines every option and the `serve` command on `cli`, each storing into *line.
void defineOptions(CLI::App& cli, CommandLine* line);

/// Turns what the options left as text into the settings and checks what CLI11 cannot, for a
/// run: "" when all is well, else the message of a usage error.
std::string readRun(CommandLine* line, const Locations& parts);

/// The same for `foldra serve`: fills line->studio.
std::string readServe(CommandLine* line, const Locations& parts);

}  // namespace app
