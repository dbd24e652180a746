#include "runtime/dialog.h"

#include <charconv>

namespace runtime {

namespace {

std::string trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const auto b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool parseInt(const std::string& text, std::int32_t* value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, *value);
  return ec == std::errc() && ptr == last && first != last;
}

}  // namespace

std::string formatDialogScript(const DialogScript& script) {
  std::string text;
  for (const DialogStep& step : script) {
    if (!text.empty()) text += ", ";
    text += step.kind == DialogStep::Kind::Press ? "press:" + std::to_string(step.gadget)
                                                 : std::to_string(step.gadget) + "=" + step.value;
  }
  return text;
}

bool parseDialogScript(const std::string& text, DialogScript* script, std::string* error) {
  DialogScript steps;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(",\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string item = trim(text.substr(start, end - start));
    start = end + 1;
    if (item.empty()) continue;
    DialogStep step;
    if (item.rfind("press:", 0) == 0) {
      step.kind = DialogStep::Kind::Press;
      if (!parseInt(trim(item.substr(6)), &step.gadget)) {
        *error = "dialog step \"" + item + "\": expected press:<gadget id>";
        return false;
      }
    } else {
      const auto eq = item.find('=');
      if (eq == std::string::npos || !parseInt(trim(item.substr(0, eq)), &step.gadget)) {
        *error = "dialog step \"" + item + "\": expected <gadget id>=<value> or press:<gadget id>";
        return false;
      }
      step.kind = DialogStep::Kind::Set;
      step.value = item.substr(eq + 1);
    }
    steps.push_back(std::move(step));
  }
  *script = std::move(steps);
  return true;
}

bool applyStep(const DialogStep& step, Gadget* gadget, std::string* error) {
  using Kind = GadgetDescription::Kind;
  const std::string id = std::to_string(step.gadget);
  switch (gadget->kind) {
    case Kind::Check: {
      const std::string v = trim(step.value);
      if (v == "1" || v == "true") gadget->checked = true;
      else if (v == "0" || v == "false") gadget->checked = false;
      else {
        *error = "gadget " + id + " is a check box: \"" + step.value + "\" is neither 0 nor 1";
        return false;
      }
      return true;
    }
    case Kind::Choice: {
      std::int32_t value = 0;
      if (!parseInt(trim(step.value), &value)) {
        *error = "gadget " + id + " is a choice: \"" + step.value + "\" is not an entry value";
        return false;
      }
      for (const auto& entry : gadget->entries) {
        if (entry.first == value) {
          gadget->number = value;
          return true;
        }
      }
      *error = "gadget " + id + " has no entry " + step.value;
      return false;
    }
    case Kind::Integer: {
      std::int32_t value = 0;
      if (!parseInt(trim(step.value), &value)) {
        *error = "gadget " + id + " takes an integer, not \"" + step.value + "\"";
        return false;
      }
      gadget->number = value < gadget->minimum ? gadget->minimum : (value > gadget->maximum ? gadget->maximum : value);
      return true;
    }
    case Kind::Text:
      gadget->text = step.value;
      return true;
    case Kind::Button:
      *error = "gadget " + id + " is a button: it can be pressed, not set";
      return false;
  }
  return false;
}

}  // namespace runtime
