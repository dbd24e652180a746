// The texture pass: which of an object's texture tags covers each triangle.
#include <vector>

#include "geometry/gt.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "intake/intake.h"

namespace foldra {

host::String getSelection(host::Tag* tag) {
  std::string restriction;
  if (host::api().getTagText(tag, sdk::kTextureRestriction, &restriction)) {
    runTrace("getSelection hat geklappt!");
    return host::String(std::move(restriction));
  }
  runTrace("getSelection hat nicht geklappt!");
  return host::String("none");
}

void assignTextureNumbers(host::Object* object, std::int32_t j) {
  auto& host = host::api();
  auto& triangles = run.gtvec[static_cast<std::size_t>(j)];
  const auto triangleCount = static_cast<std::int32_t>(triangles.size());
  // Selections are emptied only after every texture tag has read them: a later texture tag
  // restricted to the same selection must still find its polygons (it overrides the earlier).
  std::vector<host::Selection*> matched;
  runTrace("Suche ab dem ersten Texturetag:");
  std::int32_t t = 0;
  for (host::Tag* texture = host.objectTag(object, sdk::kTagTexture, 0); texture;
       texture = host.objectTag(object, sdk::kTagTexture, ++t)) {
    if constexpr (kRunTrace) runTrace("Texturname:", host::String(host.tagName(texture)));
    const host::String restriction = getSelection(texture);
    runTrace("texture restriction=", restriction);
    printMaterial(host.tagMaterial(texture, 0), t + 1);
    const std::int32_t polygonCount = host.dataCount(object, sdk::kDataPolygon);
    std::int32_t s = 0;
    for (host::Tag* selectionTag = host.objectTag(object, sdk::kTagPolygonSelection, 0); selectionTag;
         selectionTag = host.objectTag(object, sdk::kTagPolygonSelection, ++s)) {
      const host::String name(host.tagName(selectionTag));
      runTrace("Selectionsname:", name);
      if (name.compare(restriction) != 0) continue;
      host::Selection* selection = host.tagSelection(selectionTag);
      runTrace(" Polygonselection gefunden");
      std::int32_t first = 0, last = 0;
      for (std::int32_t segment = 0; host.selectionRange(selection, segment, polygonCount, &first, &last); ++segment) {
        for (std::int32_t k = first < 0 ? 0 : first; k <= last; ++k) {
          // Indices past the object's triangles are skipped; the rest of the range still counts.
          if (k >= triangleCount) break;
          triangles[static_cast<std::size_t>(k)]->textureNumber = t;
          runTrace("Obj:", j, ": Dreieck ", k, " traegt Material Nr.", t);
        }
      }
      matched.push_back(selection);
    }
  }
  for (host::Selection* selection : matched) host.selectionClear(selection);
  runTrace("kein weiteres Texturetag");
}

void printMaterialList([[maybe_unused]] host::Document* document) {
  if constexpr (kRunTrace) {
    runTrace("C4D-MATERIALLISTE:");
    std::int32_t number = 0;
    for (host::Material* m = host::api().firstMaterial(document); m; m = host::api().nextMaterial(m)) {
      printMaterial(m, number++);
    }
  }
}

void printMaterial([[maybe_unused]] host::Material* material, [[maybe_unused]] std::int32_t number) {
  if constexpr (kRunTrace) {
    if (!material) return;
    auto& host = host::api();
    runTrace(number, ".) pointer:", static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(material)),
             " typename:", host::String(host.materialTypeName(material)), " type:", host.materialType(material),
             " name:", host::String(host.materialName(material)));
  }
}

}  // namespace foldra
