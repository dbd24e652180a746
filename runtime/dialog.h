// Dialogs of our headless host. Nobody sits in front of the screen, so the person who uses a
// dialog is a script: a list of steps such as "set gadget 10007 to 100.5" and "press 1". The
// dialog sees each step exactly as it would see a person's click: a changed gadget or a pressed
// button reaches its command handler.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/resources.h"

namespace runtime {

struct DialogStep {
  enum class Kind { Set, Press };
  Kind kind = Kind::Press;
  std::int32_t gadget = 0;
  /// Set: the value as a person enters it: "0"/"1" (or "false"/"true") for a check box, an
  /// entry's value for a choice, any text for a text field, an integer for an integer field.
  std::string value;
};
using DialogScript = std::vector<DialogStep>;

/// Parses steps written as "10007=100.5" (set) and "press:1" (press), separated by
/// commas or new lines. False with *error set on a step it cannot read.
bool parseDialogScript(const std::string& text, DialogScript* script, std::string* error);
/// The steps written as parseDialogScript reads them, separated by ", ".
std::string formatDialogScript(const DialogScript& script);

/// The value a gadget holds.
struct Gadget {
  GadgetDescription::Kind kind = GadgetDescription::Kind::Text;
  bool checked = false;
  std::int32_t number = 0;
  std::int32_t minimum = INT32_MIN, maximum = INT32_MAX, step = 1;
  std::string text;
  std::vector<std::pair<std::int32_t, std::string>> entries;
};

/// An open dialog window.
struct DialogWindow {
  std::int32_t pluginId = 0;
  std::string title;
  std::map<std::int32_t, Gadget> gadgets;
  bool closed = false;
};

/// What happened in a dialog: whether it opened, the steps it took and the first error.
struct DialogReport {
  bool opened = false;
  std::size_t stepsTaken = 0;
  bool closedByDialog = false;
  std::string error;
  /// The gadgets as they stood when the dialog first showed (after the dialog filled them).
  std::map<std::int32_t, Gadget> initial;
  /// The gadgets as they stood when the dialog closed (or when the script ended).
  std::map<std::int32_t, Gadget> final;
};

/// Applies one step's value to a gadget; false with *error set when the value does not fit.
bool applyStep(const DialogStep& step, Gadget* gadget, std::string* error);

}  // namespace runtime
