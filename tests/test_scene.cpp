// Our host's document model: tree, undo, copies, polygon forms, triangulation, neighbours.
#include <gtest/gtest.h>

#include <set>

#include "formats/scene_json.h"
#include "scene/document.h"
#include "scene/neighbor.h"
#include "support.h"

using namespace testing_support;

namespace {

std::unique_ptr<scene::Object> named(const std::string& name, std::int32_t type = sdk::kObjectNull) {
  auto o = std::make_unique<scene::Object>(type);
  o->name = name;
  return o;
}

std::vector<std::string> topNames(const scene::Document& d) {
  std::vector<std::string> out;
  for (const auto& o : d.objects()) out.push_back(o->name);
  return out;
}

}  // namespace

TEST(Document, InsertFirstAfterAndBelow) {
  scene::Document d;
  scene::Object* a = d.insert(named("a"));
  d.insert(named("b"));                           // first
  d.insert(named("c"), nullptr, a);               // after a
  scene::Object* child = d.insert(named("d"), a);  // below a
  EXPECT_EQ(topNames(d), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(child->parent(), a);
  EXPECT_EQ(child->document(), &d);
  scene::Document other;
  EXPECT_EQ(d.insert(named("e"), nullptr, other.append(named("x"))), nullptr) << "a predecessor of another document";
}

TEST(Document, ActiveObjectsWithAndWithoutThoseBelowSelected) {
  scene::Document d;
  scene::Object* a = d.append(named("a"));
  a->selected = true;
  d.append(named("a1"), a)->selected = true;
  scene::Object* b = d.append(named("b"));
  d.append(named("b1"), b)->selected = true;
  std::vector<std::string> names;
  for (auto* o : d.activeObjects(true)) names.push_back(o->name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "a1", "b1"}));
  names.clear();
  for (auto* o : d.activeObjects(false)) names.push_back(o->name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b1"}));
}

TEST(Document, UndoAndRedoOfAGroupWithNewAndRemovedObjects) {
  scene::Document d;
  scene::Object* a = d.append(named("a"));
  scene::Object* child = d.append(named("a1"), a);
  d.append(named("b"));
  const std::string before = formats::sceneToJson(d);
  d.startUndo();
  // New objects are recorded before they are inserted, removals before they happen.
  auto fresh = named("new");
  scene::Object* raw = fresh.get();
  EXPECT_TRUE(d.addUndo(sdk::kUndoNewObject, raw));
  d.insert(std::move(fresh));
  EXPECT_TRUE(d.addUndo(sdk::kUndoRemoveObject, a));
  d.remove(a);
  EXPECT_TRUE(d.addUndo(sdk::kUndoRemoveObject, child));  // below a removed parent
  d.remove(child);
  EXPECT_TRUE(d.addUndo(sdk::kUndoDocumentTime, &d));
  d.time.fps = 5;
  d.endUndo();
  const std::string after = formats::sceneToJson(d);
  EXPECT_EQ(topNames(d), (std::vector<std::string>{"new", "b"}));
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(formats::sceneToJson(d), before);
  EXPECT_EQ(a->children.front().get(), child) << "the same objects come back";
  ASSERT_TRUE(d.redo());
  EXPECT_EQ(formats::sceneToJson(d), after);
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(formats::sceneToJson(d), before);
  EXPECT_FALSE(d.addUndo(sdk::kUndoRemoveObject, a)) << "outside a group nothing is recorded";
}

TEST(Document, SelectionCopyTakesSubtreesAndTheirMaterials) {
  scene::Document d;
  for (const char* n : {"unused", "used"}) {
    auto m = std::make_unique<scene::Material>();
    m->name = n;
    d.addMaterial(std::move(m));
  }
  scene::Object* parent = d.append(cube());
  scene::Object* child = d.append(tetrahedron(), parent);
  child->addTag(sdk::kTagTexture, "t")->material = d.materials()[1].get();
  auto copy = scene::copySelection(d, {parent, child});
  ASSERT_EQ(copy->objects().size(), 1u) << "the child comes with its parent, not twice";
  ASSERT_EQ(copy->materials().size(), 1u);
  EXPECT_EQ(copy->materials()[0]->name, "used");
  EXPECT_EQ(copy->objects()[0]->children[0]->tags[0]->material, copy->materials()[0].get());
  auto alone = scene::copySelection(d, {child});
  EXPECT_EQ(alone->objects().size(), 1u) << "a child listed alone becomes a top-level object";
}

