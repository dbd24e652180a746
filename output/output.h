// Scene output: one flat polygon object per piece in the active document, with the source's
// tags, texture selections, texture coordinates and materials, laid out in a row, a stack or an
// animation.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "host/host.h"

namespace foldra {

/// Layout modes of drawContainer.
inline constexpr std::int32_t kLayoutRow = 0;
inline constexpr std::int32_t kLayoutAnimation = 1;
inline constexpr std::int32_t kLayoutStack = 2;

/// Draws every drawable piece as a new object of the active document.
void drawContainer(std::int32_t mode);
/// A new polygon object of that size, recorded for undo and inserted first; null on failure.
host::Object* createContainerObject(std::int32_t triangleCount, std::int32_t lugCount);
/// Number of placed glue tabs of a valid piece; 0 for a dead one.
std::int32_t countContainerLugs(std::int32_t index);
/// Number of valid pieces with at least one triangle or tab.
std::int32_t countDrawableContainers();
/// Sets the timeline to one frame per drawable piece; answers the number of pieces.
std::int32_t setupAnimationTime();
/// Visibility keys that show piece k of n at frame k alone.
void animateContainer(host::Object* object, std::int32_t k, std::int32_t n);

/// Fills the object's points and polygons (and selections and texture coordinates) from piece
/// `containerIndex`, centred on its box and moved by offset. True when a triangle was drawn.
bool drawContainerMesh(host::Object* object, Vec3 offset, std::int32_t triangleCount, std::int32_t containerIndex);
/// Enters a polygon into the selection its texture tag is restricted to.
void assignTextureSelection(host::Object* object, std::int32_t polygonIndex, std::int32_t textureNumber);

/// Copies the source object's tags onto the piece object and points texture tags at the
/// active document's matching materials.
void transferContainerTags(std::int32_t sourceIndex, host::Object* object);
/// Position of the first material of the active document that matches m, or -1.
std::int32_t findMaterialNumber(host::Material* m);
bool isSameMaterialName(host::Material* a, host::Material* b);

}  // namespace foldra
