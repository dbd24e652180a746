// The module as a plug-in: loaded from its file by our host, its entry point, its command and
// its dialog driven by a script.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "formats/scene_json.h"
#include "runtime/module_interface.h"
#include "shell/plugin.h"
#include "support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

runtime::DialogScript script(const std::string& text) {
  runtime::DialogScript steps;
  std::string error;
  EXPECT_TRUE(runtime::parseDialogScript(text, &steps, &error)) << error;
  return steps;
}

/// A host with the module loaded from its file.
struct LoadedHost {
  runtime::Host host;
  LoadedHost() {
    std::string error;
    loaded = host.loadModule(modulePath(), &error);
    EXPECT_TRUE(loaded) << error;
  }
  bool loaded = false;
  bool run(const std::string& steps) {
    host.setDialogScript(script(steps));
    return host.runCommand(foldra::kPluginId);
  }
  std::string gadgetText(int id) const { return host.lastDialog().initial.at(id).text; }
};

/// The module file opened on its own, to call its entry point directly.
struct Entry {
  void* handle = nullptr;
  sdk::EntryPoint main = nullptr;
  explicit Entry(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) main = reinterpret_cast<sdk::EntryPoint>(dlsym(handle, sdk::kEntryPointName));
  }
  ~Entry() {
    if (handle) dlclose(handle);
  }
  int operator()(int action, std::intptr_t first = 0, void* second = nullptr, void* third = nullptr) const {
    return main(action, reinterpret_cast<void*>(first), second, third);
  }
};

std::string temporaryFolder(const std::string& name) {
  const fs::path p = fs::temp_directory_path() / ("foldra-test-" + name + "-" + std::to_string(getpid()));
  fs::remove_all(p);
  fs::create_directories(p);
  return p.string();
}

}  // namespace

TEST(Plugin, LoadsRegistersAndPrintsOneBlankLine) {
  LoadedHost h;
  ASSERT_TRUE(h.loaded);
  const runtime::Command* command = h.host.findCommand(foldra::kPluginId);
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->name, "Foldra paper model...");
  EXPECT_FALSE(command->help.empty());
  EXPECT_EQ(command->iconFile, "quarnel_logo_32x32_g60.tif");
  EXPECT_EQ(command->icon.width, 32);
  EXPECT_EQ(command->icon.height, 32);
  EXPECT_TRUE(h.host.warnings().empty());
  EXPECT_EQ(h.host.console(), (std::vector<std::string>{" "}));
}

