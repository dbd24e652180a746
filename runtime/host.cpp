#include "runtime/host.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "runtime/module_interface.h"

namespace runtime {

namespace {

std::atomic<int> hookCount{0};

// The host's own entry of the function table: counts the change notifications it receives.
void hostHook(void*) { ++hookCount; }

}  // namespace

int Host::hookCalls() { return hookCount.load(); }

Host::Host() : active_(std::make_unique<scene::Document>()) { functions_.hook = &hostHook; }

Host::~Host() {
  unloadModules();
  // Commands of linked module code (registered through interfaceFor) are deleted before the
  // interfaces they were registered through.
  commands_.clear();
}

void Host::setActiveDocument(std::unique_ptr<scene::Document> document) {
  if (document) active_ = std::move(document);
}

std::unique_ptr<scene::Document> Host::takeActiveDocument() {
  auto document = std::move(active_);
  active_ = std::make_unique<scene::Document>();
  return document;
}

scene::Document* Host::adoptDocument(std::unique_ptr<scene::Document> document) {
  loose_.push_back(std::move(document));
  return loose_.back().get();
}

void Host::freeDocument(scene::Document* document) {
  auto it = std::find_if(loose_.begin(), loose_.end(),
                         [&](const std::unique_ptr<scene::Document>& d) { return d.get() == document; });
  if (it == loose_.end()) return;
  // Material links are weak: tags elsewhere that point at this document's materials (for
  // example tags copied from it) lose their link instead of pointing at freed memory.
  auto gone = [&](const scene::Material* m) { return m->document == document; };
  active_->dropMaterialLinks(gone);
  for (auto& other : loose_) {
    if (other.get() != document) other->dropMaterialLinks(gone);
  }
  for (auto& object : freeObjects_) {
    for (auto& tag : object->tags) {
      if (tag->material && gone(tag->material)) tag->material = nullptr;
    }
  }
  loose_.erase(it);
}

sdk::HostInterface& Host::interfaceFor(const std::string& moduleFolder) {
  linked_.push_back(std::make_unique<ModuleInterface>(*this, moduleFolder, SIZE_MAX));
  return *linked_.back();
}

bool Host::loadModule(const std::string& path, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = path + ": no such module file";
    return false;
  }
  auto module = std::make_unique<Module>();
  module->path = path;
  module->folder = fs::absolute(path, ec).parent_path().string();
  module->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module->handle) {
    const char* why = dlerror();
    *error = path + ": cannot be loaded (" + (why ? why : "unknown reason") + ")";
    return false;
  }
  module->entry = reinterpret_cast<sdk::EntryPoint>(dlsym(module->handle, sdk::kEntryPointName));
  if (!module->entry) {
    dlclose(module->handle);
    *error = path + ": not a module (it exports no " + sdk::kEntryPointName + ")";
    return false;
  }
  const std::size_t index = modules_.size();
  module->interface = std::make_unique<ModuleInterface>(*this, module->folder, index);
  Module& m = *module;
  modules_.push_back(std::move(module));

  auto fail = [&](const std::string& why, bool initialised) {
    if (initialised) {
      for (auto it = commands_.begin(); it != commands_.end();) {
        it = it->second.module == index ? commands_.erase(it) : std::next(it);
      }
      m.entry(sdk::kActionEnd, nullptr, nullptr, nullptr);
    }
    dlclose(m.handle);
    modules_.pop_back();
    *error = path + ": " + why;
    return false;
  };

  auto* version = reinterpret_cast<void*>(static_cast<std::intptr_t>(sdk::kInterfaceVersion));
  const std::int32_t init = m.entry(sdk::kActionInitialise, version, nullptr,
                                    static_cast<sdk::HostInterface*>(m.interface.get()));
  if (init != 1) return fail("refused to initialise (answer " + std::to_string(init) + ")", false);
  auto* message = reinterpret_cast<void*>(static_cast<std::intptr_t>(sdk::kMessageLoadResources));
  if (m.entry(sdk::kActionMessage, message, nullptr, nullptr) != 1) {
    const std::string why = m.interface->lastResourceError();
    return fail("could not load its resources" + (why.empty() ? std::string() : " (" + why + ")"), true);
  }
  if (m.entry(sdk::kActionStart, nullptr, nullptr, nullptr) != 1) {
    return fail("refused to start (its command could not be registered)", true);
  }
  const bool registered = std::any_of(commands_.begin(), commands_.end(),
                                      [&](const auto& c) { return c.second.module == index; });
  if (!registered) return fail("registered no command", true);
  return true;
}