TEST(Document, PolygonFormsOfThePrimitives) {
  scene::Document d;
  auto c = std::make_unique<scene::Object>(sdk::kObjectCube);
  c->addTag(sdk::kTagAnnotation, "note");
  d.append(std::move(c));
  d.append(std::make_unique<scene::Object>(sdk::kObjectPlane));
  d.append(std::make_unique<scene::Object>(sdk::kObjectSphere));
  d.append(std::make_unique<scene::Object>(sdk::kObjectLight));
  auto p = scene::polygonForm(d);
  ASSERT_EQ(p->objects().size(), 4u);
  const scene::Object& cube = *p->objects()[0];
  EXPECT_EQ(cube.type, sdk::kObjectPolygon);
  EXPECT_EQ(cube.points.size(), 8u) << "faces share their corners";
  EXPECT_EQ(cube.polygons.size(), 6u);
  EXPECT_EQ(cube.tags[0]->type, sdk::kTagAnnotation) << "its own tags first";
  EXPECT_EQ(cube.tag(sdk::kTagUVW, 0)->uvw.size(), 6u);
  EXPECT_EQ(p->objects()[1]->polygons.size(), 16u);
  EXPECT_EQ(p->objects()[3]->type, sdk::kObjectLight) << "what has no polygon form stays";
  // Every edge of the sphere's polygon form is shared by exactly two polygons: closed.
  scene::Object& sphere = *p->objects()[2];
  scene::triangulate(sphere);
  scene::NeighborSearch n;
  ASSERT_TRUE(n.init(static_cast<int>(sphere.points.size()), sphere.polygons.data(), static_cast<int>(sphere.polygons.size())));
  for (std::size_t k = 0; k < sphere.polygons.size(); ++k) {
    const auto& q = sphere.polygons[k];
    for (auto [a, b] : {std::pair{q.a, q.b}, std::pair{q.b, q.c}, std::pair{q.c, q.a}}) {
      EXPECT_GE(n.neighbor(a, b, static_cast<int>(k)), 0);
    }
  }
}

TEST(Document, TriangulationKeepsTagsConsistent) {
  scene::Object o(sdk::kObjectPolygon);
  // A non-convex quadrangle (reflex corner at c): the cut must run through c.
  o.points = {{0, 0, 0}, {4, 0, 0}, {1, 1, 0}, {0, 4, 0}};
  o.polygons = {{0, 1, 2, 3}};
  scene::Tag* uvw = o.addTag(sdk::kTagUVW, "uvw");
  uvw->uvw = {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
  o.addTag(sdk::kTagPolygonSelection, "s")->selection.add(0);
  scene::triangulate(o);
  ASSERT_EQ(o.polygons.size(), 2u);
  EXPECT_EQ(o.polygons[0], (scene::Polygon{0, 1, 2, 2}));
  EXPECT_EQ(o.polygons[1], (scene::Polygon{0, 2, 3, 3}));
  EXPECT_EQ(uvw->uvw[1].b, (scene::Point{1, 1, 0})) << "corner c of the quadrangle";
  EXPECT_EQ(uvw->uvw[1].c, (scene::Point{0, 1, 0}));
  EXPECT_EQ(o.tag(sdk::kTagPolygonSelection, 0)->selection.size(), 2u);
  // Reflex corner at b: cut along b-d.
  scene::Object r(sdk::kObjectPolygon);
  r.points = {{0, 0, 0}, {1, 1, 0}, {4, 0, 0}, {1, 4, 0}};
  r.polygons = {{0, 1, 2, 3}};
  scene::triangulate(r);
  EXPECT_EQ(r.polygons[0], (scene::Polygon{0, 1, 3, 3}));
  EXPECT_EQ(r.polygons[1], (scene::Polygon{1, 2, 3, 3}));
}

TEST(Document, TriangulationCarriesMarkedEdgesToTheTrianglesThatHoldThem) {
  scene::Object o(sdk::kObjectPolygon);
  // A convex quadrangle, cut along a-c, and a triangle after it.
  o.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}};
  o.polygons = {{0, 1, 2, 3}, {1, 4, 2, 2}};
  scene::Tag* edges = o.addTag(sdk::kTagEdgeSelection, "e");
  // Sides b-c and d-a of the quadrangle, side c-b of the triangle.
  for (int e : {1, 3, 4 + 2}) edges->selection.add(e);
  scene::triangulate(o);
  ASSERT_EQ(o.polygons.size(), 3u);
  // Triangle 0 is a-b-c (b-c is its side 1), triangle 1 is a-c-d (d-a is its side 2); the
  // diagonal a-c was no side of the quadrangle and stays unmarked.
  EXPECT_EQ(edges->selection.indices(), (std::set<std::int32_t>{1, 4 + 2, 8 + 2}));
}

