#pragma once

#include <cairo.h>

#include <memory>

namespace ambrell::platform {

// Owning handles of the cairo objects that the drawing code makes and drops
// within one call.
struct CairoSurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoContextRelease {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
struct CairoPatternRelease {
    void operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }
};

using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceRelease>;
using CairoContextPtr = std::unique_ptr<cairo_t, CairoContextRelease>;
using CairoPatternPtr = std::unique_ptr<cairo_pattern_t, CairoPatternRelease>;

}  // namespace ambrell::platform
