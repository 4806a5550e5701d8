#include "platform/CairoHandles.h"

#include <cairo.h>

namespace ambrell::platform {

void CairoSurfaceRelease::operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }

void CairoContextRelease::operator()(cairo_t* context) const { cairo_destroy(context); }

void CairoPatternRelease::operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }

}  // namespace ambrell::platform
