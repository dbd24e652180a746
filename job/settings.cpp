#include "job/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "shell/ids.h"

namespace job {

std::string typed(double value) {
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string settingsProblem(const Settings& s) {
  const auto positive = [](double v) { return std::isfinite(v) && v > 0; };
  const auto notNegative = [](double v) { return std::isfinite(v) && v >= 0; };
  struct Length {
    const char* key;
    std::optional<double> value;
    bool zeroAllowed;
  };
  const Length lengths[] = {
      {"pageWidth", s.pageWidth, false},      {"pageHeight", s.pageHeight, false},
      {"margin", s.margin, true},             {"tabDepth", s.tabDepth, false},
      {"foldShut", s.foldShut, true},         {"scale", s.scale, false},
      {"height", s.height, false},            {"largestSize", s.largestSize, false},
      {"dpi", s.dpi, false},                  {"flatFold", s.flatFold, true},
      {"labelSize", s.labelSize, false},      {"dialogPageWidth", s.dialogPageWidth, false},
      {"dialogPageHeight", s.dialogPageHeight, false}, {"dialogTabWidth", s.dialogTabWidth, false},
      {"dialogFoldShut", s.dialogFoldShut, true},
  };
  for (const Length& l : lengths) {
    if (!l.value) continue;
    if (l.zeroAllowed ? !notNegative(*l.value) : !positive(*l.value)) {
      return std::string(l.key) + ": expected a number " + (l.zeroAllowed ? "of 0 or more" : "greater than 0") +
             ", not " + (std::isfinite(*l.value) ? typed(*l.value) : std::string("a number that is not finite"));
    }
  }
  if (2 * s.margin >= s.pageWidth || 2 * s.margin >= s.pageHeight) {
    return "margin: the margins leave no printable area on a " + typed(s.pageWidth) + "x" + typed(s.pageHeight) + " page";
  }
  if (s.dpi > kMostDpi) return "dpi: at most " + typed(kMostDpi);
  if (s.fitSheets && (*s.fitSheets < 1 || *s.fitSheets > kMostFitSheets)) {
    return "fitSheets: expected 1 to " + std::to_string(kMostFitSheets) + ", not " + std::to_string(*s.fitSheets);
  }
  return "";
}

std::optional<double> chooseScale(const Settings& settings, const std::array<double, 3>& extent) {
  if (settings.scale) return *settings.scale;
  if (settings.height) {
    if (!(extent[1] > 0)) return std::nullopt;
    return *settings.height / extent[1];
  }
  const double largest = std::max({extent[0], extent[1], extent[2]});
  return largest > 0 ? settings.largestSize / largest : 1.0;
}

double tabDepth(const Settings& settings) {
  return settings.tabDepth.value_or(method(settings.unfold).tabDepth);
}

DialogLengths dialogLengths(const Settings& settings, double scale) {
  DialogLengths lengths;
  lengths.pageWidth = settings.dialogPageWidth.value_or((settings.pageWidth - 2 * settings.margin) / scale);
  lengths.pageHeight = settings.dialogPageHeight.value_or((settings.pageHeight - 2 * settings.margin) / scale);
  lengths.tabWidth = settings.dialogTabWidth.value_or(tabDepth(settings) / scale);
  lengths.foldShut = settings.dialogFoldShut.value_or(settings.foldShut / scale);
  return lengths;
}

runtime::DialogScript dialogScript(const Settings& settings, double scale, bool pattern, unsigned entries,
                                   std::int32_t button) {
  using Step = runtime::DialogStep;
  const DialogLengths lengths = dialogLengths(settings, scale);
  runtime::DialogScript script;
  // In the order the dialog shows its gadgets, as a person goes down it.
  auto set = [&](unsigned entry, std::int32_t gadget, std::string value) {
    if (entries & entry) script.push_back(Step{Step::Kind::Set, gadget, std::move(value)});
  };
  set(kEntryLayout, foldra::kGadgetLayout, std::to_string(foldra::kLayoutChoiceBase + static_cast<int>(settings.layout)));
  set(kEntryUnfolding, foldra::kGadgetUnfolding, std::to_string(method(settings.unfold).choice));
  // The dialog asks whether to remove the originals.
  set(kEntryOriginals, foldra::kGadgetOriginals, settings.keepOriginals ? "0" : "1");
  set(kEntryMaterials, foldra::kGadgetMaterials, settings.materials ? "1" : "0");
  set(kEntryPageLimit, foldra::kGadgetPageLimit, settings.pageLimit.value_or(pattern) ? "1" : "0");
  set(kEntryPageWidth, foldra::kGadgetPageWidth, typed(lengths.pageWidth));
  set(kEntryPageHeight, foldra::kGadgetPageHeight, typed(lengths.pageHeight));
  set(kEntryTabs, foldra::kGadgetTabs, settings.tabs ? "1" : "0");
  set(kEntryTabWidth, foldra::kGadgetTabWidth, typed(lengths.tabWidth));
  set(kEntryFoldShut, foldra::kGadgetFoldShut, typed(lengths.foldShut));
  set(kEntryBareSeams, foldra::kGadgetBareSeams, settings.bareSeams ? "1" : "0");
  script.push_back(Step{Step::Kind::Press, button, ""});
  return script;
}

pattern::PatternOptions patternOptions(const Settings& settings, double scale, const std::string& title) {
  pattern::PatternOptions options;
  options.pageWidth = settings.pageWidth;
  options.pageHeight = settings.pageHeight;
  options.margin = settings.margin;
  options.scale = scale;
  options.dpi = settings.dpi;
  options.flatFoldDegrees = settings.flatFold;
  options.fill = settings.fill;
  options.labelSize = settings.labelSize;
  options.overview = settings.overview;
  options.title = title;
  return options;
}

}  // namespace job
