// The unfolding over many meshes, checked by one checker; then the edge table, the piece
// container, the merge and the driver case by case.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "formats/mesh_io.h"
#include "geometry/kernel.h"
#include "hand_run.h"
#include "intake/intake.h"
#include "support.h"
#include "unfold/box_tree.h"
#include "unfold/part_index.h"
#include "unfold/unfold.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;
using foldra::Vec3;

namespace {

struct Variant {
  bool tabs;
  bool page;
  std::int32_t method = foldra::kUnfoldLongestEdge;
  /// Compact's widest seam folded shut: a thirtieth of the tab width, as the program's defaults.
  double foldShut = 0;
  /// Compact: seams without a tab allowed where the joins left no room.
  bool bareSeams = false;
};

constexpr Variant kVariants[] = {{true, false}, {false, false}, {true, true}, {false, true},
                                 {true, false, foldra::kUnfoldCompact}, {false, false, foldra::kUnfoldCompact},
                                 {true, true, foldra::kUnfoldCompact}, {false, true, foldra::kUnfoldCompact},
                                 {true, true, foldra::kUnfoldCompact, 0.05}, {true, true, foldra::kUnfoldCompact, 0.05, true}};

/// Small tabs and a small page, so that the page limit bites on the test meshes.
foldra::Settings settingsFor(Variant v) {
  foldra::Settings s;
  s.Laschenflag = v.tabs;
  s.Seitenflag = v.page;
  s.Seitenbreite = 18;
  s.Seitenhoehe = 14;
  s.Laschenbreite = 1.5;
  s.Abwicklungsart = v.method;
  s.Nahtspalt = v.foldShut;
  s.OffeneNaehte = v.bareSeams;
  return s;
}

/// The checker's failures after an unfolding with these settings, one per line; empty when
/// all is well.
std::string checkedWith(const foldra::Settings& s) {
  std::string all;
  for (const auto& f : checkUnfoldingFor(s)) all += "\n  " + f;
  return all;
}

}  // namespace

TEST(Unfolding, EveryMeshPassesTheChecker) {
  for (const MeshCase& mesh : meshSuite()) {
    for (Variant v : kVariants) {
      LinkedHost h;
      h.add(mesh.make());
      const foldra::Settings s = settingsFor(v);
      ASSERT_TRUE(h.unfold(s)) << mesh.name;
      EXPECT_EQ(checkedWith(s), "") << kindName(mesh.kind) << " mesh " << mesh.name << " tabs " << v.tabs << " page " << v.page << " method " << v.method << " fold shut " << v.foldShut << " bare seams " << v.bareSeams;
    }
  }
}

TEST(Unfolding, SharedMeshesPassTheChecker) {
  const std::string shared = sharedMeshes();
  if (shared.empty()) GTEST_SKIP() << "../shared/meshes is not here";
  for (const char* mesh : {"hourglass_ico.obj", "map-bump.obj", "spot.obj"}) {
    for (Variant v : kVariants) {
      LinkedHost h;
      std::string error;
      ASSERT_TRUE(formats::importMesh(shared + "/" + mesh, h.document(), &error)) << error;
      double size = 0;
      for (const auto& o : h.document().objects()) {
        o->selected = true;
        for (const auto& q : o->points) size = std::max({size, double{std::fabs(q.x)}, double{std::fabs(q.y)}, double{std::fabs(q.z)}});
      }
      // Tabs and page in proportion to the model, as the program's scale makes them.
      foldra::Settings s = settingsFor(v);
      s.Laschenbreite = size / 50;
      s.Seitenbreite = size;
      s.Seitenhoehe = size * 1.4;
      ASSERT_TRUE(h.unfold(s)) << mesh;
      EXPECT_EQ(checkedWith(s), "") << mesh << " tabs " << v.tabs << " page " << v.page << " method " << v.method << " fold shut " << v.foldShut << " bare seams " << v.bareSeams;
    }
  }
}

TEST(Unfolding, FlatMeshesBecomeOnePieceWhicheverWayTheirFacesAreWound) {
  for (const MeshCase& mesh : meshSuite(MeshKind::Flat)) {
    LinkedHost h;
    h.add(mesh.make());
    ASSERT_TRUE(h.unfold(foldra::Settings{}));
    EXPECT_EQ(validPieces(), 1) << mesh.name;
    EXPECT_EQ(checkedWith(foldra::Settings{}), "") << mesh.name;
  }
}

// ---- The checker judges with measures of its own -----------------------------------------------

TEST(Checker, OverlapsAreMeasuredByTheWidthOfWhatTwoTrianglesShare) {
  const FlatTriangle a{Vec3{0, 0, 0}, {4, 0, 0}, {0, 3, 0}};
  EXPECT_NEAR(overlapWidth(a, a), 2.4, 1e-12) << "a triangle shares itself: its least height";
  EXPECT_NEAR(overlapWidth(a, {Vec3{0, 3, 0}, {4, 0, 0}, {0, 0, 0}}), 2.4, 1e-12) << "either winding";
  EXPECT_LT(overlapWidth(a, {Vec3{4, 0, 0}, {0, 0, 0}, {2, -3, 0}}), 1e-12) << "a shared side";
  EXPECT_EQ(overlapWidth(a, {Vec3{4, 0, 0}, {8, 0, 0}, {6, -3, 0}}), 0) << "a shared corner";
  EXPECT_EQ(overlapWidth(a, {Vec3{5, 5, 0}, {9, 5, 0}, {5, 9, 0}}), 0) << "apart";
  EXPECT_EQ(overlapWidth(a, {Vec3{0, 0, 0}, {1, 1, 0}, {2, 2, 0}}), 0) << "no area";
  // A thin wedge at a shared corner, which the joins' shortened edges do not see.
  const FlatTriangle wide{Vec3{0, 0, 0}, {10, 0, 0}, {5, 5, 0}}, wedge{Vec3{0, 0, 0}, {10, 0.01, 0}, {5, -5, 0}};
  const double w = overlapWidth(wide, wedge);
  EXPECT_GT(w, 0.009);
  EXPECT_LT(w, 0.0101);
}

