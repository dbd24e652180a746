// Mesh intake: the selected objects of the active document become one triangle list per object,
// with corners, texture coordinates, neighbours and texture numbers.
#pragma once

#include <cstdint>

#include "host/host.h"
#include "host/text.h"

namespace foldra {

struct gt;

/// Fills the source object list and the triangle lists from the active document's selection.
void collectObjects();
/// Stores triangle n of list j as the neighbour of triangle k across the side they share.
void linkNeighbour(std::int32_t j, std::int32_t k, std::int32_t n);
/// Frees intake's two copy documents (and forgets the source objects that live in them).
void releaseCopyDocuments();
/// Turns the triangles of list j that are wound against their neighbours, so that every part
/// of the object connected across edges of two polygons is wound one way where it can be (the
/// larger share of each part keeps its winding). A link that no turning makes agree (in a
/// non-orientable strip) or that crosses an edge of three or more polygons is left as it is:
/// the unfolding keeps it cut where the two run their side the same way. `polygons` are the
/// object's polygons, whose point indices tell how many polygons share an edge. Answers the
/// number of triangles turned.
std::int32_t orientTriangles(std::int32_t j, const sdk::Polygon* polygons, std::int32_t polygonCount);
/// Turns one triangle: corners 1 and 2 (with their texture coordinates) and sides 0 and 2 swap.
void turnTriangle(gt& t);

/// Reads the edges a person marked on source object j (host/edge_marks.h) into the sides of its
/// triangles, once they are linked and turned.
void readEdgeMarks(host::Object* object, std::int32_t j);
/// The side of triangle t that is side `polygonSide` (0..2) of its polygon.
std::int32_t triangleSide(const gt& t, std::int32_t polygonSide);

/// The texture pass on source object j.
void assignTextureNumbers(host::Object* object, std::int32_t j);
/// The restriction text of a texture tag; "none" when it cannot be read.
host::String getSelection(host::Tag* tag);
/// Trace only: the materials of a document.
void printMaterialList(host::Document* document);
void printMaterial(host::Material* material, std::int32_t number);

}  // namespace foldra
