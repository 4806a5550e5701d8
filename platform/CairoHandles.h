#pragma once

#include <memory>

// For the drawing code of the platform and the view models: owning handles of
// the cairo objects a drawing makes and drops within one call. The types are
// declared as cairo declares them, so this header needs no cairo include path.
using cairo_t = struct _cairo;
using cairo_surface_t = struct _cairo_surface;
using cairo_pattern_t = struct _cairo_pattern;

namespace ambrell::platform {

struct CairoSurfaceRelease {
    void operator()(cairo_surface_t* surface) const;
};
struct CairoContextRelease {
    void operator()(cairo_t* context) const;
};
struct CairoPatternRelease {
    void operator()(cairo_pattern_t* pattern) const;
};

using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceRelease>;
using CairoContextPtr = std::unique_ptr<cairo_t, CairoContextRelease>;
using CairoPatternPtr = std::unique_ptr<cairo_pattern_t, CairoPatternRelease>;

}  // namespace ambrell::platform
