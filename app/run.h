// One run of the foldra program: inputs into a document of our host, the module's command run
// through its dialog, the outputs written.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/options.h"
#include "pattern/pattern.h"
#include "runtime/dialog.h"
#include "scene/document.h"

namespace app {

/// What went wrong: the exit code (2 for wrong usage, 1 for everything else) and one line.
struct Failure {
  int exitCode = 1;
  std::string message;
};

/// Runs foldra; `programFolder` is the folder of the program's data, holding the bundled example
/// in examples/ (and the module file, used when options.module is empty, in a build tree).
/// True on success; otherwise *failure says why, and no output file was written.
bool run(const Options& options, const std::string& programFolder, Failure* failure);

/// The format of an output file from its extension, or "" when foldra cannot write it.
std::string outputKind(const std::string& path);

/// The module dialog's switches and texts for one run; lengths are texts in model units, as a
/// person types them into the dialog.
struct DialogSettings {
  Layout layout = Layout::Row;
  bool keepOriginals = false;
  bool materials = true;
  bool pageLimit = false;
  bool tabs = true;
  std::string pageWidth, pageHeight, tabWidth;
};

/// The dialog's values as the program's options give them: paper lengths in millimetres turned
/// into model units by `scale` (millimetres per model unit).
DialogSettings dialogSettings(const Options& options, double scale);

/// The steps a person takes in the module's dialog to enter these settings and confirm.
runtime::DialogScript dialogScript(const DialogSettings& settings);

/// The settings that the dialog's gadgets hold; false when a gadget of the module's dialog is
/// missing or holds a value the module does not know.
bool settingsFromGadgets(const std::map<std::int32_t, runtime::Gadget>& gadgets, DialogSettings* settings);

/// Extent of the selected objects' polygon forms along x, y and z.
std::array<double, 3> selectionExtent(const scene::Document& document);

/// The pattern's pieces: the same unfolding as the module's, run by the unfolding library linked
/// into this program on a copy of `document` with the same settings. `status` receives the
/// unfolding's status-bar reports. Not reentrant: the unfolding library has one run state.
pattern::PatternInput unfoldForPattern(const scene::Document& document, const DialogSettings& settings,
                                       const std::string& moduleFolder, const std::string& textureFolder,
                                       const std::function<void(int, const std::string&)>& status);

}  // namespace app