TEST(Checker, FailsAFoldThatJoinsDifferentCornersOfTheModel) {
  LinkedHost h;
  // The hinge of a merge lays the neighbour's side onto the triangle's the other way round: on
  // two triangles that run their side the same way it swaps the side's ends.
  HandRun pair({{Vec3{0, 0, 0}, {4, 0, 0}, {1, 3, 0}}, {Vec3{0, 0, 0}, {4, 0, 0}, {3, -2, 0.5}}});
  foldra::prepareTriangles();
  foldra::createPieces();
  ASSERT_TRUE(foldra::merge(*run.containers[0], *run.containers[1], pair[0], 0, true));
  const auto failures = checkUnfolding(CheckOptions{false});
  ASSERT_FALSE(failures.empty());
  EXPECT_NE(failures.front().find("joins different corners of the model"), std::string::npos) << failures.front();
}

TEST(Checker, FailsAPieceWhoseTrianglesMeetOnlyAtACorner) {
  // Two triangles of one piece that touch at one corner: cut out, they are two loose parts.
  LinkedHost h;
  HandRun corner({{Vec3{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, {Vec3{4, 0, 0}, {8, 0, 0}, {8, 4, 0}}}, false);
  foldra::prepareTriangles();
  foldra::createPieces();
  for (std::size_t i = 0; i < 2; ++i) {
    for (int k = 0; k < 3; ++k) corner[i].p[k] = corner[i].P[k];
  }
  run.containers[0]->addTriangle(&corner[1]);
  corner[1].containerIndex = 0;
  run.containers[1]->valid = false;
  const auto failures = checkUnfolding(CheckOptions{false});
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures.front().find("falls apart: 1 of its 2 triangles"), std::string::npos) << failures.front();
}

TEST(Checker, FailsAThinOverlapThatTheJoinsPredicateLetsThrough) {
  LinkedHost h;
  HandRun apart({{Vec3{0, 0, 0}, {10, 0, 0}, {5, 5, 0}}, {Vec3{0, 0, 0}, {10, 0.01, 0}, {5, -5, 0}}}, false);
  foldra::prepareTriangles();
  foldra::createPieces();
  // Both laid where they lie in space, in one piece.
  for (std::size_t i = 0; i < 2; ++i) {
    for (int k = 0; k < 3; ++k) apart[i].p[k] = apart[i].P[k];
  }
  run.containers[0]->addTriangle(&apart[1]);
  apart[1].containerIndex = 0;
  run.containers[1]->valid = false;
  ASSERT_FALSE(apart[0].triangleschnitt2d(apart[0].p[0], apart[0].p[1], apart[0].p[2], apart[1].p[0], apart[1].p[1], apart[1].p[2]));
  // The two share no side, so the piece also falls apart; the overlap is found all the same.
  const auto failures = checkUnfolding(CheckOptions{false});
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures.front().find("overlaps"), std::string::npos) << failures.front();
  EXPECT_NE(failures.back().find("falls apart"), std::string::npos) << failures.back();
}

// ---- The fast joins against the direct form ---------------------------------------------------

namespace {

/// Everything an unfolding leaves in the run state, with triangles named by (object, polygon).
struct Snapshot {
  struct Triangle {
    std::int32_t container;
    Vec3 p[3];
    foldra::LugPair placed[3];
    bool tab[3];
  };
  struct Piece {
    bool valid;
    std::vector<std::pair<std::size_t, std::size_t>> members;
    double box[4];
    foldra::Placement placement;
  };
  std::vector<Triangle> triangles;
  std::vector<Piece> pieces;
  double size = 0;
};

Snapshot snapshot() {
  Snapshot shot;
  std::map<const gt*, std::pair<std::size_t, std::size_t>> names;
  for (std::size_t o = 0; o < run.gtvec.size(); ++o) {
    for (std::size_t i = 0; i < run.gtvec[o].size(); ++i) {
      const gt& t = *run.gtvec[o][i];
      names[&t] = {o, i};
      Snapshot::Triangle r{t.containerIndex, {t.p[0], t.p[1], t.p[2]}, {}, {}};
      for (int k = 0; k < 3; ++k) {
        r.placed[k] = t.placedLugs[k];
        r.tab[k] = t.Lugs[k][0].has_value();
        for (const Vec3& q : {t.P[k], t.p[k]}) shot.size = std::max({shot.size, std::fabs(q.x), std::fabs(q.y), std::fabs(q.z)});
      }
      shot.triangles.push_back(r);
    }
  }
  for (const auto& c : run.containers) {
    Snapshot::Piece piece{c->valid, {}, {c->box.minX, c->box.maxX, c->box.minY, c->box.maxY}, c->placement()};
    if (c->valid) {
      for (const gt* t : c->triangles) piece.members.push_back(names.at(t));
    }
    shot.pieces.push_back(piece);
  }
  return shot;
}

/// The unfolding stage alone, fast or direct, on the active document's selection.
Snapshot unfoldWith(const foldra::Settings& s, bool direct) {
  foldra::settings = s;
  run.activeDocument = foldra::host::api().activeDocument();
  foldra::clearTriangleLists();
  foldra::clearContainers();
  foldra::collectObjects();
  foldra::prepareTriangles();
  foldra::createTabs();
  direct ? foldra::AlgokanteDirect() : foldra::Algokante();
  Snapshot shot = snapshot();
  foldra::releaseCopyDocuments();
  return shot;
}

/// Differences between the two results; empty when they agree up to `relative` of the size.
std::vector<std::string> compare(const Snapshot& fast, const Snapshot& direct, double relative) {
  std::vector<std::string> out;
  const double tolerance = relative * std::max(1.0, direct.size);
  auto near = [&](Vec3 a, Vec3 b) {
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance;
  };
  if (fast.pieces.size() != direct.pieces.size()) return {"piece count differs"};
  for (std::size_t c = 0; c < direct.pieces.size(); ++c) {
    const auto& f = fast.pieces[c];
    const auto& d = direct.pieces[c];
    if (f.valid != d.valid) {
      out.push_back("piece " + std::to_string(c) + " valid differs");
      continue;
    }
    if (!d.valid) continue;
    if (f.members != d.members) out.push_back("piece " + std::to_string(c) + " members or their order differ");
    for (int i = 0; i < 4; ++i) {
      if (!(std::fabs(f.box[i] - d.box[i]) <= tolerance)) out.push_back("piece " + std::to_string(c) + " box differs");
    }
  }
  for (std::size_t i = 0; i < direct.triangles.size(); ++i) {
    const auto& f = fast.triangles[i];
    const auto& d = direct.triangles[i];
    const std::string name = "triangle " + std::to_string(i);
    if (f.container != d.container) out.push_back(name + " container differs");
    for (int k = 0; k < 3; ++k) {
      if (!near(f.p[k], d.p[k])) out.push_back(name + " corner differs");
      if (f.tab[k] != d.tab[k]) out.push_back(name + " tab differs");
      for (int j = 0; j < 2; ++j) {
        if (f.placed[k][j].has_value() != d.placed[k][j].has_value() ||
            (d.placed[k][j] && !near(*f.placed[k][j], *d.placed[k][j]))) {
          out.push_back(name + " placed tab differs");
        }
      }
    }
  }
  return out;
}

}  // namespace

