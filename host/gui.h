// The host's base classes for a module's dialogs and commands. A module derives from them and
// overrides what it needs; the host sees them through the plug-in interface.
#pragma once

#include <cstdint>
#include <memory>

#include "host/host.h"
#include "host/text.h"

namespace foldra::host {

/// A dialog window built from a dialog description in the module's resources.
class GeDialog {
 public:
  GeDialog();
  virtual ~GeDialog();
  GeDialog(const GeDialog&) = delete;
  GeDialog& operator=(const GeDialog&) = delete;

  /// Builds the gadgets; the base builds nothing and answers true.
  virtual bool CreateLayout();
  /// Fills the gadgets; the base answers true.
  virtual bool Initvalues();
  /// A message from the host about a change elsewhere; the base ignores it.
  virtual bool CoreMessage(std::int32_t id);
  /// A gadget changed or a button was pressed; `message` is 0 for a person's action.
  virtual bool Command(std::int32_t id, std::int32_t message);
  /// Asked before the window closes; true refuses.
  virtual bool AskClose();
  /// A timer tick; the base ignores it.
  virtual void Timer();
  /// The window is going away.
  virtual void DestroyWindow();
  /// Any other message; the base answers 0.
  virtual std::int32_t Message(std::int32_t id);

  bool Open(std::int32_t kind, std::int32_t pluginId, std::int32_t x, std::int32_t y,
            std::int32_t width, std::int32_t height, std::int32_t subId);
  bool Close();
  bool LoadDialogResource(std::int32_t id);
  bool SetBool(std::int32_t id, bool value);
  bool SetLong(std::int32_t id, std::int32_t value, std::int32_t min, std::int32_t max, std::int32_t step);
  bool SetString(std::int32_t id, const String& value);
  bool GetBool(std::int32_t id, bool& value) const;
  bool GetLong(std::int32_t id, std::int32_t& value) const;
  bool GetString(std::int32_t id, String& value) const;

 private:
  class Client;
  std::unique_ptr<Client> client_;
  sdk::Dialog* window_ = nullptr;
};

class BaseData {
 public:
  virtual ~BaseData() = default;
};

/// A command offered by the host in its menus.
class CommandData : public BaseData {
 public:
  /// Runs the command; the base does nothing and answers false.
  virtual bool Execute(Document* doc);
  /// Restores a dialog the host reopens with its layout; the base answers false.
  virtual bool RestoreLayout(void* secret);
  /// The command's state: sdk::kCommandEnabled, or kCommandDisabled; the base enables.
  virtual std::int32_t GetState(Document* doc);
  /// A message from the host; the base answers true.
  virtual bool Message(std::int32_t id, void* data);
  /// Runs a numbered sub-command; the base answers false.
  virtual bool ExecuteSubId(Document* doc, std::int32_t subId);
  /// Runs the command's option entry; the base answers false.
  virtual bool ExecuteOptionId(Document* doc, std::int32_t optionId);
  /// A script name of the command; the base has none.
  virtual bool GetScriptName(String& name);
};

/// Registers a command with the host, which owns `data` from then on (also on failure). A null
/// `data` is passed on as no object, which the host refuses.
bool RegisterCommandPlugin(std::int32_t id, const String& name, std::int32_t options,
                           const String& icon, const String& help, CommandData* data);

}  // namespace foldra::host
