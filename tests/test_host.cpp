// Our host's services to a module: texts, dialogs driven by scripts, weak material links.
#include <gtest/gtest.h>

#include "runtime/host.h"
#include "runtime/module_interface.h"
#include "support.h"

using namespace testing_support;

TEST(HostTexts, NumbersAsTheHostWritesAndReadsThem) {
  runtime::Host host;
  sdk::HostInterface& ops = host.interfaceFor(moduleFolder());
  EXPECT_EQ(ops.realToText(210.0, -1, -1, false, '0'), "210");
  EXPECT_EQ(ops.realToText(0.1, -1, -1, false, '0'), "0.1");
  EXPECT_EQ(ops.realToText(static_cast<float>(100.123456789), -1, -1, false, '0'), "100.12346");
  EXPECT_EQ(ops.realToText(3.14159, 3, 2, false, '0'), "003.14");
  EXPECT_EQ(ops.intToText(-42), "-42");
  bool error = true;
  EXPECT_EQ(ops.textToReal(" 12.5 ", 10, &error), 12.5);
  EXPECT_FALSE(error);
  for (const char* bad : {"", "abc", "1,5", "12x", "1e999", "nan", "inf"}) {
    EXPECT_EQ(ops.textToReal(bad, 10, &error), 0.0) << bad;
    EXPECT_TRUE(error) << bad;
  }
  EXPECT_EQ(ops.compareText("a", "a"), 0);
  EXPECT_NE(ops.compareText("a", "A"), 0);
}

TEST(HostDialogs, ScriptsAreParsedStrictly) {
  runtime::DialogScript script;
  std::string error;
  ASSERT_TRUE(runtime::parseDialogScript("10007=100.5, 10003=0\npress:1", &script, &error));
  ASSERT_EQ(script.size(), 3u);
  EXPECT_EQ(script[0].value, "100.5");
  EXPECT_EQ(script[2].kind, runtime::DialogStep::Kind::Press);
  EXPECT_FALSE(runtime::parseDialogScript("press:one", &script, &error));
  EXPECT_FALSE(runtime::parseDialogScript("10007", &script, &error));
  EXPECT_NE(error.find("expected <gadget id>=<value>"), std::string::npos);
}

TEST(HostMaterials, LinksToAFreedDocumentsMaterialsAreDropped) {
  LinkedHost h;
  sdk::HostInterface& ops = *foldra::host::installed();
  auto m = std::make_unique<scene::Material>();
  h.document().addMaterial(std::move(m));
  scene::Object* o = h.add(grid(1, 1));
  o->addTag(sdk::kTagTexture, "t")->material = h.document().materials()[0].get();
  sdk::ObjectList* list = ops.newObjectList();
  ops.activeObjects(ops.activeDocument(), list, 1);
  sdk::Document* copy = ops.copySelection(ops.activeDocument(), list);
  ops.freeObjectList(list);
  // A tag in the user's document pointed at the copy's material, then the copy is freed.
  const auto* copied = reinterpret_cast<scene::Document*>(copy);
  o->tags[0]->material = copied->materials()[0].get();
  ops.freeDocument(copy);
  EXPECT_EQ(o->tags[0]->material, nullptr);
}
