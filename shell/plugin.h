// The module's face towards the host: the settings dialog, the command and the entry point.
#pragma once

#include <cstdint>

#include "host/gui.h"
#include "shell/ids.h"

namespace foldra {

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
