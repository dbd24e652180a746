// The settings dialog.
#include <climits>

#include "host/run_state.h"
#include "host/trace.h"
#include "shell/execute.h"
#include "shell/plugin.h"

namespace foldra {

// The choice's values, which programs that drive the dialog know, and the methods they stand for.
static_assert(kUnfoldingLongestEdge == kUnfoldingChoiceBase + kUnfoldLongestEdge);
static_assert(kUnfoldingCompact == kUnfoldingChoiceBase + kUnfoldCompact);

namespace {

/// A number as the dialog shows it: narrowed to a 32-bit float, then written by the host.
host::String shown(double value) { return host::String::fromReal(static_cast<float>(value)); }

}  // namespace

bool FoldraDialog::CreateLayout() {
  GeDialog::CreateLayout();
  const bool loaded = LoadDialogResource(kDialogSettings);
  if (!loaded) runTrace("Foldra: resource file konnte hier nicht geladen werden");
  return loaded;
}

bool FoldraDialog::Initvalues() {
  if (!GeDialog::Initvalues()) return false;
  SetBool(kGadgetOriginals, settings.Originalflag);
  SetBool(kGadgetMaterials, settings.Materialflag);
  SetBool(kGadgetPageLimit, settings.Seitenflag);
  SetBool(kGadgetTabs, settings.Laschenflag);
  SetString(kGadgetPageWidth, shown(settings.Seitenbreite));
  SetString(kGadgetPageHeight, shown(settings.Seitenhoehe));
  SetString(kGadgetTabWidth, shown(settings.Laschenbreite));
  SetString(kGadgetFoldShut, shown(settings.Nahtspalt));
  SetBool(kGadgetBareSeams, settings.OffeneNaehte);
  SetLong(kGadgetLayout, settings.AlsAnimation + kLayoutChoiceBase, INT32_MIN, INT32_MAX, 1);
  SetLong(kGadgetUnfolding, settings.Abwicklungsart + kUnfoldingChoiceBase, INT32_MIN, INT32_MAX, 1);
  return true;
}

bool FoldraDialog::Command(std::int32_t id, std::int32_t) {
  runTrace("Command");
  auto& host = host::api();
  run.activeDocument = host.activeDocument();
  if (id == kButtonConfirm) {
    readSettings();
    runTrace("Menu ausgewertet");
    host.interactionStart();
    host.startUndo(run.activeDocument);
    Execute();
    host.endUndo(run.activeDocument);
    host.eventAdd(1);
    runTrace("nach execute()");
    Close();
  } else if (id == kButtonCancel) {
    Close();
  } else {
    runTrace("Gadget geaendert:", id);
  }
  return true;
}

void FoldraDialog::readSettings() {
  auto readBool = [&](std::int32_t id) {
    bool value = false;
    GetBool(id, value);
    return value;
  };
  auto readNumber = [&](std::int32_t id) {
    host::String text;
    GetString(id, text);
    bool error = false;
    return text.toReal(&error);
  };
  settings.Originalflag = readBool(kGadgetOriginals);
  settings.Materialflag = readBool(kGadgetMaterials);
  settings.Seitenflag = readBool(kGadgetPageLimit);
  settings.Laschenflag = readBool(kGadgetTabs);
  settings.Seitenbreite = readNumber(kGadgetPageWidth);
  settings.Seitenhoehe = readNumber(kGadgetPageHeight);
  settings.Laschenbreite = readNumber(kGadgetTabWidth);
  settings.Nahtspalt = readNumber(kGadgetFoldShut);
  settings.OffeneNaehte = readBool(kGadgetBareSeams);
  std::int32_t layout = 0;
  GetLong(kGadgetLayout, layout);
  settings.AlsAnimation = layout - kLayoutChoiceBase;
  std::int32_t unfolding = kUnfoldingChoiceBase + kUnfoldLongestEdge;
  GetLong(kGadgetUnfolding, unfolding);
  settings.Abwicklungsart = unfolding - kUnfoldingChoiceBase;
  if constexpr (kRunTrace) {
    runTrace("Originalflag:", settings.Originalflag ? 1 : 0);
    runTrace("Materialflag:", settings.Materialflag ? 1 : 0);
    runTrace("AlsAnimation:", settings.AlsAnimation);
    runTrace("Seitenflag:", settings.Seitenflag ? 1 : 0);
    runTrace("Seitenbreite:", shown(settings.Seitenbreite));
    runTrace("Seitenhoehe:", shown(settings.Seitenhoehe));
    runTrace("Laschenflag:", settings.Laschenflag ? 1 : 0);
    runTrace("Maximale Laschenbreite:", shown(settings.Laschenbreite));
    runTrace("Abwicklungsart:", settings.Abwicklungsart);
    runTrace("Nahtspalt:", shown(settings.Nahtspalt));
    runTrace("OffeneNaehte:", settings.OffeneNaehte ? 1 : 0);
  }
}

}  // namespace foldra
