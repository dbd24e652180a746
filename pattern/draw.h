// Drawing one sheet of the pattern; the same code serves the PDF, SVG and PNG surfaces.
#pragma once

#include <cairo.h>

#include "pattern/pattern.h"
#include "pattern/texture.h"

namespace pattern::detail {

struct SheetSource {
  const PatternInput& input;
  const PatternOptions& options;
  const Packing& packing;
  const Textures& textures;
};

/// Draws sheet `sheet` in page millimetres (x right, y down from the top-left corner): the
/// caller scales `cr` from millimetres to its surface's units.
void drawSheet(cairo_t* cr, const SheetSource& source, int sheet);

}  // namespace pattern::detail
