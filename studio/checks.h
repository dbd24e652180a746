// What a builder needs to know of a run's pieces at a glance: cut edges without a glue tab,
// pieces whose triangles do not hold together through their folds, pieces whose parts overlap,
// pieces larger than the printable area. The studio shows them after every run and edit.
#pragma once

#include <array>
#include <vector>
#include <nlohmann/json.hpp>

#include "job/module.h"
#include "job/pattern_files.h"

namespace studio {

using Flat = std::array<pattern::Point2, 3>;

/// True when a triangle of `a` overlaps one of `b` deeper than `depth`; with `b` null, two
/// triangles of `a` with each other. The triangles are filed in a grid of cells about their own
/// size, so that the cost grows with the triangles, not with their pairs.
bool anyOverlap(const std::vector<Flat>& a, const std::vector<Flat>* b, double depth);

/// The checks of a run, pieces by their printed numbers:
///   {"untabbed": [pieces with a cut edge without a tab that nobody chose], "inParts": [...],
///    "overlapping": [...], "offPage": [...]}
nlohmann::json runChecks(const job::RunEdges& edges, job::PatternFiles* pattern);

}  // namespace studio