void Host::unload(Module& module) {
  const std::size_t index = static_cast<std::size_t>(
      std::find_if(modules_.begin(), modules_.end(), [&](const auto& m) { return m.get() == &module; }) -
      modules_.begin());
  // The module's command objects are its own code: delete them while it is still loaded.
  for (auto it = commands_.begin(); it != commands_.end();) {
    it = it->second.module == index ? commands_.erase(it) : std::next(it);
  }
  module.entry(sdk::kActionEnd, nullptr, nullptr, nullptr);
  dlclose(module.handle);
}

void Host::unloadModules() {
  while (!modules_.empty()) {
    unload(*modules_.back());
    modules_.pop_back();
  }
}

std::int32_t Host::messageModule(std::int32_t command, std::int32_t message, void* data) {
  const Command* c = findCommand(command);
  if (!c || c->module >= modules_.size()) return -1;
  auto* id = reinterpret_cast<void*>(static_cast<std::intptr_t>(message));
  return modules_[c->module]->entry(sdk::kActionMessage, id, data, nullptr);
}

const Command* Host::findCommand(std::int32_t id) const {
  auto it = commands_.find(id);
  return it == commands_.end() ? nullptr : &it->second;
}

std::int32_t Host::commandState(std::int32_t id) {
  auto it = commands_.find(id);
  if (it == commands_.end() || !it->second.client) return sdk::kCommandDisabled;
  return it->second.client->state(reinterpret_cast<sdk::Document*>(active_.get()));
}

bool Host::runCommand(std::int32_t id) {
  if ((commandState(id) & sdk::kCommandEnabled) == 0) return false;
  return commands_.at(id).client->execute(reinterpret_cast<sdk::Document*>(active_.get()));
}

bool Host::openDialog(sdk::DialogClient* client, std::int32_t pluginId) {
  lastDialog_ = DialogReport{};
  DialogScript script = std::move(script_);
  script_.clear();
  DialogWindow window;
  window.pluginId = pluginId;
  auto* handle = reinterpret_cast<sdk::Dialog*>(&window);
  if (!client->createLayout(handle) || !client->initValues(handle)) {
    lastDialog_.error = "the dialog could not be built";
    return false;
  }
  lastDialog_.opened = true;
  lastDialog_.initial = window.gadgets;
  for (const DialogStep& step : script) {
    if (window.closed) {
      lastDialog_.error = "the dialog closed before the step for gadget " + std::to_string(step.gadget);
      break;
    }
    auto it = window.gadgets.find(step.gadget);
    if (it == window.gadgets.end()) {
      lastDialog_.error = "the dialog has no gadget " + std::to_string(step.gadget);
      break;
    }
    if (step.kind == DialogStep::Kind::Set) {
      if (!applyStep(step, &it->second, &lastDialog_.error)) break;
    } else if (it->second.kind != GadgetDescription::Kind::Button) {
      lastDialog_.error = "gadget " + std::to_string(step.gadget) + " is not a button";
      break;
    }
    ++lastDialog_.stepsTaken;
    client->command(handle, step.gadget);
  }
  lastDialog_.closedByDialog = window.closed;
  lastDialog_.final = window.gadgets;
  // Whatever the script left open, the person closes the window.
  window.closed = true;
  return true;
}

}  // namespace runtime
