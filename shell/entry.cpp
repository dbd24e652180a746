// The entry point, start-up and the command.
#include <new>

#include "host/progress.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "intake/intake.h"
#include "shell/execute.h"
#include "shell/plugin.h"
#include "shell/report.h"

namespace foldra {

namespace {

/// Number of initialise actions not yet matched by an end action.
int startCount = 0;
/// The host's hook entry that the module's own hook replaced; called on from it.
void (*savedHook)(void*) = nullptr;

void hook(void* data) {
  if (savedHook) savedHook(data);
}

/// The host library's bookkeeping for this module: the operations it was handed.
struct HostLibrary {
  sdk::HostInterface* operations;
};
HostLibrary* library = nullptr;

bool registerCommand() {
  auto& host = host::api();
  const host::String name(host.loadString(kStringCommandName));
  const host::String help(host.loadString(kStringCommandHelp));
  MenuPlug* command = new (std::nothrow) MenuPlug;
  return host::RegisterCommandPlugin(kPluginId, name, 0, kIconFile, help, command);
}

}  // namespace

bool MenuPlug::Execute(host::Document*) {
  return dialog_.Open(sdk::kDialogModal, kPluginId, -1, -1, 0, 0, 0);
}

std::int32_t MenuPlug::GetState(host::Document* doc) {
  if (!doc) {
    runTrace("Foldra: GetActiveDocument() war NULL");
    return sdk::kCommandDisabled;
  }
  host::ObjectListRef list;
  host::api().activeObjects(doc, list.get(), sdk::kActiveObjectsChildren);
  if (list.count() > 0) return sdk::kCommandEnabled;
  runTrace("Foldra: Keine gueltigen Objekte angewaehlt.");
  return sdk::kCommandDisabled;
}

bool PluginStart() {
  startupTrace("Pluginstart");
  sdk::FunctionTable* table = host::api().functionTable();
  if (table) {
    savedHook = table->hook;
    table->hook = &hook;
  }
  const bool registered = registerCommand();
  startupTrace(registered ? "Foldra geladen." : "Foldra konnte nicht registriert werden.");
  consoleLine(" ");
  return registered;
}

bool PluginMessage(std::int32_t id, void* data) {
  // Comes from another thread while a run goes on: it only sets the flag the run reads.
  if (id == sdk::kMessageBreakRun) {
    host::breakAsked() = true;
    return true;
  }
  startupTrace("PluginMessage");
  if (id == sdk::kMessageNone) return true;
  if (id == sdk::kMessageDescribeRun) return data && describeRun(*static_cast<const sdk::RunReportSink*>(data));
  if (id == sdk::kMessageForgetRun) {
    // The triangle records and pieces of a large run are most of the module's memory; the host
    // has read what it needs and goes on to write its files.
    clearContainers();
    clearTriangleLists();
    forgetRun();
    return true;
  }
  if (id == sdk::kMessageLoadResources) {
    auto& host = host::api();
    if (host.loadResources(host.modulePath())) return true;
    startupTrace("Konnte Resource-File nicht laden.");
    return false;
  }
  return false;
}

void PluginEnd() {}

namespace {

std::int32_t initialise(void* first, void* third) {
  if (startCount > 0) {
    ++startCount;
    return 1;
  }
  const auto version = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(first));
  // A refused initialise counts for nothing: the next one sets the module up as the first would.
  if (version < sdk::kInterfaceVersion || !third) return -3;
  startCount = 1;
  auto* operations = static_cast<sdk::HostInterface*>(third);
  host::install(operations);
  library = new (std::nothrow) HostLibrary{operations};
  return 1;
}

std::int32_t end() {
  if (startCount <= 0) return 1;
  if (--startCount != 0) return 1;
  PluginEnd();
  if (host::installed()) {
    // The hook lives in this module's code: once the module is gone the host must not call it,
    // so the entry it replaced goes back (unless another module has replaced it since).
    sdk::FunctionTable* table = host::api().functionTable();
    if (table && table->hook == &hook) table->hook = savedHook;
    savedHook = nullptr;
    // The run state still refers to the host's copies of the last selection.
    releaseCopyDocuments();
    clearContainers();
    clearTriangleLists();
    forgetRun();
    host::api().freeResources();
  }
  delete library;
  library = nullptr;
  host::install(nullptr);
  return 1;
}

}  // namespace

}  // namespace foldra

extern "C" std::int32_t c4d_main(std::int32_t action, void* first, void* second, void* third) {
  using namespace foldra;
  switch (action) {
    case sdk::kActionInitialise:
      return initialise(first, third);
    case sdk::kActionStart:
      // A host that starts the module without initialising it gets a refusal, not a crash.
      return host::installed() && PluginStart() ? 1 : 0;
    case sdk::kActionEnd:
      return end();
    case 4:
      return 3;
    case sdk::kActionMessage:
      if (!host::installed()) return -1;
      return PluginMessage(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(first)), second) ? 1 : -1;
    default:
      return -1;
  }
}