/// Runs both forms on the mesh with every combination of tabs and page limit.
void expectSameAsDirect(const MeshCase& mesh) {
  for (Variant v : kVariants) {
    LinkedHost h;
    h.add(mesh.make());
    const foldra::Settings s = settingsFor(v);
    const Snapshot direct = unfoldWith(s, true);
    const Snapshot fast = unfoldWith(s, false);
    const auto differences = compare(fast, direct, 1e-9);
    std::string all;
    for (std::size_t i = 0; i < differences.size() && i < 10; ++i) all += "\n  " + differences[i];
    EXPECT_TRUE(differences.empty()) << mesh.name << " tabs " << v.tabs << " page " << v.page << ":" << all;
  }
}

TEST(FastJoins, SameResultAsTheDirectFormOnTheCheckersMeshes) {
  // Broken meshes are left out: see BrokenMeshesGiveASoundResult.
  for (const MeshCase& mesh : meshSuite()) {
    if (mesh.kind != MeshKind::Broken) expectSameAsDirect(mesh);
  }
}

TEST(FastJoins, SameResultAsTheDirectFormOnRandomMeshes) {
  std::vector<MeshCase> meshes = {
      {"bumpy sphere 1280", MeshKind::Closed, [] { return bumpySphere(4, 3, 25); }},
      {"torus 600", MeshKind::Closed, [] { return torus(30, 10, 10, 4); }},
      {"grid 30x20", MeshKind::Flat, [] { return grid(30, 20, 0.5); }},
  };
  for (unsigned seed = 10; seed < 16; ++seed) {
    meshes.push_back({"bumpy sphere", MeshKind::Closed, [seed] { return bumpySphere(seed, 2, 5.0 + seed); }});
    meshes.push_back({"terrain", MeshKind::Open, [seed] { return terrain(seed, 6 + static_cast<int>(seed % 5)); }});
  }
  for (const MeshCase& mesh : meshes) expectSameAsDirect(mesh);
}

TEST(FastJoins, BrokenMeshesGiveASoundResult) {
  // Faces without area whose corners lie exactly on a line make the overlap predicate depend on
  // the last bit of a coordinate, so the two forms may decide such a join differently; the fast
  // form's result must still be whole.
  for (unsigned seed = 1; seed <= 12; ++seed) {
    for (bool page : {false, true}) {
      LinkedHost h;
      h.add(randomSoup(seed, 40 + 30 * static_cast<int>(seed)));
      const foldra::Settings s = settingsFor({true, page});
      const Snapshot fast = unfoldWith(s, false);
      std::size_t members = 0;
      for (const auto& piece : fast.pieces) members += piece.members.size();
      std::size_t usable = 0;
      for (const auto& list : run.gtvec) {
        for (const auto& t : list) usable += t->usable ? 1 : 0;
      }
      EXPECT_EQ(members, usable) << "seed " << seed << ": every usable triangle in exactly one piece";
      for (const auto& t : fast.triangles) {
        if (t.container < 0) continue;
        EXPECT_TRUE(fast.pieces[static_cast<std::size_t>(t.container)].valid) << "seed " << seed;
      }
    }
  }
}

TEST(FastJoins, BoxTreeFindsExactlyTheBoxesThatMeet) {
  std::mt19937 random(7);
  auto uniform = [&](double scale) { return scale * static_cast<double>(random()) / 4294967295.0; };
  std::vector<foldra::Box> boxes;
  foldra::BoxTree tree;
  for (std::uint32_t i = 0; i < 2000; ++i) {
    // Clustered and spread boxes, some degenerate (points and segments).
    const double x = i % 3 == 0 ? uniform(5) : uniform(100), y = uniform(100);
    const double w = i % 7 == 0 ? 0 : uniform(4), hgt = i % 11 == 0 ? 0 : uniform(4);
    boxes.push_back({x, y, x + w, y + hgt});
    tree.insert(i, boxes.back());
  }
  EXPECT_LE(tree.height(), 30) << "insertion keeps the tree balanced";
  for (int q = 0; q < 300; ++q) {
    const double x = uniform(100), y = uniform(100);
    const foldra::Box box{x, y, x + uniform(10), y + uniform(10)};
    std::vector<std::uint32_t> found;
    tree.query(box, [&](std::uint32_t i) {
      found.push_back(i);
      return false;
    });
    std::sort(found.begin(), found.end());
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].reaches(box)) expected.push_back(i);
    }
    ASSERT_EQ(found, expected);
  }
  bool stopped = tree.query(foldra::Box{0, 0, 100, 100}, [](std::uint32_t) { return true; });
  EXPECT_TRUE(stopped) << "a visit that answers true ends the query";
}

TEST(FastJoins, APartIndexFindsTheSamePartsBeforeAndAfterItGrowsATree) {
  // Parts filed one by one; after every filing each query must visit exactly the parts whose
  // boxes reach it, and every part or query without a finite box meets everything.
  std::mt19937 random(11);
  auto uniform = [&](double scale) { return scale * static_cast<double>(random()) / 4294967295.0; };
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<foldra::Box> boxes;
  foldra::PartIndex index;
  for (std::uint32_t i = 0; i < 80; ++i) {
    const double x = uniform(50), y = uniform(50);
    foldra::Box box{x, y, x + uniform(5), y + uniform(5)};
    if (i == 5) box = {-inf, -inf, inf, inf};
    if (i == 40) box.maxY = nan;
    boxes.push_back(box);
    index.add(i, box);
    for (int q = 0; q < 20; ++q) {
      const double qx = uniform(50), qy = uniform(50);
      const foldra::Box query = q == 0 ? foldra::Box{nan, 0, 1, 1} : foldra::Box{qx, qy, qx + uniform(8), qy + uniform(8)};
      std::vector<std::uint32_t> found;
      index.query(query, [&](std::uint32_t part) {
        found.push_back(part);
        return false;
      });
      std::sort(found.begin(), found.end());
      std::vector<std::uint32_t> expected;
      for (std::uint32_t j = 0; j < boxes.size(); ++j) {
        if (!boxes[j].finite() || !query.finite() || boxes[j].reaches(query)) expected.push_back(j);
      }
      ASSERT_EQ(found, expected) << "after " << i + 1 << " parts, query " << q;
    }
  }
}