TEST(Plugin, ExportsOnlyItsEntryPoint) {
  FILE* pipe = popen(("nm -D --defined-only '" + modulePath() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> symbols;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string s(line);
    symbols.push_back(s.substr(s.find_last_of(' ') + 1, s.size() - s.find_last_of(' ') - 2));
  }
  pclose(pipe);
  EXPECT_EQ(symbols, (std::vector<std::string>{"c4d_main"}));
}

TEST(Plugin, CommandIsEnabledWhileAnythingIsSelected) {
  LoadedHost h;
  EXPECT_EQ(h.host.commandState(foldra::kPluginId), sdk::kCommandDisabled);
  auto light = std::make_unique<scene::Object>(sdk::kObjectLight);
  light->selected = true;
  h.host.activeDocument().append(std::move(light));
  EXPECT_EQ(h.host.commandState(foldra::kPluginId), sdk::kCommandEnabled) << "a light enables it too";
  h.host.activeDocument().deselectAll();
  EXPECT_FALSE(h.run("press:1")) << "a disabled command does not run";
}

TEST(Plugin, DialogRunsTheWholeRunAsOneUndoStep) {
  LoadedHost h;
  scene::Document& d = h.host.activeDocument();
  d.append(cube());
  const std::string before = formats::sceneToJson(d);
  ASSERT_TRUE(h.run("10009=2, 10002=6052, press:1"));
  EXPECT_TRUE(h.host.lastDialog().closedByDialog);
  EXPECT_EQ(h.host.lastDialog().error, "");
  EXPECT_EQ(d.findObject("Cube"), nullptr);
  ASSERT_FALSE(d.objects().empty());
  // Stacked: the pieces lie in the planes z = 0, 100, ...
  std::set<float> planes;
  for (const auto& o : d.objects()) planes.insert(o->points.front().z);
  EXPECT_EQ(*planes.begin(), 0.0f);
  EXPECT_EQ(planes.size(), d.objects().size());
  EXPECT_EQ(d.undoCount(), 1u);
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(formats::sceneToJson(d), before);
  // The next opening shows the confirmed values; 6052 shows as 6052.
  d.deselectAll();
  d.objects().front()->selected = true;
  ASSERT_TRUE(h.run("press:2"));
  EXPECT_EQ(h.host.lastDialog().initial.at(foldra::kGadgetLayout).number, 6052);
  EXPECT_EQ(h.gadgetText(foldra::kGadgetTabWidth), "2");
  EXPECT_EQ(h.gadgetText(foldra::kGadgetPageWidth), "210");
  EXPECT_EQ(h.gadgetText(foldra::kGadgetPageHeight), "297");
}

TEST(Plugin, TheUnfoldingChoiceStartsAtLongestEdgeAndKeepsCompactOnceChosen) {
  LoadedHost h;
  scene::Document& d = h.host.activeDocument();
  d.append(bumpySphere(4));
  auto pieces = [&] { return d.objects().size(); };
  ASSERT_TRUE(h.run("press:1"));
  EXPECT_EQ(h.host.lastDialog().initial.at(foldra::kGadgetUnfolding).number, 6060) << "longest edge unless chosen";
  const std::size_t longestEdge = pieces();
  ASSERT_TRUE(d.undo());
  // With bare seams allowed, compact makes fewer pieces than longest edge; with a tab on every
  // seam it may choose longest edge's own.
  ASSERT_TRUE(h.run("10010=6061, 10013=1, press:1"));
  const std::size_t compact = pieces();
  EXPECT_LT(compact, longestEdge);
  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(h.run("press:1"));
  EXPECT_EQ(h.host.lastDialog().initial.at(foldra::kGadgetUnfolding).number, 6061);
  EXPECT_EQ(pieces(), compact) << "the confirmed choice stays";
}

TEST(Plugin, CancelAfterEditsKeepsTheConfirmedValues) {
  LoadedHost h;
  h.host.activeDocument().append(cube());
  ASSERT_TRUE(h.run("10003=0, 10007=150, 10005=1, press:2"));
  EXPECT_EQ(h.host.activeDocument().objects().size(), 1u) << "cancel runs nothing";
  ASSERT_TRUE(h.run("press:2"));
  const auto& shown = h.host.lastDialog().initial;
  EXPECT_TRUE(shown.at(foldra::kGadgetOriginals).checked);
  EXPECT_TRUE(shown.at(foldra::kGadgetMaterials).checked);
  EXPECT_FALSE(shown.at(foldra::kGadgetPageLimit).checked);
  EXPECT_TRUE(shown.at(foldra::kGadgetTabs).checked);
  EXPECT_EQ(h.gadgetText(foldra::kGadgetPageWidth), "210");
  EXPECT_EQ(shown.at(foldra::kGadgetLayout).number, 6050);
}

TEST(Plugin, ScriptErrorsAreReportedNotGuessed) {
  LoadedHost h;
  h.host.activeDocument().append(cube());
  ASSERT_TRUE(h.run("10099=1, press:1"));
  EXPECT_EQ(h.host.lastDialog().error, "the dialog has no gadget 10099");
  EXPECT_EQ(h.host.activeDocument().objects().size(), 1u) << "the script stopped before confirm";
  ASSERT_TRUE(h.run("10002=6060"));
  EXPECT_EQ(h.host.lastDialog().error, "gadget 10002 has no entry 6060");
  ASSERT_TRUE(h.run("10003=yes"));
  EXPECT_NE(h.host.lastDialog().error.find("neither 0 nor 1"), std::string::npos);
}

TEST(Plugin, HookCallsTheHostsEntryItReplaced) {
  LoadedHost h;
  EXPECT_NE(h.host.functionTable().hook, nullptr);
  const int before = runtime::Host::hookCalls();
  h.host.activeDocument().append(cube());
  ASSERT_TRUE(h.run("press:1"));  // the run posts a change event
  EXPECT_GT(runtime::Host::hookCalls(), before);
}

TEST(Plugin, UnloadingGivesTheHookEntryBack) {
  runtime::Host host;
  void (*own)(void*) = host.functionTable().hook;
  std::string error;
  ASSERT_TRUE(host.loadModule(modulePath(), &error)) << error;
  EXPECT_NE(host.functionTable().hook, own);
  host.unloadModules();
  EXPECT_EQ(host.functionTable().hook, own) << "no entry may point into an unloaded module";
}

TEST(Plugin, EntryPointActions) {
  Entry entry(modulePath());
  ASSERT_NE(entry.main, nullptr);
  runtime::Host host;
  auto& operations = dynamic_cast<runtime::ModuleInterface&>(host.interfaceFor(moduleFolder()));
  EXPECT_EQ(entry(1, 10999, nullptr, &operations), -3) << "an older host";
  EXPECT_EQ(entry(3), 1);
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, nullptr), -3) << "no host interface";
  EXPECT_EQ(entry(3), 1);
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, &operations), 1);
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, nullptr), 1) << "the second initialise answers at once";
  EXPECT_EQ(entry(6, 0), 1) << "message 0";
  EXPECT_FALSE(operations.resourcesLoaded()) << "message 0 does not touch the resources";
  EXPECT_EQ(entry(6, 2), -1) << "message 2";
  EXPECT_EQ(entry(6, 1), 1) << "message 1 loads the resources";
  EXPECT_TRUE(operations.resourcesLoaded());
  EXPECT_EQ(entry(4), 3);
  EXPECT_EQ(entry(5), -1);
  EXPECT_EQ(entry(7), -1);
  EXPECT_EQ(entry(3), 1);
  EXPECT_TRUE(operations.resourcesLoaded()) << "released only by the last end";
  EXPECT_EQ(entry(3), 1);
  EXPECT_FALSE(operations.resourcesLoaded());
}

