// The pattern's view of an unfolding, read from the module's description of its run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "formats/mesh_io.h"
#include "job/pattern_input.h"
#include "pattern_test_support.h"
#include "runtime/run_report.h"
#include "shell/report.h"
#include "support.h"
#include "unfold/unfold.h"

using namespace testing_support;

namespace {

/// The pattern of the module's last run, as the program reads it.
pattern::PatternInput patternOfRun(const std::string& textureFolder) {
  runtime::RunReport report;
  std::string error;
  EXPECT_TRUE(runtime::collectRunReport([](const sdk::RunReportSink& sink) { return foldra::describeRun(sink); }, &report, &error))
      << error;
  return job::patternInput(report, textureFolder);
}

struct Counts {
  int folds = 0, cuts = 0, tabs = 0;
};

/// Folds, cuts and tabs as the run state has them: a fold once per edge, a cut once per side.
Counts unfoldingCounts() {
  Counts c;
  for (const auto& list : foldra::run.gtvec) {
    for (const auto& t : list) {
      if (!t->usable) continue;
      for (int k = 0; k < 3; ++k) {
        if (foldra::isFold(*t, k)) {
          c.folds += t->serial < t->nb[k]->serial ? 1 : 0;
        } else {
          ++c.cuts;
        }
        c.tabs += t->placedLugs[k][0] ? 1 : 0;
      }
    }
  }
  return c;
}

Counts patternCounts(const pattern::PatternInput& input) {
  Counts c;
  for (const auto& piece : input.pieces) {
    for (const auto& e : piece.edges) (e.kind == pattern::EdgeKind::Cut ? c.cuts : c.folds) += 1;
    c.tabs += static_cast<int>(piece.tabs.size());
  }
  return c;
}

/// Every cut edge with a partner carries a number that appears exactly twice; tabs stand on
/// numbered cut edges.
void checkLabels(const pattern::PatternInput& input) {
  std::map<int, int> seen;
  for (const auto& piece : input.pieces) {
    for (const auto& e : piece.edges) {
      if (e.kind == pattern::EdgeKind::Cut && e.label > 0) ++seen[e.label];
      if (e.kind != pattern::EdgeKind::Cut) {
        EXPECT_EQ(e.label, 0);
      }
    }
    for (const auto& tab : piece.tabs) EXPECT_GT(tab.label, 0);
  }
  for (const auto& [label, count] : seen) EXPECT_EQ(count, 2) << "label " << label;
  for (int i = 1; i <= static_cast<int>(seen.size()); ++i) EXPECT_EQ(seen.count(i), 1u) << "labels run from 1 without gaps";
}

}  // namespace

TEST(PatternInput, FoldsCutsTabsAndLabelsMatchTheUnfolding) {
  for (auto make : {+[] { return cube(); }, +[] { return icosphere(2); }, +[] { return torus(12, 6); },
                    +[] { return grid(3, 3); }, +[] { return openCylinder(10, 2); }}) {
    LinkedHost h;
    h.add(make());
    foldra::Settings s;
    s.Seitenflag = true;
    s.Seitenbreite = 25;
    s.Seitenhoehe = 20;
    s.Laschenbreite = 1;
    ASSERT_TRUE(h.unfold(s));
    const pattern::PatternInput input = patternOfRun("");
    EXPECT_EQ(static_cast<int>(input.pieces.size()), validPieces());
    const Counts expected = unfoldingCounts();
    const Counts got = patternCounts(input);
    EXPECT_EQ(got.folds, expected.folds);
    EXPECT_EQ(got.cuts, expected.cuts);
    EXPECT_EQ(got.tabs, expected.tabs);
    checkLabels(input);
    for (std::size_t i = 0; i < input.pieces.size(); ++i) EXPECT_EQ(input.pieces[i].number, static_cast<int>(i) + 1);
  }
}

TEST(PatternInput, ConvexEdgesAreMountainsAndConcaveOnesValleys) {
  for (double lift : {1.0, -1.0}) {
    LinkedHost h;
    // Two quadrangles facing +z (the printed side), the shared edge lifted or lowered.
    auto fold = grid(2, 1);
    fold->points[1].z = static_cast<float>(lift);
    fold->points[4].z = static_cast<float>(lift);
    h.add(std::move(fold));
    ASSERT_TRUE(h.unfold(foldra::Settings{}));
    const pattern::PatternInput input = patternOfRun("");
    ASSERT_EQ(input.pieces.size(), 1u);
    int mountains = 0, valleys = 0, flat = 0;
    for (const auto& e : input.pieces[0].edges) {
      if (e.kind == pattern::EdgeKind::Cut) continue;
      if (e.foldDegrees < 1) {
        ++flat;
      } else {
        (e.kind == pattern::EdgeKind::Mountain ? mountains : valleys) += 1;
        EXPECT_NEAR(e.foldDegrees, 90, 1e-6);
      }
    }
    EXPECT_EQ(flat, 2) << "the diagonals of the quadrangles";
    EXPECT_EQ(mountains, lift > 0 ? 1 : 0);
    EXPECT_EQ(valleys, lift > 0 ? 0 : 1);
  }
}

TEST(PatternInput, MaterialsColoursTexturesAndCoordinates) {
  LinkedHost h;
  std::string error;
  const std::string example = std::string(FOLDRA_SOURCE_DIR) + "/examples/house.obj";
  ASSERT_TRUE(formats::importMesh(example, h.document(), &error)) << error;
  for (const auto& o : h.document().objects()) o->selected = true;
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  const pattern::PatternInput input = patternOfRun("/somewhere");
  ASSERT_EQ(input.materials.size(), 2u);
  const auto walls = std::find_if(input.materials.begin(), input.materials.end(), [](const auto& m) { return m.name == "Walls"; });
  ASSERT_NE(walls, input.materials.end());
  EXPECT_EQ(std::filesystem::path(walls->texture).filename(), "house-walls.png");
  EXPECT_TRUE(std::filesystem::exists(walls->texture)) << walls->texture;
  for (const auto& piece : input.pieces) {
    for (const auto& t : piece.triangles) {
      EXPECT_TRUE(t.hasUV);
      EXPECT_GE(t.material, 0);
    }
  }
}

TEST(PatternInput, ACubeAnIcosphereAndATexturedModelLayOutSoundly) {
  const std::string example = std::string(FOLDRA_SOURCE_DIR) + "/examples/house.obj";
  for (int model = 0; model < 3; ++model) {
    LinkedHost h;
    if (model == 0) h.add(cube(100));
    if (model == 1) h.add(icosphere(2, 60));
    if (model == 2) {
      std::string error;
      ASSERT_TRUE(formats::importMesh(example, h.document(), &error)) << error;
      h.document().objects().front()->selected = true;
    }
    // A page limit in model units as the program hands it: the printable area over the scale.
    pattern::PatternOptions options;
    options.scale = model == 2 ? 30 : 1;
    foldra::Settings s;
    s.Seitenflag = true;
    s.Seitenbreite = (options.pageWidth - 2 * options.margin) / options.scale;
    s.Seitenhoehe = (options.pageHeight - 2 * options.margin) / options.scale;
    s.Laschenbreite = 8 / options.scale;
    ASSERT_TRUE(h.unfold(s));
    const pattern::PatternInput input = patternOfRun("");
    const pattern::Packing packing = pattern::packPattern(input, options);
    patterntest::expectSoundPacking(input, options, packing);
    for (const auto& position : packing.positions) EXPECT_FALSE(position.oversize) << "every piece fits the page";
    EXPECT_LE(packing.sheets, static_cast<int>(input.pieces.size()));
  }
}
