// The module's description of its last run, for the host that asks with kMessageDescribeRun:
// the pieces with their triangles, folds, cuts, glue tabs and materials, so that a host program
// can draw the pattern of exactly this run instead of unfolding again.
#pragma once

#include "sdk/host_api.h"

namespace foldra {

/// Forgets the run noted last: a new run begins.
void forgetRun();
/// Notes what the description needs of the source objects while intake's copies still exist:
/// whether they have texture coordinates, and the materials of their texture tags as the
/// active document holds them (the copies' own materials go with the copies).
void noteRun();
/// Describes the noted run to the sink: every valid piece in container order, each with its
/// triangles in the order they joined it. False when no run has been noted.
bool describeRun(const sdk::RunReportSink& sink);

}  // namespace foldra
