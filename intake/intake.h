// Mesh intake: the selected objects of the active document become one triangle list per object,
// with corners, texture coordinates, neighbours and texture numbers.
#pragma once

#include <cstdint>

#include "host/host.h"
#include "host/text.h"

namespace foldra {

/// Fills the source object list and the triangle lists from the active document's selection.
void collectObjects();
/// Stores triangle n of list j as the neighbour of triangle k across the side they share.
void linkNeighbour(std::int32_t j, std::int32_t k, std::int32_t n);
/// Frees intake's two copy documents (and forgets the source objects that live in them).
void releaseCopyDocuments();

/// The texture pass on source object j.
void assignTextureNumbers(host::Object* object, std::int32_t j);
/// The restriction text of a texture tag; "none" when it cannot be read.
host::String getSelection(host::Tag* tag);
/// Trace only: the materials of a document.
void printMaterialList(host::Document* document);
void printMaterial(host::Material* material, std::int32_t number);

}  // namespace foldra
