// The module's face towards the host: the settings dialog, the command and the entry point.
#pragma once

#include <cstdint>

#include "host/gui.h"
#include "host/run_state.h"

namespace foldra {

/// The module's plug-in id: identifies its command and its dialog.
inline constexpr std::int32_t kPluginId = 1059410;

// Resources.
inline constexpr std::int32_t kStringCommandName = 10000;
inline constexpr std::int32_t kStringCommandHelp = 10012;
inline constexpr std::int32_t kDialogSettings = 10001;
inline constexpr const char* kIconFile = "quarnel_logo_32x32_g60.tif";

// Gadgets of the settings dialog.
inline constexpr std::int32_t kGadgetLayout = 10002;
inline constexpr std::int32_t kGadgetOriginals = 10003;
inline constexpr std::int32_t kGadgetMaterials = 10004;
inline constexpr std::int32_t kGadgetPageLimit = 10005;
inline constexpr std::int32_t kGadgetTabs = 10006;
inline constexpr std::int32_t kGadgetPageWidth = 10007;
inline constexpr std::int32_t kGadgetPageHeight = 10008;
inline constexpr std::int32_t kGadgetTabWidth = 10009;
inline constexpr std::int32_t kGadgetUnfolding = 10010;
inline constexpr std::int32_t kButtonConfirm = 1;
inline constexpr std::int32_t kButtonCancel = 2;
/// Values of the layout choice: kLayoutChoiceBase + layout mode.
inline constexpr std::int32_t kLayoutChoiceBase = 6050;
/// Values of the unfolding choice: kUnfoldingChoiceBase + the method (kUnfoldLongestEdge,
/// kUnfoldCompact).
inline constexpr std::int32_t kUnfoldingChoiceBase = 6060;

/// The settings dialog: the options of a run and the two buttons.
class FoldraDialog : public host::GeDialog {
 public:
  bool CreateLayout() override;
  bool Initvalues() override;
  bool Command(std::int32_t id, std::int32_t message) override;
  /// Reads the gadgets into the settings record.
  void readSettings();
};

/// The module's command: enabled while objects are selected; opens the dialog.
class MenuPlug : public host::CommandData {
 public:
  bool Execute(host::Document* doc) override;
  std::int32_t GetState(host::Document* doc) override;

 private:
  FoldraDialog dialog_;
};

bool PluginStart();
bool PluginMessage(std::int32_t id, void* data);
void PluginEnd();

}  // namespace foldra

/// The module's one exported function.
extern "C" __attribute__((visibility("default"))) std::int32_t c4d_main(std::int32_t action, void* first,
                                                                         void* second, void* third);