TEST(Options, TheRecordIsReadOnceIntoTheOptionsWithTheSameDefaults) {
  // The options a step gets by default are those a run with the record's defaults gets.
  const foldra::UnfoldOptions fromRecord = foldra::unfoldOptions(foldra::Settings{});
  const foldra::UnfoldOptions defaults;
  EXPECT_EQ(fromRecord.method, defaults.method);
  EXPECT_EQ(fromRecord.page.on, defaults.page.on);
  EXPECT_EQ(fromRecord.page.width, defaults.page.width);
  EXPECT_EQ(fromRecord.page.height, defaults.page.height);
  EXPECT_EQ(fromRecord.tabs, defaults.tabs);
  EXPECT_EQ(fromRecord.tabDepth, defaults.tabDepth);
  EXPECT_EQ(fromRecord.foldShut, defaults.foldShut);
  foldra::Settings s;
  s.Abwicklungsart = foldra::kUnfoldCompact;
  s.Seitenflag = true;
  s.Seitenbreite = 12;
  s.Seitenhoehe = 9;
  s.Laschenflag = false;
  s.Laschenbreite = 0.75;
  s.Nahtspalt = 0.01;
  const foldra::UnfoldOptions o = foldra::unfoldOptions(s);
  EXPECT_EQ(o.method, foldra::kUnfoldCompact);
  EXPECT_TRUE(o.page.on);
  EXPECT_EQ(o.page.width, 12);
  EXPECT_EQ(o.page.height, 9);
  EXPECT_FALSE(o.tabs);
  EXPECT_EQ(o.tabDepth, 0.75);
  EXPECT_EQ(o.foldShut, 0.01);
  EXPECT_EQ(o.usefulDepth(), 0) << "tabs off: none worth gluing";
  // A depth that is no usable number places no tabs, where it would make tabs of no or
  // infinite size.
  for (const double depth : {0.0, -1.0, 1e-7, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    foldra::UnfoldOptions bad;
    bad.tabDepth = depth;
    EXPECT_FALSE(bad.placesTabs()) << depth;
    EXPECT_EQ(bad.usefulDepth(), 0) << depth;
  }
}

TEST(Options, AMethodTheDialogNeverOffersRunsLongestEdge) {
  std::string pieces[2];
  for (const std::int32_t method : {foldra::kUnfoldLongestEdge, std::int32_t{7}}) {
    LinkedHost h;
    h.add(bumpySphere(3, 2));
    foldra::Settings s;
    s.Laschenbreite = 0.5;
    s.Abwicklungsart = method;
    ASSERT_TRUE(h.unfold(s));
    std::string& shot = pieces[method == foldra::kUnfoldLongestEdge ? 0 : 1];
    for (const auto& c : run.containers) {
      if (!c->valid) continue;
      for (const gt* t : c->triangles) shot += std::to_string(t->serial - run.gtvec[0][0]->serial) + " ";
      shot += "\n";
    }
    EXPECT_EQ(checkUnfoldingFor(s), std::vector<std::string>{});
  }
  EXPECT_EQ(pieces[1], pieces[0]);
}

TEST(Unfolding, FlatConnectedMeshBecomesOnePiece) {
  for (bool tabs : {true, false}) {
    LinkedHost h;
    h.add(grid(7, 5));
    foldra::Settings s;
    s.Laschenflag = tabs;
    ASSERT_TRUE(h.unfold(s));
    EXPECT_EQ(validPieces(), 1);
    EXPECT_TRUE(checkUnfolding({tabs, false}).empty());
  }
}

TEST(Unfolding, PageLimitSplitsAFlatMeshIntoPiecesThatFit) {
  LinkedHost h;
  h.add(grid(10, 10));
  foldra::Settings s;
  s.Seitenflag = true;
  s.Seitenbreite = 4;
  s.Seitenhoehe = 3;
  ASSERT_TRUE(h.unfold(s));
  EXPECT_GT(validPieces(), 8);
  CheckOptions options{true, true, 4, 3};
  EXPECT_TRUE(checkUnfolding(options).empty());
}

TEST(Unfolding, ObjectsThatTouchAreNeverJoined) {
  LinkedHost h;
  h.add(grid(2, 1));
  auto second = grid(2, 1);
  for (auto& p : second->points) p.x += 2;  // shares the edge x = 2 in space
  h.add(std::move(second));
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  EXPECT_EQ(validPieces(), 2);
  for (const auto& c : run.containers) {
    if (!c->valid) continue;
    const int object = c->triangles.front()->objectIndex;
    for (const gt* t : c->triangles) EXPECT_EQ(t->objectIndex, object);
  }
}

TEST(Unfolding, NoTrianglesGivesNoPieces) {
  LinkedHost h;
  auto empty = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  empty->selected = true;
  h.add(std::move(empty));
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  EXPECT_EQ(run.gtvec.size(), 1u);
  EXPECT_TRUE(run.containers.empty());
}

// ---- Glue tabs -------------------------------------------------------------------------------

namespace {

using testing_support::HandRun;

/// Two triangles on the edge (0,0,0)-(length,0,0), one with height `low` below it, the other
/// with height `high` above it; prepared with the given maximum tab width.
struct TabPair {
  HandRun triangles;
  TabPair(double length, double low, double high, double maximum, bool tabs = true)
      : triangles({{Vec3{0, 0, 0}, {length, 0, 0}, {length / 2, -low, 0}}, {Vec3{length, 0, 0}, {0, 0, 0}, {length / 2, high, 0}}}) {
    foldra::settings = foldra::Settings{};
    foldra::settings.Laschenflag = tabs;
    foldra::settings.Laschenbreite = maximum;
    foldra::prepareTriangles();
    foldra::createTabs();
  }
  ~TabPair() { foldra::settings = foldra::Settings{}; }
};

}  // namespace

TEST(GlueTabs, TheLowerTriangleCarriesTheTab) {
  TabPair pair(40, 5, 30, 17);
  EXPECT_TRUE(pair.triangles[0].Lugs[0][0]);
  EXPECT_FALSE(pair.triangles[1].Lugs[0][0]);
  EXPECT_DOUBLE_EQ(pair.triangles[0].lugWidth[0], 17) << "min(maximum width, the taller neighbour's height)";
  // A trapezoid 17 high whose outer side is 40 - 2 * 17 = 6 long, standing away from the triangle.
  const Vec3 outer0 = *pair.triangles[0].Lugs[0][0], outer1 = *pair.triangles[0].Lugs[0][1];
  EXPECT_NEAR(outer0.y, 17, 1e-12);
  EXPECT_NEAR(outer1.y, 17, 1e-12);
  EXPECT_NEAR(outer0.x, 40 - 17, 1e-12) << "point 0 lies next to the side's end";
  EXPECT_NEAR(outer1.x, 17, 1e-12) << "point 1 lies next to the side's start";
  EXPECT_FALSE(pair.triangles[0].Lugs[1][0]) << "open sides have no tab";
}

TEST(GlueTabs, AShortSideGetsATriangularTab) {
  TabPair pair(10, 3, 8, 17);
  EXPECT_DOUBLE_EQ(pair.triangles[0].lugWidth[0], 8);
  // 2w = 16 > 10: the apex stands 5 out from the side's midpoint.
  EXPECT_NEAR(pair.triangles[0].Lugs[0][0]->x, 5, 1e-12);
  EXPECT_NEAR(pair.triangles[0].Lugs[0][0]->y, 5, 1e-12);
  EXPECT_EQ(*pair.triangles[0].Lugs[0][0], *pair.triangles[0].Lugs[0][1]);
}

TEST(GlueTabs, EqualHeightsGoToTheFirstCreated) {
  TabPair pair(10, 4, 4, 17);
  EXPECT_TRUE(pair.triangles[0].Lugs[0][0]);
  EXPECT_FALSE(pair.triangles[1].Lugs[0][0]);
}

TEST(GlueTabs, SwitchedOffNoTriangleHasOne) {
  TabPair pair(10, 3, 8, 17, false);
  for (std::size_t i = 0; i < 2; ++i) {
    for (int k = 0; k < 3; ++k) EXPECT_FALSE(pair.triangles[i].Lugs[k][0]);
  }
}

TEST(GlueTabs, SaveRemoveRestoreGivesEverythingBack) {
  TabPair pair(10, 3, 8, 17);
  gt& t = pair.triangles[1];  // the side without the tab: saves its neighbour's tab on the edge
  const auto before0 = pair.triangles[0].Lugs[0];
  const auto placedBefore0 = pair.triangles[0].placedLugs[0];
  foldra::saveLugs(t);
  EXPECT_EQ(foldra::savedLugLevels(), 1);
  foldra::RemoveLugs(t, 0);
  foldra::RemoveLugs(pair.triangles[0], t.nbedge[0]);
  EXPECT_FALSE(pair.triangles[0].Lugs[0][0]);
  foldra::restoreLugs(t);
  EXPECT_EQ(foldra::savedLugLevels(), 0);
  EXPECT_EQ(pair.triangles[0].Lugs[0], before0);
  EXPECT_EQ(pair.triangles[0].placedLugs[0], placedBefore0);
  EXPECT_FALSE(t.Lugs[0][0]) << "an absent tab comes back absent";
  foldra::restoreLugs(t);  // an empty stack does nothing
  foldra::freeSavedLugs(t);
  EXPECT_EQ(foldra::savedLugLevels(), 0);
}

TEST(GlueTabs, ASeventeenthLevelIsRefusedAndSaidAndSoIsTheJoinThatAsksForIt) {
  LinkedHost h;
  TabPair pair(10, 3, 8, 17);
  foldra::createPieces();
  gt& t = pair.triangles[1];
  for (int level = 0; level < 16; ++level) ASSERT_TRUE(foldra::saveLugs(t)) << level;
  const auto tab = pair.triangles[0].placedLugs[0];
  EXPECT_FALSE(foldra::saveLugs(t)) << "the stack has 16 levels";
  EXPECT_EQ(foldra::savedLugLevels(), 16);
  ASSERT_EQ(h.host.console().size(), 1u);
  EXPECT_NE(h.host.console().front().find("save stack is full"), std::string::npos) << h.host.console().front();
  // A join needs a level to take its tab removals back: without one it is not tried at all.
  foldra::gtc& A = *run.containers[1];
  foldra::gtc& B = *run.containers[0];
  EXPECT_FALSE(foldra::merge(A, B, t, 0, false));
  EXPECT_TRUE(A.valid && B.valid);
  EXPECT_EQ(pair.triangles[0].placedLugs[0], tab) << "the tab on the edge stays";
  EXPECT_EQ(A.triangles.size(), 1u);
  while (foldra::savedLugLevels() > 0) foldra::freeSavedLugs(t);
  EXPECT_TRUE(foldra::merge(A, B, t, 0, false)) << "with the stack free again the join is made";
}

// ---- Edge table ------------------------------------------------------------------------------

TEST(EdgeTable, ListsSharedSidesFromTheTablessSide) {
  {
    HandRun single({{Vec3{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    foldra::prepareTriangles();
    foldra::createTabs();
    foldra::EdgeTable edges;
    foldra::createEdgeTab(edges);
    EXPECT_EQ(edges.size(), 0u);
  }
  {
    TabPair pair(10, 3, 8, 17);
    foldra::EdgeTable edges;
    foldra::createEdgeTab(edges);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges.triangle[0], 1u) << "the triangle without the tab";
    EXPECT_DOUBLE_EQ(edges.length[0], 10);
  }
  {
    TabPair pair(10, 3, 8, 17, false);
    foldra::EdgeTable edges;
    foldra::createEdgeTab(edges);
    ASSERT_EQ(edges.size(), 2u) << "without tabs from both sides";
    EXPECT_EQ(edges.length[0], edges.length[1]);
  }
}

TEST(EdgeTable, SortsLongestFirstMovingTheListsTogether) {
  foldra::EdgeTable edges;
  edges.object = {0, 1, 2};
  edges.triangle = {10, 11, 12};
  edges.edge = {0, 1, 2};
  edges.length = {3, 1, 5};
  foldra::sortEdges(edges, 0, 2);
  EXPECT_EQ(edges.length, (std::vector<double>{5, 3, 1}));
  EXPECT_EQ(edges.object, (std::vector<std::uint32_t>{2, 0, 1}));
  EXPECT_EQ(edges.triangle, (std::vector<std::uint32_t>{12, 10, 11}));
  EXPECT_EQ(edges.edge, (std::vector<std::int32_t>{2, 0, 1}));
}

TEST(EdgeTable, SortIsTotalAndFastOnSortedAndEqualInput) {
  // A partition sort with the first entry as pivot would recurse 200000 deep here.
  const std::size_t n = 200000;
  foldra::EdgeTable edges;
  for (std::size_t i = 0; i < n; ++i) {
    edges.object.push_back(static_cast<std::uint32_t>(i % 3));
    edges.triangle.push_back(static_cast<std::uint32_t>(n - i));
    edges.edge.push_back(static_cast<std::int32_t>(i % 3));
    edges.length.push_back(i < n / 2 ? 1.0 : static_cast<double>(i));
  }
  foldra::sortEdges(edges, 0, n - 1);
  for (std::size_t i = 1; i < n; ++i) {
    ASSERT_GE(edges.length[i - 1], edges.length[i]);
    if (edges.length[i - 1] == edges.length[i]) {
      const auto key = [&](std::size_t j) { return std::tuple(edges.object[j], edges.triangle[j], edges.edge[j]); };
      ASSERT_LT(key(i - 1), key(i)) << "equal lengths by object, triangle, edge";
    }
  }
}

// ---- Piece container -------------------------------------------------------------------------

TEST(PieceContainer, BoxGrowsWithCornersAndTabs) {
  foldra::gtc c;
  EXPECT_FALSE(c.testTriangle(gt(0), foldra::Placement{})) << "an empty piece collides with nothing";
  gt t(0);
  t.p[1] = {3, 0, 0};
  t.p[2] = {1, 2, 0};
  c.addTriangle(&t);
  EXPECT_EQ(c.box.minX, 0);
  EXPECT_EQ(c.box.minY, 0);
  EXPECT_EQ(c.box.maxX, 3);
  EXPECT_EQ(c.box.maxY, 2);
  gt u(0);
  u.p[1] = {3, 0, 0};
  u.p[2] = {1, 2, 0};
  u.placedLugs[0] = {Vec3{2, -1, 0}, Vec3{1, -1, 0}};
  c.addTriangle(&u);
  EXPECT_EQ(c.box.minY, -1);
}

TEST(PieceContainer, PageBoundsAreInclusiveAndNeverTurned) {
  foldra::gtc c;
  gt t(0);
  t.p[1] = {100, 0, 0};
  t.p[2] = {0, 50, 0};
  c.addTriangle(&t);
  gt u(0);
  u.p[0] = {100, 0, 0};
  u.p[1] = {210, 0, 0};
  u.p[2] = {150, 50, 0};
  EXPECT_FALSE(c.testPageBounds(u, foldra::Placement{}, 210, 297)) << "exactly as wide as the page";
  gt wider(0);
  wider.p[1] = {211, 0, 0};
  EXPECT_TRUE(c.testPageBounds(wider, foldra::Placement{}, 210, 297));
  foldra::gtc tall;
  tall.addTriangle(&t);
  gt high(0);
  high.p[2] = {0, 220, 0};
  EXPECT_TRUE(tall.testPageBounds(high, foldra::Placement{}, 200, 100)) << "would fit turned by 90 degrees";
}

TEST(PieceContainer, NeighboursJoinedAlongTheirSideAreNotTested) {
  // Two neighbours lying exactly along their shared side overlap by the plain predicate.
  HandRun r({{Vec3{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {Vec3{1, 0, 0}, {0, 0, 0}, {0.5, -1, 0}}});
  foldra::settings.Laschenflag = false;
  foldra::prepareTriangles();
  foldra::createTabs();
  foldra::flatten(r[0]);
  foldra::flatten(r[1]);
  foldra::applyPlacement(r[1], foldra::hingePlacement(r[0], 0));
  ASSERT_TRUE(r[0].triangleschnitt2d(r[1].p[0], r[1].p[1], r[1].p[2], r[0].p[0], r[0].p[1], r[0].p[2]));
  foldra::gtc c;
  c.addTriangle(&r[0]);
  EXPECT_FALSE(c.testTriangle(r[1], foldra::Placement{}));
  foldra::settings = foldra::Settings{};
}

// ---- Merge -----------------------------------------------------------------------------------

namespace {

/// Prepared triangles in pieces of their own, ready for merges.
struct Pieces {
  HandRun tri;
  Pieces(const std::vector<std::array<Vec3, 3>>& corners, bool tabs) : tri(corners) {
    foldra::settings = foldra::Settings{};
    foldra::settings.Laschenflag = tabs;
    foldra::prepareTriangles();
    foldra::createTabs();
    foldra::createPieces();
  }
  ~Pieces() { foldra::settings = foldra::Settings{}; }
  foldra::gtc& piece(const gt& t) { return *foldra::run.containers[static_cast<std::size_t>(t.containerIndex)]; }
  bool join(std::size_t i, int side, bool test) {
    gt& t = tri[i];
    return foldra::merge(piece(t), piece(*t.nb[side]), t, side, test);
  }
};

int sideTo(const gt& t, const gt& n) {
  for (int k = 0; k < 3; ++k) {
    if (t.nb[k] == &n) return k;
  }
  return -1;
}

}  // namespace

TEST(Merge, CoplanarJoinAlwaysSucceedsAndDropsTheTab) {
  Pieces p({{Vec3{0, 0, 0}, {4, 0, 0}, {2, 3, 0}}, {Vec3{4, 0, 0}, {0, 0, 0}, {2, -1, 0}}}, true);
  ASSERT_TRUE(p.join(0, 0, false));
  EXPECT_EQ(p.tri[0].containerIndex, p.tri[1].containerIndex);
  EXPECT_FALSE(foldra::run.containers[1]->valid);
  EXPECT_FALSE(p.tri[0].Lugs[0][0]);
  EXPECT_FALSE(p.tri[1].Lugs[0][0]);
  EXPECT_EQ(foldra::savedLugLevels(), 0);
}

TEST(Merge, RefusedJoinLeavesEverythingAsItWas) {
  // A fan of four triangles around (0,0,0) whose angles sum to more than 360 degrees: the last
  // one, hinged on, overlaps the first.
  const Vec3 c{0, 0, 0};
  const Vec3 a{10, 0, 0}, b{0, 10, 0}, d{-10, 0, 0}, e{0, -10, 0}, f{8, 1, 4};
  Pieces p({{c, a, b}, {c, b, d}, {c, d, e}, {c, e, f}}, true);
  ASSERT_TRUE(p.join(0, sideTo(p.tri[0], p.tri[1]), true));
  ASSERT_TRUE(p.join(1, sideTo(p.tri[1], p.tri[2]), true));
  foldra::gtc& A = p.piece(p.tri[2]);
  const double box[4] = {A.box.minX, A.box.minY, A.box.maxX, A.box.maxY};
  const auto tabs = p.tri[3].Lugs[sideTo(p.tri[3], p.tri[2])];
  const Vec3 corner = p.tri[3].p[0];
  EXPECT_FALSE(p.join(2, sideTo(p.tri[2], p.tri[3]), true));
  EXPECT_EQ(A.box.minX, box[0]);
  EXPECT_EQ(A.box.minY, box[1]);
  EXPECT_EQ(A.box.maxX, box[2]);
  EXPECT_EQ(A.box.maxY, box[3]);
  EXPECT_NE(p.tri[3].containerIndex, p.tri[2].containerIndex);
  EXPECT_TRUE(p.piece(p.tri[3]).valid);
  EXPECT_EQ(p.tri[3].Lugs[sideTo(p.tri[3], p.tri[2])], tabs);
  EXPECT_EQ(p.tri[3].p[0], corner) << "the refused piece did not move";
  EXPECT_EQ(foldra::savedLugLevels(), 0);
}

TEST(Merge, PageLimitIsInclusive) {
  const std::vector<std::array<Vec3, 3>> rectangle = {{Vec3{0, 0, 0}, {210, 0, 0}, {210, 100, 0}},
                                                      {Vec3{210, 100, 0}, {0, 100, 0}, {0, 0, 0}}};
  // The joined piece's extent in its own frame, measured by a join without a page.
  double width = 0, height = 0;
  {
    Pieces p(rectangle, false);
    ASSERT_TRUE(p.join(0, sideTo(p.tri[0], p.tri[1]), true));
    const foldra::gtc& joined = p.piece(p.tri[0]);
    width = joined.box.maxX - joined.box.minX;
    height = joined.box.maxY - joined.box.minY;
  }
  for (auto [w, h, accepted] : {std::tuple{width, height, true}, std::tuple{width - 1e-6, height, false},
                                std::tuple{width, height - 1e-6, false}}) {
    Pieces p(rectangle, false);
    foldra::settings.Seitenflag = true;
    foldra::settings.Seitenbreite = w;
    foldra::settings.Seitenhoehe = h;
    EXPECT_EQ(p.join(0, sideTo(p.tri[0], p.tri[1]), true), accepted) << w << " x " << h;
  }
}

TEST(Merge, ClosingAFullTurnRemovesTheTabsOnTheMeetingEdge) {
  // Three triangles of 120 degrees around a vertex, joined in sequence: the last one's free side
  // lands on the first one's, and that edge becomes a fold.
  const double s = std::sqrt(3.0) / 2;
  const Vec3 c{0, 0, 0}, a{10, 0, 0}, b{-5, 10 * s, 0}, d{-5, -10 * s, 0};
  Pieces p({{c, a, b}, {c, b, d}, {c, d, a}}, true);
  const int s20 = sideTo(p.tri[2], p.tri[0]);
  const int s02 = sideTo(p.tri[0], p.tri[2]);
  ASSERT_TRUE(p.tri[2].Lugs[s20][0] || p.tri[0].Lugs[s02][0]);
  ASSERT_TRUE(p.join(0, sideTo(p.tri[0], p.tri[1]), true));
  ASSERT_TRUE(p.join(1, sideTo(p.tri[1], p.tri[2]), true));
  EXPECT_FALSE(p.tri[2].placedLugs[s20][0]);
  EXPECT_FALSE(p.tri[0].placedLugs[s02][0]);
  EXPECT_TRUE(checkUnfolding({}).empty());
}

TEST(Merge, AllTrianglesOfTheAbsorbedPieceMoveTogether) {
  const Vec3 c{0, 0, 0};
  Pieces p({{c, {10, 0, 0}, {0, 10, 0}}, {c, {0, 10, 0}, {-10, 0, 5}}, {c, {-10, 0, 5}, {0, -10, 0}}}, false);
  ASSERT_TRUE(p.join(1, sideTo(p.tri[1], p.tri[2]), true));  // piece {1, 2}
  foldra::gtc& B = p.piece(p.tri[1]);
  ASSERT_EQ(B.triangles.size(), 2u);
  ASSERT_TRUE(p.join(0, sideTo(p.tri[0], p.tri[1]), true));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(p.tri[i].containerIndex, p.tri[0].containerIndex);
  EXPECT_EQ(p.piece(p.tri[0]).triangles.size(), 3u);
  EXPECT_TRUE(checkUnfolding({false, false}).empty());
}

TEST(Merge, OneSidedNeighbourIsNotJoinedButLosesItsTab) {
  HandRun r({{Vec3{0, 0, 0}, {4, 0, 0}, {2, 3, 0}}, {Vec3{4, 0, 0}, {0, 0, 0}, {2, -3, 0}}}, false);
  r[0].nb[0] = &r[1];
  foldra::prepareTriangles();
  foldra::createTabs();
  foldra::createPieces();
  r[0].Lugs[0] = {Vec3{1, 1, 0}, Vec3{2, 2, 0}};
  foldra::gtc& A = *foldra::run.containers[0];
  const double maxX = A.box.maxX;
  EXPECT_TRUE(foldra::merge(A, *foldra::run.containers[1], r[0], 0, true));
  EXPECT_FALSE(r[0].Lugs[0][0]);
  EXPECT_NE(r[0].containerIndex, r[1].containerIndex);
  EXPECT_EQ(A.box.maxX, maxX);
}

// ---- Tabs that fit their piece ----------------------------------------------------------------

namespace {

/// Whether side k of t has a tab in both frames (and only then).
bool hasTab(const gt& t, int k) {
  EXPECT_EQ(t.Lugs[k][0].has_value(), t.placedLugs[k][0].has_value());
  return t.placedLugs[k][0].has_value();
}

}  // namespace

/// Two flat triangles joined along C-B leave 80 degrees between their outer sides at C: their
/// tabs (45-degree ends) would lie on each other there. Upright walls stand on both outer sides,
/// each a piece of its own. Triangles: 0 and 1 flat, 2 and 3 the walls.
std::unique_ptr<Pieces> notch() {
  const double pi = 3.14159265358979323846, a = 140 * pi / 180;
  const Vec3 C{0, 0, 0}, B{10, 0, 0};
  const Vec3 A{10 * std::cos(a), -10 * std::sin(a), 0}, D{10 * std::cos(a), 10 * std::sin(a), 0};
  const Vec3 up{0, 0, 20};
  auto p = std::make_unique<Pieces>(std::vector<std::array<Vec3, 3>>{{C, A, B}, {C, B, D}, {A, C, 0.5 * A + up}, {C, D, 0.5 * D + up}}, true);
  EXPECT_TRUE(hasTab(p->tri[0], 0) && hasTab(p->tri[1], 2)) << "the flat triangles are the lower ones over the walls' edges";
  EXPECT_TRUE(p->join(1, sideTo(p->tri[1], p->tri[0]), false));
  return p;
}

TEST(FittingTabs, ATabWithoutRoomGoesToTheOtherSideOfItsEdge) {
  const auto p = notch();
  gt &u = p->tri[0], &g = p->tri[1], &wallA = p->tri[2], &wallD = p->tri[3];
  EXPECT_EQ(foldra::fitLugs(run, foldra::UnfoldOptions{}), 0);
  EXPECT_FALSE(hasTab(u, 0)) << "the first tab in list order gives way";
  EXPECT_TRUE(hasTab(wallA, sideTo(wallA, u)));
  EXPECT_TRUE(hasTab(g, 2)) << "the other one then fits";
  EXPECT_FALSE(hasTab(wallD, sideTo(wallD, g)));
  // The moved tab stands outside its wall, as wide as the flat triangle is high over the edge
  // allows, and in the wall's own frame as well.
  const int s = sideTo(wallA, u);
  EXPECT_NEAR(wallA.lugWidth[s], std::min(17.0, u.height[0]), 1e-12);
  const Vec3 mid = 0.5 * (wallA.p[s] + wallA.p[(s + 1) % 3]);
  const Vec3 apex = *wallA.placedLugs[s][0];
  EXPECT_LT(foldra::dot(apex - mid, wallA.p[(s + 2) % 3] - mid), 0);
  EXPECT_TRUE(checkUnfolding(CheckOptions{}).empty());
}

TEST(FittingTabs, AMovedTabKeepsItsPieceOnThePage) {
  const auto p = notch();
  gt &u = p->tri[0], &g = p->tri[1], &wallA = p->tri[2];
  // A page exactly as large as the wall: no tab fits beside it.
  const foldra::gtc& wall = p->piece(wallA);
  const double box[4] = {wall.box.minX, wall.box.minY, wall.box.maxX, wall.box.maxY};
  foldra::UnfoldOptions options;
  options.page = {true, box[2] - box[0], box[3] - box[1]};
  EXPECT_EQ(foldra::fitLugs(run, options), 1) << "neither the wall's side nor a narrower tab in the corner has room";
  EXPECT_FALSE(hasTab(u, 0));
  EXPECT_FALSE(hasTab(wallA, sideTo(wallA, u)));
  EXPECT_TRUE(hasTab(g, 2));
  EXPECT_EQ(wall.box.minX, box[0]);
  EXPECT_EQ(wall.box.maxY, box[3]);
}

TEST(FittingTabs, AnEdgeWithRoomOnNeitherSideKeepsNoTab) {
  // Six triangles around the tip of a pyramid, 55 degrees each, forced into one piece: the seam
  // between the first and the last leaves 30 degrees, too little for a tab on either side.
  const double pi = 3.14159265358979323846;
  const double slant = 10 / (2 * std::sin(27.5 * pi / 180));
  const Vec3 tip{0, 0, std::sqrt(slant * slant - 100)};
  std::vector<Vec3> ring;
  for (int i = 0; i < 6; ++i) ring.push_back({10 * std::cos(i * pi / 3), 10 * std::sin(i * pi / 3), 0});
  std::vector<std::array<Vec3, 3>> fan;
  for (int i = 0; i < 6; ++i) fan.push_back({tip, ring[static_cast<std::size_t>(i)], ring[static_cast<std::size_t>((i + 1) % 6)]});
  Pieces p(fan, true);
  for (std::size_t i = 0; i + 1 < 6; ++i) ASSERT_TRUE(p.join(i, sideTo(p.tri[i], p.tri[i + 1]), false));
  const int seam0 = sideTo(p.tri[0], p.tri[5]), seam5 = sideTo(p.tri[5], p.tri[0]);
  ASSERT_TRUE(hasTab(p.tri[0], seam0) || hasTab(p.tri[5], seam5));
  EXPECT_EQ(foldra::fitLugs(run, foldra::UnfoldOptions{}), 1);
  EXPECT_FALSE(hasTab(p.tri[0], seam0));
  EXPECT_FALSE(hasTab(p.tri[5], seam5));
  EXPECT_TRUE(checkUnfolding(CheckOptions{}).empty());
  EXPECT_EQ(foldra::fitLugs(run, foldra::UnfoldOptions{}), 0) << "a second fitting finds nothing to do";
}

TEST(FittingTabs, StarPrismsKeepOneTabOnEveryCutEdge) {
  for (int tips : {3, 5, 8}) {
    for (double inner : {1.0, 3.0, 5.0}) {
      LinkedHost h;
      h.add(starPrism(tips, inner));
      foldra::Settings s;
      s.Laschenbreite = 1;
      ASSERT_TRUE(h.unfold(s));
      const auto failures = checkUnfoldingFor(s);
      EXPECT_TRUE(failures.empty()) << tips << " tips, inner radius " << inner << ": " << (failures.empty() ? "" : failures[0]);
    }
  }
}

// ---- Driver ----------------------------------------------------------------------------------

TEST(Driver, TwoTrianglesJoinInTheRightPass) {
  for (double z : {0.0, 3.0}) {
    HandRun r({{Vec3{0, 0, 0}, {4, 0, 0}, {2, 3, 0}}, {Vec3{4, 0, 0}, {0, 0, 0}, {2, -3, z}}});
    foldra::settings = foldra::Settings{};
    foldra::prepareTriangles();
    foldra::createTabs();
    foldra::Algokante();
    EXPECT_EQ(r[0].containerIndex, r[1].containerIndex) << "fold " << z;
    EXPECT_EQ(validPieces(), 1);
  }
}

TEST(Driver, ACubeUnfoldsIntoFewPiecesWithoutOverlap) {
  LinkedHost h;
  h.add(cube());
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  EXPECT_EQ(run.containers.size(), 12u) << "one container per triangle, dead ones stay";
  EXPECT_LE(validPieces(), 2);
  EXPECT_TRUE(checkUnfolding({}).empty());
}
