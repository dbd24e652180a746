// Material transfer: the source object's tags onto a piece, its texture tags pointed at the
// active document's materials.
#include "host/run_state.h"
#include "host/trace.h"
#include "output/output.h"

namespace foldra {

void transferContainerTags(std::int32_t sourceIndex, host::Object* object) {
  if (sourceIndex < 0 || static_cast<std::size_t>(sourceIndex) >= run.sourceObjects.size()) return;
  host::Object* source = run.sourceObjects[static_cast<std::size_t>(sourceIndex)];
  if (!source) return;
  auto& host = host::api();
  host.copyTags(source, object, 1, -1, -1, nullptr);
  host.messageObject(source, sdk::kMessageUpdate);
  host.messageObject(object, sdk::kMessageUpdate);
  for (std::int32_t k = 0;; ++k) {
    host::Tag* S = host.objectTag(source, sdk::kTagTexture, k);
    host::Tag* D = host.objectTag(object, sdk::kTagTexture, k);
    if (!S || !D) break;
    runTrace(k);
    host::Material* m = host.tagMaterial(S, 0);
    if constexpr (kRunTrace) {
      runTrace("FirstMaterial:",
               static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(host.firstMaterial(run.activeDocument))));
    }
    const std::int32_t n = findMaterialNumber(m);
    runTrace("Polizeilich ermittelte Materialnummer:", n);
    host::Material* target = host.firstMaterial(run.activeDocument);
    for (std::int32_t step = 0; step < n && target; ++step) target = host.nextMaterial(target);
    if constexpr (kRunTrace) {
      if (target) runTrace(host::String(host.materialName(target)));
      runTrace("GetMaterial:", static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(target)));
      std::int32_t before = 0;
      for (host::Material* p = target ? host.previousMaterial(target) : nullptr; p; p = host.previousMaterial(p)) ++before;
      runTrace("Nummer:", before);
    }
    host.messageTag(D, sdk::kMessageUpdate);
    if (target) host.setTagMaterial(D, target);
    host.messageTag(D, sdk::kMessageUpdate);
    host.messageObject(object, sdk::kMessageUpdate);
  }
}

std::int32_t findMaterialNumber(host::Material* m) {
  auto& host = host::api();
  std::int32_t position = 0;
  for (host::Material* q = host.firstMaterial(run.activeDocument); q; q = host.nextMaterial(q), ++position) {
    if (host.compareMaterials(m, q) && isSameMaterialName(m, q)) return position;
  }
  return -1;
}

bool isSameMaterialName(host::Material* a, host::Material* b) {
  auto& host = host::api();
  return host::String(host.materialName(a)).compare(host::String(host.materialName(b))) == 0;
}

}  // namespace foldra
