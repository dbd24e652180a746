#include "studio/form.h"

#include <cmath>
#include <set>
#include <tuple>

#include "shell/ids.h"
#include "studio/http.h"

namespace studio {

using nlohmann::json;

json dialogJson(const job::DialogForm& form) {
  json gadgets = json::array();
  for (const runtime::GadgetDescription& g : form.description.gadgets) {
    json entry{{"id", g.id}, {"label", g.label}};
    auto value = form.initial.find(g.id);
    const bool known = value != form.initial.end();
    switch (g.kind) {
      case runtime::GadgetDescription::Kind::Check:
        entry["kind"] = "check";
        entry["value"] = known && value->second.checked;
        break;
      case runtime::GadgetDescription::Kind::Choice: {
        entry["kind"] = "choice";
        json entries = json::array();
        for (const auto& [v, label] : g.entries) entries.push_back({{"value", v}, {"label", label}});
        entry["entries"] = std::move(entries);
        entry["value"] = known ? value->second.number : (g.entries.empty() ? 0 : g.entries[0].first);
        // The form starts at the run's own default, which for the way to cut is not the
        // dialog's: the studio cuts compact, as the command line does.
        if (g.id == foldra::kGadgetUnfolding) {
          entry["value"] = job::Settings{}.unfold == job::Unfold::Compact ? foldra::kUnfoldingCompact : foldra::kUnfoldingLongestEdge;
        }
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
                       {"tabWidth", foldra::kGadgetTabWidth}}}};
}

namespace {

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
    const bool decimal = !v.is_string() || v.get<std::string>().find_first_not_of("0123456789.eE+-") == std::string::npos;
    if (!decimal || !number(v, &out->number) || !(out->number > 0) || out->number > 1e12) {
      *error = label + ": expected a number greater than 0, not " + shown(v.is_string() ? v.get<std::string>() : v.dump());
      return false;
    }
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

/// Puts a gadget's value into the settings; false for a gadget that holds no setting of a run.
bool enter(std::int32_t id, const Value& v, FormRun* run) {
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
    case foldra::kGadgetUnfolding:
      s.unfold = static_cast<int>(v.number) == foldra::kUnfoldingCompact ? job::Unfold::Compact : job::Unfold::LongestEdge;
      run->entries |= job::kEntryUnfolding;
      return true;
    default:
      return false;
  }
}

/// Reads the paper from `get`, which answers a field's value or nothing: width, height, margin,
/// tab and the model's largest side in millimetres, and the scale. False with *error set.
template <class Get>
bool readPaper(Get&& get, job::Settings* settings, bool* scaleGiven, bool* sizeGiven, std::string* error) {
  double scale = 0, tab = 0;
  bool tabGiven = false;
  const std::tuple<const char*, double*, double, bool*> fields[] = {
      {"width", &settings->pageWidth, 1e-9, nullptr},   {"height", &settings->pageHeight, 1e-9, nullptr},
      {"margin", &settings->margin, 0.0, nullptr},      {"scale", &scale, 1e-12, scaleGiven},
      {"size", &settings->largestSize, 1e-9, sizeGiven}, {"tab", &tab, 1e-9, &tabGiven}};
  for (const auto& [key, target, least, given] : fields) {
    std::optional<json> value = get(key);
    if (!value) continue;
    double v = 0;
    if (!number(*value, &v) || v < least || v > 1e6) {
      *error = std::string("paper ") + key + ": not a usable number";
      return false;
    }
    *target = v;
    if (given) *given = true;
  }
  if (*scaleGiven) settings->scale = scale;
  if (tabGiven) settings->tabDepth = tab;
  if (2 * settings->margin >= settings->pageWidth || 2 * settings->margin >= settings->pageHeight) {
    *error = "paper margin: the margins leave no printable area";
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
    if (!enter(g["id"].get<std::int32_t>(), value, run)) {
      *error = g["label"].get<std::string>() + ": not a setting of a run";
      return false;
    }
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
          {"dialog", {{"pageWidth", lengths.pageWidth}, {"pageHeight", lengths.pageHeight}, {"tabWidth", lengths.tabWidth}}}};
  return true;
}

}  // namespace studio
