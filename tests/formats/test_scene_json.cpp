// Writing scene files: text that is not UTF-8, numbers at the ends of their range, numbers that
// are not finite, an empty scene, and a file written in pieces equal to the text in one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "formats/json_writer.h"
#include "formats/scene_json.h"
#include "mesh_test_support.h"

namespace {

using meshtest::TempDir;

std::string jsonString(const std::string& text) {
  std::string out;
  formats::appendJsonString(out, text);
  return out;
}

/// The same text as the JSON library writes it, replacing what is not UTF-8: an independent
/// reference for where the replacement characters go.
std::string referenceString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

TEST(JsonText, BytesThatAreNotUtf8BecomeReplacementCharactersAsTheReferenceDoes) {
  static const char kControls[] = "nul\0tab\t\"quote\" back\\slash \x7f \x1f";
  const std::vector<std::string> cases = {
      "plain",
      "\xff\xfe",                  // bytes that never start a character
      "a\xc3",                     // a character cut off at the end
      "\xc3(",                     // a lead byte followed by a plain character
      "\xe0\x80\x80",              // an overlong form
      "\xc0\xaf",                  // an overlong slash
      "\xed\xa0\x80",              // a surrogate
      "\xf4\x90\x80\x80",          // above U+10FFFF
      "\xf0\x9f\x98\x80 \xc3\xa9",  // valid four- and two-byte characters
      "\xe2\x82",                  // a three-byte character without its last byte
      std::string(kControls, sizeof kControls - 1),
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(jsonString(text), referenceString(text)) << text;
  }
  // Random bytes, mostly from the upper half where the sequences are.
  std::mt19937 random(20);
  std::uniform_int_distribution<int> length(0, 12), byte(0, 255), high(0x80, 0xff), which(0, 2);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int k = length(random); k > 0; --k) text += static_cast<char>(which(random) ? high(random) : byte(random));
    ASSERT_EQ(jsonString(text), referenceString(text)) << ::testing::PrintToString(text);
  }
}

TEST(JsonText, LayoutPutsStructureOnLinesAndDataOnOneLine) {
  formats::JsonWriter out;
  out.beginObject();
  out.key("name");
  out.string("a");
  out.key("empty");
  out.beginArray();
  out.endArray();
  out.key("points");
  out.beginArray(formats::JsonLayout::Inline);
  for (int i = 0; i < 2; ++i) {
    out.beginArray();
    out.number(1.5f);
    out.number(-0.0f);
    out.integer(-7);
    out.endArray();
  }
  out.endArray();
  out.endObject();
  out.finish();
  EXPECT_EQ(out.text(), "{\n \"name\": \"a\",\n \"empty\": [],\n \"points\": [[1.5,-0.0,-7],[1.5,-0.0,-7]]\n}\n");
}

scene::Object* polygonObject(scene::Document& document, const std::string& name, std::vector<scene::Point> points) {
  auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  object->name = name;
  object->points = std::move(points);
  for (std::int32_t i = 0; i + 2 < static_cast<std::int32_t>(object->points.size()); i += 3) {
    object->polygons.push_back({i, i + 1, i + 2, i + 2});
  }
  return document.append(std::move(object));
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SceneJson, NumbersAtTheEndsOfTheirRangeReadBackBitForBit) {
  const float floats[] = {FLT_MAX, -FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(), -0.0f,
                          0.1f,    1e-30f,   16777216.0f, 123456789.0f, -3.4e37f, 7.0f, 1e10f};
  const double doubles[] = {DBL_MAX, -DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min(), -0.0, 0.1, 1e300};
  scene::Document document;
  std::vector<scene::Point> points;
  for (float f : floats) points.push_back({f, -f, f / 3});
  scene::Object* object = polygonObject(document, "Extremes", points);
  scene::UVWEntry entry{{floats[0], floats[3], floats[4]}, {floats[5], floats[6], floats[7]},
                        {floats[8], floats[9], floats[10]}, {floats[11], floats[2], floats[1]}};
  object->addTag(sdk::kTagUVW, "UVW")->uvw = {entry, entry, entry, entry};
  object->addTag(sdk::kTagSmoothing, "Smoothing")->angle = doubles[3];
  auto material = std::make_unique<scene::Material>();
  material->color = {doubles[0], doubles[2], doubles[4]};
  for (std::size_t i = 0; i < std::size(doubles); ++i) material->values["v" + std::to_string(i)] = doubles[i];
  document.addMaterial(std::move(material));

  const std::string text = formats::sceneToJson(document);
  std::string error;
  const auto back = formats::sceneFromJson(text, &error);
  ASSERT_NE(back, nullptr) << error;
  const scene::Object& o = *back->objects()[0];
  ASSERT_EQ(o.points.size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_TRUE(sameBits(o.points[i].x, points[i].x) && sameBits(o.points[i].y, points[i].y) &&
                sameBits(o.points[i].z, points[i].z))
        << "point " << i << ": " << o.points[i].x << " for " << points[i].x;
  }
  const scene::UVWEntry& e = o.tag(sdk::kTagUVW, 0)->uvw[3];
  EXPECT_TRUE(sameBits(e.a.x, FLT_MAX) && sameBits(e.a.z, -0.0f) && sameBits(e.d.y, FLT_MIN));
  EXPECT_TRUE(sameBits(o.tag(sdk::kTagSmoothing, 0)->angle, doubles[3]));
  const scene::Material& m = *back->materials()[0];
  EXPECT_TRUE(sameBits(m.color[0], DBL_MAX) && sameBits(m.color[1], DBL_MIN));
  for (std::size_t i = 0; i < std::size(doubles); ++i) {
    EXPECT_TRUE(sameBits(m.values.at("v" + std::to_string(i)), doubles[i])) << i;
  }
  EXPECT_EQ(formats::sceneToJson(*back), text);
}

