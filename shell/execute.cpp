// The run driver: the stages of one run in their order, and the removal of the source objects.
#include "geometry/kernel.h"
#include "host/progress.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "intake/intake.h"
#include "output/output.h"
#include "shell/execute.h"
#include "shell/report.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Removes the objects selected in the active document (with selected objects below them),
/// each with its undo step.
void removeSelectedObjects() {
  auto& host = host::api();
  runTrace("loesche!");
  host::ObjectListRef list;
  host.activeObjects(run.activeDocument, list.get(), sdk::kActiveObjectsChildren);
  runTrace("getcount ergab:", list.count());
  for (int i = 0; i < list.count(); ++i) {
    runTrace("r:", i);
    host::Object* object = list.entry(i);
    host.addUndo(run.activeDocument, sdk::kUndoRemoveObject, object);
    host.removeObject(object);
  }
}

}  // namespace

bool unfoldSelection() {
  forgetRun();
  clearTriangleLists();
  clearContainers();
  host::api().interactionStart();
  collectObjects();
  if (run.gtvec.empty()) {
    // A run that found nothing to unfold is still the last run: it made no pieces.
    noteRun();
    return false;
  }
  prepareTriangles();
  unfoldTriangles();
  noteRun();
  return true;
}

void Execute() {
  runTrace("Execute");
  host::breakAsked() = false;
  bool unfolded = false;
  try {
    unfolded = unfoldSelection();
  } catch (const host::RunBroken&) {
    // Broken off before anything reached the document: the run leaves nothing, not even a
    // description of itself.
    runTrace("foldra: broken off");
    forgetRun();
    clearTriangleLists();
    clearContainers();
    releaseCopyDocuments();
    host::api().statusClear();
    return;
  }
  if (unfolded) {
    runTrace("foldra: creating scene..");
    drawContainer(layoutMode(settings.AlsAnimation));
    // Scene output was the last reader of the copies.
    releaseCopyDocuments();
    if (settings.Originalflag) removeSelectedObjects();
  } else {
    releaseCopyDocuments();
  }
  host::api().statusClear();
  runTrace("foldra: finished");
}

}  // namespace foldra
