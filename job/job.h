// The command line's job from start to end: model files in, the module run once, the requested
// outputs written. The studio does the same steps one request at a time, through the same
// functions (document.h, module.h, outputs.h).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "job/module.h"
#include "job/progress.h"
#include "job/settings.h"

namespace job {

struct Request {
  /// Model files: native scenes (.json) and mesh files, read into one document; or one project
  /// (NAME.foldra, project.h), read alone, whose settings, scale and dialog entries the run
  /// takes in place of those given.
  std::vector<std::string> inputs;
  /// Read when there are no inputs.
  std::string example;
  /// Output files; the format follows the extension. None: foldra-out/NAME.json and .obj.
  std::vector<std::string> outputs;
  /// Objects to unfold, by name; none: every top-level object (a project's: the objects its run
  /// unfolded).
  std::vector<std::string> select;
  /// The entries of the module's dialog the run makes (Entry bits).
  unsigned entries = kAllEntries;
  /// The module file.
  std::string module;
};

struct Report {
  Summary summary;
  /// The settings the run used: those given, or the project's.
  Settings settings;
  /// Millimetres on paper per model unit the run used (the one --fit-sheets found, where asked).
  double scale = 1;
  /// The selected objects' extent along x, y and z, model units.
  std::array<double, 3> extent{};
  /// How many sheets the pattern takes and how much of each one's printable area the pieces
  /// cover (0..1); empty when no pattern was written.
  std::vector<double> sheetFill;
  /// Every file written.
  std::vector<std::string> written;
  /// The pattern's warnings, each once.
  std::vector<std::string> warnings;
};

/// The sheets and how full they are, short however many there are: "1 sheet, 42 % full",
/// "3 sheets, 40 %, 62 % and 18 % full", "494 sheets, 7–35 % full" (the least and the most).
std::string sheetsFill(const std::vector<double>& fill);

/// Runs the job. With settings.fitSheets the scale is searched for: the module is run on copies
/// of the model at other scales (the page limit in model units changes with the scale) until
/// the largest scale whose pattern takes at most that many sheets is found; a project's run uses
/// the scale it found then. A project output (NAME.foldra) holds the model as it was before the
/// run, the settings, the scale the run used and its dialog entries. False with *error set (one
/// line) when anything fails; no output file is then written or changed.
bool run(const Request& request, const Settings& settings, const ProgressHandler& progress, Report* report,
         std::string* error);

}  // namespace job
