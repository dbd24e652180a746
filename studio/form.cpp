#include "studio/form.h"

#include <cmath>
#include <optional>
#include <set>
#include <tuple>

#include "job/methods.h"
#include "shell/ids.h"
#include "studio/http.h"

namespace studio {

using nlohmann::json;

namespace {

/// The ways of cutting by their value in the dialog's choice: the name the command line knows
/// them by, what they make and the glue tab depth in millimetres each takes unless given.
json methodsJson() {
  json methods = json::object();
  for (const job::Method& m : job::kMethods) {
    methods[std::to_string(m.choice)] = {
        {"name", std::string(m.name)}, {"description", std::string(m.description)}, {"tabDepth", m.tabDepth}};
  }
  return methods;
}

}  // namespace

json dialogJson(const job::DialogForm& form) {
  json gadgets = json::array();
  for (const runtime::GadgetDescription& g : form.description.gadgets) {
    json entry{{"id", g.id}, {"label", g.label}};
    auto value = form.initial.find(g.id);
    const bool known = value != form.initial.end();
    switch (g.kind) {
      case runtime::GadgetDescription::Kind::Check:
        entry["kind"] = "check";
        // The studio always draws a pattern, so its pieces are always kept within the page.
        entry["value"] = g.id == foldra::kGadgetPageLimit || (known && value->second.checked);
        break;
      case runtime::GadgetDescription::Kind::Choice: {
        entry["kind"] = "choice";
        json entries = json::array();
        for (const auto& [v, label] : g.entries) entries.push_back({{"value", v}, {"label", label}});
        entry["entries"] = std::move(entries);
        entry["value"] = known ? value->second.number : (g.entries.empty() ? 0 : g.entries[0].first);
        // The form starts at the run's own default, which for the way to cut is not the
        // dialog's: the studio cuts compact, as the command line does.
        if (g.id == foldra::kGadgetUnfolding) entry["value"] = job::method(job::Settings{}.unfold).choice;
        break;
      }
      case runtime::GadgetDescription::Kind::Text:
        entry["kind"] = "text";
        entry["value"] = known ? value->second.text : "";
        break;
      case runtime::GadgetDescription::Kind::Integer:
        entry["kind"] = "integer";
        entry["value"] = known ? value->second.number : 0;
        break;
      case runtime::GadgetDescription::Kind::Button:
        entry["kind"] = "button";
        entry["confirm"] = g.id == foldra::kButtonConfirm;
        break;
    }
    gadgets.push_back(std::move(entry));
  }
  return {{"id", form.description.id},
          {"title", form.description.title},
          {"command", form.command},
          {"help", form.help},
          {"gadgets", std::move(gadgets)},
          // The gadgets that hold the page and tab sizes, in model units: the page fills them
          // from the paper as the command line does.
          {"lengths", {{"pageWidth", foldra::kGadgetPageWidth},
                       {"pageHeight", foldra::kGadgetPageHeight},
                       {"tabWidth", foldra::kGadgetTabWidth},
                       {"foldShut", foldra::kGadgetFoldShut}}},
          {"pageLimit", foldra::kGadgetPageLimit},
          {"tabs", foldra::kGadgetTabs},
          {"unfolding", foldra::kGadgetUnfolding},
          {"methods", methodsJson()}};
}

namespace {

/// A length as a person typed it: a number greater than 0 and at most `most`. False with
/// *error saying what is wrong with it, in the field's own words.
bool lengthValue(const std::string& label, const std::string& unit, const json& v, double most, double* out,
                 std::string* error, bool zero = false) {
  const std::string typed = v.is_string() ? v.get<std::string>() : v.dump();
  const bool decimal = !v.is_string() || typed.find_first_not_of("0123456789.eE+-") == std::string::npos;
  double value = 0;
  if (typed.empty() || (v.is_string() && typed.find_first_not_of(' ') == std::string::npos)) {
    *error = label + ": enter a number";
    return false;
  }
  if (!decimal || !(v.is_number() || v.is_string()) || !number(v, &value)) {
    // std::stod reads 1e400 as out of range: a number all the same, only far too large.
    const bool huge = decimal && typed.find_first_of("0123456789") != std::string::npos && typed.find_first_of("eE") != std::string::npos;
    *error = huge ? label + ": " + shown(typed) + " is far too large" : label + ": \"" + shown(typed) + "\" is not a number";
    return false;
  }
  const std::string withUnit = shown(typed) + unit;
  if (zero ? value < 0 : !(value > 0)) {
    *error = label + ": must be " + (zero ? "0 or more" : "greater than 0") + ", not " + withUnit;
    return false;
  }
  if (value > most) {
    *error = label + ": " + withUnit + " is too large (at most " + std::to_string(static_cast<long long>(most)) + unit + ")";
    return false;
  }
  *out = value;
  return true;
}

/// A gadget's value from the form, checked against the gadget's kind.
struct Value {
  bool checked = false;
  double number = 0;
};

bool readValue(const json& gadget, const json& v, Value* out, std::string* error) {
  const std::string label = gadget["label"].get<std::string>();
  const std::string kind = gadget["kind"].get<std::string>();
  if (kind == "check") {
    if (!v.is_boolean()) {
      *error = label + ": expected true or false";
      return false;
    }
    out->checked = v.get<bool>();
  } else if (kind == "text") {
    // Every text field of the module's dialog is a length in model units, written as a person
    // types a decimal number.
    // Fold shut at 0: only the seams whose sides meet are folded shut.
    const bool zero = gadget.value("id", 0) == foldra::kGadgetFoldShut;
    if (!lengthValue(label, "", v, 1e9, &out->number, error, zero)) return false;
  } else {
    if (!number(v, &out->number) || out->number != std::floor(out->number) || std::fabs(out->number) > 2e9) {
      *error = label + ": expected a whole number";
      return false;
    }
    if (kind == "choice") {
      bool listed = false;
      for (const json& e : gadget["entries"]) listed = listed || e["value"].get<double>() == out->number;
      if (!listed) {
        *error = label + ": there is no entry " + std::to_string(static_cast<std::int64_t>(out->number));
        return false;
      }
    }
  }
  return true;
}

/// Puts a gadget's value into the settings; false with *error set for a gadget that holds no
/// setting of a run, or a way of cutting the program does not know.
bool enter(const json& gadget, const Value& v, FormRun* run, std::string* error) {
  const std::int32_t id = gadget["id"].get<std::int32_t>();
  job::Settings& s = run->settings;
  switch (id) {
    case foldra::kGadgetLayout:
      s.layout = static_cast<job::Layout>(static_cast<int>(v.number) - foldra::kLayoutChoiceBase);
      run->entries |= job::kEntryLayout;
      return true;
    case foldra::kGadgetOriginals:
      s.keepOriginals = !v.checked;  // the dialog asks whether to remove them
      run->entries |= job::kEntryOriginals;
      return true;
    case foldra::kGadgetMaterials:
      s.materials = v.checked;
      run->entries |= job::kEntryMaterials;
      return true;
    case foldra::kGadgetPageLimit:
      s.pageLimit = v.checked;
      run->entries |= job::kEntryPageLimit;
      return true;
    case foldra::kGadgetTabs:
      s.tabs = v.checked;
      run->entries |= job::kEntryTabs;
      return true;
    case foldra::kGadgetPageWidth:
      s.dialogPageWidth = v.number;
      run->entries |= job::kEntryPageWidth;
      return true;
    case foldra::kGadgetPageHeight:
      s.dialogPageHeight = v.number;
      run->entries |= job::kEntryPageHeight;
      return true;
    case foldra::kGadgetTabWidth:
      s.dialogTabWidth = v.number;
      run->entries |= job::kEntryTabWidth;
      return true;
    case foldra::kGadgetFoldShut:
      s.dialogFoldShut = v.number;
      run->entries |= job::kEntryFoldShut;
      return true;
    case foldra::kGadgetBareSeams:
      s.bareSeams = v.checked;
      run->entries |= job::kEntryBareSeams;
      return true;
    case foldra::kGadgetUnfolding: {
      // The dialog may list a method that the program has no row for: it is refused, never run
      // as another.
      const job::Method* method = job::methodOfChoice(static_cast<std::int32_t>(v.number));
      if (!method) {
        *error = gadget["label"].get<std::string>() + ": entry " + std::to_string(static_cast<std::int64_t>(v.number)) +
                 " is not a way of cutting that foldra knows";
        return false;
      }
      s.unfold = method->unfold;
      run->entries |= job::kEntryUnfolding;
      return true;
    }
    default:
      *error = gadget["label"].get<std::string>() + ": not a setting of a run";
      return false;
  }
}

/// Reads the paper from `get`, which answers a field's value or nothing: width, height, margin,
/// tab and the model's largest side in millimetres, and the scale. False with *error set.
template <class Get>
bool readPaper(Get&& get, job::Settings* settings, bool* scaleGiven, bool* sizeGiven, std::string* error) {
  double scale = 0, tab = 0;
  bool tabGiven = false;
  struct Field {
    const char* key;
    const char* label;
    const char* unit;
    double* target;
    bool zero;
    bool* given;
  };
  const Field fields[] = {{"width", "Paper width", " mm", &settings->pageWidth, false, nullptr},
                          {"height", "Paper height", " mm", &settings->pageHeight, false, nullptr},
                          {"margin", "Margin", " mm", &settings->margin, true, nullptr},
                          {"scale", "Scale", "", &scale, false, scaleGiven},
                          {"size", "Model size", " mm", &settings->largestSize, false, sizeGiven},
                          {"tab", "Glue tab depth", " mm", &tab, false, &tabGiven}};
  for (const Field& f : fields) {
    std::optional<json> value = get(f.key);
    if (!value) continue;
    if (!lengthValue(f.label, f.unit, *value, 1e6, f.target, error, f.zero)) return false;
    if (f.given) *f.given = true;
  }
  if (*scaleGiven) settings->scale = scale;
  if (tabGiven) settings->tabDepth = tab;
  if (2 * settings->margin >= settings->pageWidth || 2 * settings->margin >= settings->pageHeight) {
    *error = "Margin: the margins leave no room on the paper to print on";
    return false;
  }
  return true;
}

}  // namespace

bool readRunForm(const json& body, const json& dialog, FormRun* run, std::string* error) {
  *run = FormRun{};
  if (!body.is_object()) {
    *error = "expected a JSON object with \"gadgets\" and \"press\"";
    return false;
  }
  const json gadgets = body.value("gadgets", json::object());
  if (!gadgets.is_object()) {
    *error = "\"gadgets\" must be an object of gadget ids and values";
    return false;
  }
  std::set<std::string> known;
  for (const json& g : dialog["gadgets"]) {
    const std::string id = std::to_string(g["id"].get<int>());
    known.insert(id);
    if (g["kind"] == "button" || !gadgets.contains(id)) continue;
    Value value;
    if (!readValue(g, gadgets[id], &value, error)) return false;
    if (!enter(g, value, run, error)) return false;
  }
  for (const auto& [id, v] : gadgets.items()) {
    if (!known.count(id)) {
      *error = "the dialog has no gadget " + shown(id);
      return false;
    }
  }
  const json press = body.value("press", json(foldra::kButtonConfirm));
  bool button = false;
  for (const json& g : dialog["gadgets"]) button = button || (g["kind"] == "button" && press.is_number_integer() && g["id"] == press);
  if (!button) {
    *error = "\"press\" must name one of the dialog's buttons";
    return false;
  }
  run->cancel = press.get<int>() != foldra::kButtonConfirm;

  const json paper = body.value("paper", json::object());
  if (!paper.is_object()) {
    *error = "\"paper\" must be an object";
    return false;
  }
  auto get = [&](const char* key) -> std::optional<json> {
    if (!paper.contains(key)) return std::nullopt;
    return paper[key];
  };
  return readPaper(get, &run->settings, &run->scaleGiven, &run->sizeGiven, error);
}

double formScale(const FormRun& run, const std::array<double, 3>& extent) {
  if (run.scaleGiven) return *run.settings.scale;
  if (!run.sizeGiven) return 1;
  return job::chooseScale(run.settings, extent).value_or(1);
}

bool paperJson(const httplib::Params& query, const std::array<double, 3>& extent, json* out, std::string* error) {
  const job::Settings defaults;
  job::Settings settings;
  bool scaleGiven = false, sizeGiven = false;
  auto get = [&](const char* key) -> std::optional<json> {
    auto it = query.find(key);
    if (it == query.end()) return std::nullopt;
    return json(it->second);
  };
  if (!readPaper(get, &settings, &scaleGiven, &sizeGiven, error)) return false;
  const double scale = job::chooseScale(settings, extent).value_or(1);
  const job::DialogLengths lengths = job::dialogLengths(settings, scale);
  *out = {{"defaults",
           {{"width", defaults.pageWidth},
            {"height", defaults.pageHeight},
            {"margin", defaults.margin},
            {"size", defaults.largestSize},
            {"tab", job::tabDepth(defaults)}}},
          {"scale", scale},
          {"dialog", {{"pageWidth", lengths.pageWidth}, {"pageHeight", lengths.pageHeight}, {"tabWidth", lengths.tabWidth}, {"foldShut", lengths.foldShut}}}};
  return true;
}

}  // namespace studio