TEST(Document, NeighbourSearchPairsSharedEdgesInIndexOrder) {
  // Four triangles on the edge 0-1, as two closed surfaces touching along it would have.
  const std::vector<scene::Polygon> polygons = {{0, 1, 2, 2}, {1, 0, 3, 3}, {0, 1, 4, 4}, {1, 0, 5, 5}, {1, 0, 6, 6}};
  scene::NeighborSearch n;
  ASSERT_TRUE(n.init(7, polygons.data(), 5));
  EXPECT_EQ(n.neighbor(0, 1, 0), 1);
  EXPECT_EQ(n.neighbor(1, 0, 1), 0);
  EXPECT_EQ(n.neighbor(0, 1, 2), 3);
  EXPECT_EQ(n.neighbor(0, 1, 3), 2);
  EXPECT_EQ(n.neighbor(0, 1, 4), -1) << "the odd one out";
  EXPECT_EQ(n.neighbor(1, 2, 0), -1) << "an open edge";
  EXPECT_EQ(n.neighbor(0, 2, 1), -1) << "a polygon without that edge";
  const std::vector<scene::Polygon> broken = {{0, 1, 2, 2}, {1, 0, 9, 9}};
  ASSERT_TRUE(n.init(3, broken.data(), 2));
  EXPECT_EQ(n.neighbor(0, 1, 0), -1) << "a polygon naming a missing point takes no part";
  EXPECT_FALSE(n.init(-1, nullptr, 0));
}

TEST(Document, SelectionRangesAndCurves) {
  scene::PolygonSelection s;
  for (int i : {1, 2, 3, 7, 9, 10}) s.add(i);
  int a = 0, b = 0;
  ASSERT_TRUE(s.range(0, 100, &a, &b));
  EXPECT_EQ(std::pair(a, b), std::pair(1, 3));
  ASSERT_TRUE(s.range(2, 100, &a, &b));
  EXPECT_EQ(std::pair(a, b), std::pair(9, 10));
  EXPECT_FALSE(s.range(3, 100, &a, &b));
  ASSERT_TRUE(s.range(2, 10, &a, &b));
  EXPECT_EQ(std::pair(a, b), std::pair(9, 9)) << "clipped to the count";
  EXPECT_FALSE(s.range(2, 9, &a, &b));

  scene::Curve c;
  c.keyAt({1, 2})->value = 1;
  c.keyAt({2, 4})->value = 7;  // the same time: the same key
  ASSERT_EQ(c.keys.size(), 1u);
  c.keyAt({0, 1})->value = 3;
  for (auto& k : c.keys) k->interpolation = sdk::kInterpolationStep;
  EXPECT_EQ(c.valueAt({1, 4}, -1), 3);
  EXPECT_EQ(c.valueAt({1, 2}, -1), 7);
  EXPECT_EQ(c.valueAt({5, 1}, -1), 7);
  EXPECT_EQ(scene::Curve{}.valueAt({0, 1}, -1), -1);
}