TEST(SceneJson, AnEmptySceneRoundTrips) {
  scene::Document empty;
  const std::string text = formats::sceneToJson(empty);
  EXPECT_NE(text.find("\"objects\": []"), std::string::npos) << text;
  std::string error;
  const auto back = formats::sceneFromJson(text, &error);
  ASSERT_NE(back, nullptr) << error;
  EXPECT_TRUE(back->objects().empty());
  EXPECT_TRUE(back->materials().empty());
  EXPECT_EQ(formats::sceneToJson(*back), text);
}

/// A valid small scene, for breaking one number at a time.
std::unique_ptr<scene::Document> smallScene() {
  auto document = std::make_unique<scene::Document>();
  auto material = std::make_unique<scene::Material>();
  material->name = "Card";
  material->values["gloss"] = 0.5;
  document->addMaterial(std::move(material));
  scene::Object* o = polygonObject(*document, "Sheet", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  o->addTag(sdk::kTagUVW, "UVW")->uvw = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}};
  o->addTag(sdk::kTagSmoothing, "Smoothing")->angle = 30;
  auto ball = std::make_unique<scene::Object>(sdk::kObjectSphere);
  ball->name = "Ball";
  document->append(std::move(ball));
  return document;
}

TEST(SceneJson, NumbersThatAreNotFiniteAreNeverWrittenAndRefuseTheSave) {
  struct Break {
    const char* owner;
    std::function<void(scene::Document&)> apply;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Break> breaks = {
      {"\"Sheet\"", [&](scene::Document& d) { d.objects()[0]->points[1].x = nan; }},
      {"\"Sheet\"", [](scene::Document& d) { d.objects()[0]->tag(sdk::kTagUVW, 0)->uvw[0].c.y = -INFINITY; }},
      {"\"Sheet\"", [](scene::Document& d) { d.objects()[0]->tag(sdk::kTagSmoothing, 0)->angle = NAN; }},
      {"\"Card\"", [](scene::Document& d) { d.materials()[0]->color[2] = INFINITY; }},
      {"\"Card\"", [](scene::Document& d) { d.materials()[0]->values["gloss"] = NAN; }},
      {"\"Ball\"", [](scene::Document& d) { d.objects()[1]->primitive.radius = INFINITY; }},
  };
  for (std::size_t i = 0; i < breaks.size(); ++i) {
    SCOPED_TRACE(i);
    auto document = smallScene();
    breaks[i].apply(*document);
    std::string text = formats::sceneToJson(*document);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
    std::string error;
    EXPECT_EQ(formats::sceneFromJson(formats::sceneToJson(*document), &error), nullptr);

    TempDir dir;
    const std::string path = dir.file("scene.json");
    EXPECT_FALSE(formats::saveScene(*document, path, &error));
    EXPECT_NE(error.find(path + ": "), std::string::npos) << error;
    EXPECT_NE(error.find(breaks[i].owner), std::string::npos) << error;
    EXPECT_NE(error.find("not a finite number"), std::string::npos) << error;
    EXPECT_TRUE(dir.names().empty()) << "a refused save left " << dir.names().front();
  }
}

TEST(SceneJson, AFileWrittenInPiecesEqualsTheTextAndGrowsByTheNumbersAlone) {
  // Large enough that the file is handed over in several pieces.
  scene::Document document;
  std::vector<scene::Point> points(210000, scene::Point{1.5f, -2.0f, 3.0f});
  for (std::size_t i = 0; i < points.size(); i += 7) points[i].x = static_cast<float>(i) * 0.001f;
  polygonObject(document, "Large", points);
  const std::string text = formats::sceneToJson(document);
  ASSERT_GT(text.size(), 3u << 20);
  TempDir dir;
  std::string error;
  ASSERT_TRUE(formats::saveScene(document, dir.file("large.json"), &error)) << error;
  EXPECT_EQ(meshtest::read(dir.file("large.json")), text);
  EXPECT_EQ(formats::sceneToJson(document), text) << "the same document gives the same text";

  // Three more equal points and one more triangle cost exactly their text: no space or line
  // break goes between numbers.
  scene::Document more;
  points.insert(points.end(), 3, scene::Point{1.5f, -2.0f, 3.0f});
  polygonObject(more, "Large", points);
  const std::size_t added = formats::sceneToJson(more).size() - text.size();
  EXPECT_EQ(added, 3 * std::string("[1.5,-2,3],").size() + std::string("[210000,210001,210002,210002],").size());
}

}  // namespace
