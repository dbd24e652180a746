// The scene builder: one polygon object per drawable piece, laid out.
#include "host/progress.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "output/output.h"
#include "unfold/gtc.h"

namespace foldra {

namespace {

std::int32_t triangleCountOf(const gtc& c) { return c.valid ? static_cast<std::int32_t>(c.triangles.size()) : 0; }

}  // namespace

std::int32_t countContainerLugs(std::int32_t index) {
  const gtc& c = *run.containers[static_cast<std::size_t>(index)];
  if (!c.valid) return 0;
  std::int32_t count = 0;
  for (const gt* t : c.triangles) {
    for (int k = 0; k < 3; ++k) {
      if (t->placedLugs[k][0]) ++count;
    }
  }
  return count;
}

std::int32_t countDrawableContainers() {
  std::int32_t n = 0;
  for (std::size_t i = 0; i < run.containers.size(); ++i) {
    const gtc& c = *run.containers[i];
    if (c.valid && triangleCountOf(c) + countContainerLugs(static_cast<std::int32_t>(i)) > 0) ++n;
  }
  return n;
}

std::int32_t setupAnimationTime() {
  const std::int32_t n = countDrawableContainers();
  if (n <= 0) return 0;
  auto& host = host::api();
  host::Document* doc = run.activeDocument;
  // The timeline is the user's: one undo of the run must give it back as it was.
  host.addUndo(doc, sdk::kUndoDocumentTime, doc);
  const sdk::Time zero{0, 1};
  const sdk::Time last{n - 1, n};
  host.setDocumentInt(doc, sdk::kDocumentFps, n);
  host.setDocumentTime(doc, sdk::kDocumentMinTime, zero);
  host.setDocumentTime(doc, sdk::kDocumentMaxTime, last);
  host.setDocumentTime(doc, sdk::kDocumentLoopMinTime, zero);
  host.setDocumentTime(doc, sdk::kDocumentLoopMaxTime, last);
  host.setDocumentTime(doc, sdk::kDocumentTime, zero);
  return n;
}

host::Object* createContainerObject(std::int32_t triangleCount, std::int32_t lugCount) {
  auto& host = host::api();
  runTrace("baseobjects:", run.sourceObjects.size());
  host::Object* object = host.allocObject(sdk::kObjectPolygon);
  if (!object) {
    runTrace("konnte polygonobjekt nicht erzeugen!");
    return nullptr;
  }
  if (!host.resizePolygonObject(object, 3 * triangleCount + 4 * lugCount, triangleCount + lugCount)) {
    host.freeObject(object);
    runTrace("konnte polygonobjekt nicht erzeugen!");
    return nullptr;
  }
  host.addUndo(run.activeDocument, sdk::kUndoNewObject, object);
  host.insertObject(run.activeDocument, object, nullptr, nullptr, 1);
  host.messageObject(object, sdk::kMessageUpdate);
  return object;
}

void animateContainer(host::Object* object, std::int32_t k, std::int32_t n) {
  if (n < 1 || run.containers.empty()) return;
  auto& host = host::api();
  sdk::Track* editorTrack = host.newTrack(object, sdk::kObjectEditorVisibility);
  sdk::Track* renderTrack = host.newTrack(object, sdk::kObjectRenderVisibility);
  host.insertTrack(object, editorTrack);
  host.insertTrack(object, renderTrack);
  sdk::Curve* editor = host.trackCurve(editorTrack, sdk::kCurveValue, true);
  sdk::Curve* render = host.trackCurve(renderTrack, sdk::kCurveValue, true);
  host.setObjectInt(object, sdk::kObjectEditorVisibility, sdk::kVisibilityOff);
  host.setObjectInt(object, sdk::kObjectRenderVisibility, sdk::kVisibilityOff);
  const std::int32_t previous = k - 1 < 0 ? n - 1 : k - 1;
  const std::int32_t next = k + 1 >= n ? 0 : k + 1;
  const std::pair<std::int32_t, std::int32_t> keys[3] = {
      {previous, sdk::kVisibilityOff}, {next, sdk::kVisibilityOff}, {k, sdk::kVisibilityOn}};
  for (const auto& [frame, value] : keys) {
    for (sdk::Curve* curve : {editor, render}) {
      sdk::Key* key = host.addKey(curve, sdk::Time{frame, n}, 0);
      host.setKeyInterpolation(key, curve, sdk::kInterpolationStep);
      host.setKeyValue(key, curve, value);
    }
  }
  host.messageDocument(run.activeDocument, sdk::kMessageUpdate);
  host.eventAdd(2);
}

void drawContainer(std::int32_t mode) {
  auto& host = host::api();
  const std::int32_t n = mode == kLayoutAnimation ? setupAnimationTime() : 0;
  double xOffset = 0, zOffset = 0;
  std::int32_t k = -1;
  runTrace("Punkte und Triangles:");
  // The pieces go into the document one by one: broken off halfway, the run would leave some.
  host::StageProgress progress("Building pieces", static_cast<std::int64_t>(run.containers.size()), false);
  for (std::size_t i = 0; i < run.containers.size(); ++i) {
    progress.step(static_cast<std::int64_t>(i));
    gtc& c = *run.containers[i];
    const auto index = static_cast<std::int32_t>(i);
    const std::int32_t t = triangleCountOf(c);
    const std::int32_t g = countContainerLugs(index);
    runTrace("Container:", index, " dreiecksanzahl:", t, " Laschenanzahl:", g);
    if (t + g <= 0 || !c.valid) continue;
    ++k;
    runTrace(" ValidContainer:", k);
    host::Object* object = createContainerObject(t, g);
    if (!object) continue;
    if (settings.Materialflag) transferContainerTags(c.triangles.front()->objectIndex, object);
    const bool drawn = drawContainerMesh(object, Vec3{xOffset, 0, zOffset}, t, index);
    if (drawn) {
      if (mode == kLayoutAnimation) {
        animateContainer(object, k, n);
      } else if (mode == kLayoutStack) {
        zOffset += 100.0;
      } else if (mode == kLayoutRow) {
        double w = 0;
        for (std::size_t next = i + 1; next < run.containers.size(); ++next) {
          const gtc& other = *run.containers[next];
          if (other.valid && !other.triangles.empty()) {
            w = other.box.width();
            break;
          }
        }
        xOffset += 0.55 * (w + c.box.maxX - c.box.minX);
      }
    }
    host.messageObject(object, sdk::kMessageUpdate);
  }
  host.drawViews(1282, nullptr);
  runTrace("drawContainer ende");
}

}  // namespace foldra