TEST(Plugin, ARefusedInitialiseLeavesTheModuleAsItWasBefore) {
  Entry entry(modulePath());
  ASSERT_NE(entry.main, nullptr);
  runtime::Host host;
  auto& operations = dynamic_cast<runtime::ModuleInterface&>(host.interfaceFor(moduleFolder()));
  EXPECT_EQ(entry(1, 10999, nullptr, &operations), -3) << "an older host";
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, nullptr), -3) << "no host interface";
  // The next initialise sets the module up as the first would have.
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, &operations), 1);
  EXPECT_EQ(entry(6, 1), 1) << "the resources load";
  EXPECT_TRUE(operations.resourcesLoaded());
  EXPECT_EQ(entry(2), 1) << "the command registers";
  EXPECT_NE(host.findCommand(foldra::kPluginId), nullptr);
  EXPECT_EQ(entry(3), 1);
  EXPECT_FALSE(operations.resourcesLoaded()) << "one end matches the one initialise that counted";
}

TEST(Plugin, StartAndMessagesBeforeInitialiseAreRefused) {
  Entry entry(modulePath());
  ASSERT_NE(entry.main, nullptr);
  runtime::Host host;
  auto& operations = dynamic_cast<runtime::ModuleInterface&>(host.interfaceFor(moduleFolder()));
  EXPECT_EQ(entry(2), 0) << "start registers nothing";
  EXPECT_EQ(entry(6, 1), -1) << "message 1 loads nothing";
  EXPECT_EQ(entry(6, 0), -1);
  EXPECT_EQ(host.findCommand(foldra::kPluginId), nullptr);
  EXPECT_FALSE(operations.resourcesLoaded());
  EXPECT_EQ(entry(3), 1) << "an end without an initialise does nothing";
  EXPECT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, &operations), 1) << "and the module can still be set up";
  EXPECT_EQ(entry(6, 1), 1);
  EXPECT_EQ(entry(2), 1);
  EXPECT_EQ(entry(3), 1);
}

