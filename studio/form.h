// The module's dialog as the page's form, and the form read back into the settings of a run:
// the dialog's gadgets, the button pressed, and the paper for the printable pattern.
#pragma once

#include <httplib.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>

#include "job/module.h"
#include "job/settings.h"

namespace studio {

/// The dialog as the form shows it: its title, the command's name and help, the gadgets in
/// order with the values they show when it opens, and which gadgets hold the page and tab sizes.
nlohmann::json dialogJson(const job::DialogForm& form);

/// A run as the form asks for it.
struct FormRun {
  /// The gadgets the form sent, as settings; the paper, as far as the form gave it.
  job::Settings settings;
  /// The dialog entries the form sent: only those are entered, as a person changes them.
  unsigned entries = 0;
  /// The form's button was Cancel.
  bool cancel = false;
  /// The paper gave the scale (millimetres per model unit), or the model's largest side on
  /// paper to derive it from. Neither: the scale is 1.
  bool scaleGiven = false, sizeGiven = false;
};

/// Reads the body of a run: {"gadgets": {id: value}, "press": id, "paper": {"width", "height",
/// "margin", "scale" or "size"}}. False with *error set (naming the field) when a value does not
/// fit.
bool readRunForm(const nlohmann::json& body, const nlohmann::json& dialog, FormRun* run, std::string* error);

/// Millimetres on paper per model unit for the form's run on a model of this extent.
double formScale(const FormRun& run, const std::array<double, 3>& extent);

/// The paper's defaults, and for the paper in the query (width, height, margin, size: the
/// model's largest side, tab: the tab width, all millimetres; or scale) the scale and the
/// dialog's page and tab sizes in model units for a model of this extent. False with *error
/// set when a value does not fit.
bool paperJson(const httplib::Params& query, const std::array<double, 3>& extent, nlohmann::json* out,
               std::string* error);

}  // namespace studio
