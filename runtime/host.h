// Our headless host application: documents, console, events, loaded modules, their commands and
// their dialogs. A module reaches it only through the sdk::HostInterface it is handed when it is
// initialised; the host's own programs (the command line, the tests) use this class directly.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/dialog.h"
#include "runtime/resources.h"
#include "scene/document.h"
#include "sdk/host_api.h"

namespace runtime {

class ModuleInterface;

/// A command a module registered.
struct Command {
  std::int32_t id = 0;
  std::string name;
  std::int32_t options = 0;
  std::string iconFile;
  /// The icon as loaded from the module's resources; empty when it could not be read.
  Image icon;
  std::string help;
  std::unique_ptr<sdk::CommandClient> client;
  /// The module that registered it (index into the host's modules).
  std::size_t module = 0;
};

/// What the host was asked to do besides changing documents, so that callers can see it.
struct EventLog {
  int interactionStarts = 0;
  int changeEvents = 0;
  int redraws = 0;
  std::vector<std::int32_t> redrawFlags;
  std::vector<std::int32_t> eventFlags;
  int objectUpdates = 0;
  int tagUpdates = 0;
  int documentUpdates = 0;
};

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Documents. The host always has an active document.
  scene::Document& activeDocument() { return *active_; }
  void setActiveDocument(std::unique_ptr<scene::Document> document);
  /// Hands the active document to the caller; an empty document becomes the active one.
  std::unique_ptr<scene::Document> takeActiveDocument();
  /// Documents made for a module (selection and polygon copies) that it has not freed yet.
  std::size_t looseDocuments() const { return loose_.size(); }

  // Console and status bar.
  const std::vector<std::string>& console() const { return console_; }
  /// Called with each status-bar report: percent 0..100 and a text, or -1 when it is cleared.
  void setStatusHandler(std::function<void(int, const std::string&)> handler) {
    status_ = std::move(handler);
  }
  const EventLog& events() const { return events_; }
  sdk::FunctionTable& functionTable() { return functions_; }
  /// How often the host's own entry of the function table was called.
  static int hookCalls();

  // Modules.
  /// Loads a module file, initialises it, has it load its resources and start. On failure
  /// the module is unloaded again and *error says why.
  bool loadModule(const std::string& path, std::string* error);
  /// Ends and unloads every module, newest first.
  void unloadModules();
  std::size_t moduleCount() const { return modules_.size(); }
  /// A host interface bound to a module folder, for module code linked into the same program
  /// (tests); it lives as long as the host.
  sdk::HostInterface& interfaceFor(const std::string& moduleFolder);
  /// Sends a message to the module that registered the command (its message action); the
  /// module's answer, or -1 when no loaded module registered it.
  std::int32_t messageModule(std::int32_t command, std::int32_t message, void* data);

  // Commands.
  const Command* findCommand(std::int32_t id) const;
  const std::map<std::int32_t, Command>& commands() const { return commands_; }
  /// The command's state for the active document; kCommandDisabled for an unknown command.
  std::int32_t commandState(std::int32_t id);
  /// Runs an enabled command, as a click on it does; false when unknown, disabled or refused.
  bool runCommand(std::int32_t id);

  // Dialogs.
  /// The steps the person in front of the next modal dialog takes.
  void setDialogScript(DialogScript script) { script_ = std::move(script); }
  /// What happened in the last dialog that was opened.
  const DialogReport& lastDialog() const { return lastDialog_; }
  /// Warnings about resources (for example an icon that could not be read).
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  friend class ModuleInterface;

  struct Module {
    std::string path;
    std::string folder;
    void* handle = nullptr;
    sdk::EntryPoint entry = nullptr;
    std::unique_ptr<ModuleInterface> interface;
  };

  void unload(Module& module);
  scene::Document* adoptDocument(std::unique_ptr<scene::Document> document);
  void freeDocument(scene::Document* document);
  bool openDialog(sdk::DialogClient* client, std::int32_t pluginId);

  std::unique_ptr<scene::Document> active_;
  // Objects and tracks a module allocated and has not yet inserted anywhere.
  std::vector<std::unique_ptr<scene::Object>> freeObjects_;
  std::vector<std::unique_ptr<scene::Track>> freeTracks_;
  std::vector<std::unique_ptr<scene::Document>> loose_;
  std::vector<std::string> console_;
  std::function<void(int, const std::string&)> status_;
  EventLog events_;
  sdk::FunctionTable functions_;
  std::vector<std::unique_ptr<Module>> modules_;
  std::vector<std::unique_ptr<ModuleInterface>> linked_;
  std::map<std::int32_t, Command> commands_;
  DialogScript script_;
  DialogReport lastDialog_;
  std::vector<std::string> warnings_;
};

}  // namespace runtime