TEST(Plugin, MissingResourcesAndBrokenModulesGiveClearErrors) {
  const std::string folder = temporaryFolder("module");
  fs::copy_file(modulePath(), folder + "/Foldra_C4d.cdl");
  {
    Entry entry(folder + "/Foldra_C4d.cdl");
    runtime::Host host;
    auto& operations = host.interfaceFor(folder);
    ASSERT_EQ(entry(1, sdk::kInterfaceVersion, nullptr, &operations), 1);
    EXPECT_EQ(entry(6, 1), -1) << "no resource folder beside the module";
    EXPECT_EQ(entry(3), 1);
  }
  runtime::Host host;
  std::string error;
  EXPECT_FALSE(host.loadModule(folder + "/Foldra_C4d.cdl", &error));
  EXPECT_NE(error.find("could not load its resources"), std::string::npos) << error;
  EXPECT_FALSE(host.loadModule(folder + "/missing.cdl", &error));
  EXPECT_NE(error.find("no such module file"), std::string::npos) << error;
  std::ofstream(folder + "/text.cdl") << "not a library";
  EXPECT_FALSE(host.loadModule(folder + "/text.cdl", &error));
  EXPECT_NE(error.find("cannot be loaded"), std::string::npos) << error;
  EXPECT_FALSE(host.loadModule(FOLDRA_NOT_A_MODULE, &error));
  EXPECT_NE(error.find("not a module (it exports no c4d_main)"), std::string::npos) << error;
  EXPECT_EQ(host.moduleCount(), 0u);
  fs::remove_all(folder);
}

// ---- The dialog, linked into the test, where its settings can be seen ------------------------

TEST(Dialog, ConfirmReadsTheGadgetsAndKeepsTheSixtyFourBitValue) {
  LinkedHost h;
  foldra::FoldraDialog dialog;
  h.host.setDialogScript(script("10007=100.123456789, 10002=6051, 10004=0, press:1"));
  ASSERT_TRUE(dialog.Open(sdk::kDialogModal, foldra::kPluginId, -1, -1, 0, 0, 0));
  EXPECT_EQ(foldra::settings.Seitenbreite, 100.123456789);
  EXPECT_EQ(foldra::settings.AlsAnimation, 1);
  EXPECT_FALSE(foldra::settings.Materialflag);
  EXPECT_TRUE(foldra::settings.Originalflag);
  h.host.setDialogScript(script("press:2"));
  ASSERT_TRUE(dialog.Open(sdk::kDialogModal, foldra::kPluginId, -1, -1, 0, 0, 0));
  // Shown as the nearest 32-bit float.
  EXPECT_EQ(h.host.lastDialog().initial.at(foldra::kGadgetPageWidth).text, "100.12346");
  EXPECT_EQ(h.host.lastDialog().initial.at(foldra::kGadgetLayout).number, 6051);
}

TEST(Dialog, DefaultsAndGadgetChangesWithoutConfirm) {
  LinkedHost h;
  foldra::FoldraDialog dialog;
  h.host.setDialogScript(script("10005=1, 10008=12, press:2"));
  ASSERT_TRUE(dialog.Open(sdk::kDialogModal, foldra::kPluginId, -1, -1, 0, 0, 0));
  EXPECT_FALSE(foldra::settings.Seitenflag) << "only confirm reads the gadgets";
  EXPECT_EQ(foldra::settings.Seitenhoehe, 297.0);
  h.host.setDialogScript(script("10007=abc, press:1"));
  ASSERT_TRUE(dialog.Open(sdk::kDialogModal, foldra::kPluginId, -1, -1, 0, 0, 0));
  const foldra::Settings& s = foldra::settings;
  EXPECT_TRUE(s.Originalflag && s.Materialflag && !s.Seitenflag && s.Laschenflag);
  EXPECT_EQ(s.Seitenbreite, 0.0) << "text that is no number is stored as the conversion returns it";
  EXPECT_EQ(s.Seitenhoehe, 297.0);
  EXPECT_EQ(s.Laschenbreite, 17.0);
  EXPECT_EQ(s.AlsAnimation, 0);
}
