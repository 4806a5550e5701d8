#include "platform/Text.h"

#include "platform/TextCairo.h"

#include "platform/CairoHandles.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

namespace ambrell::platform {

namespace text_drawing {
namespace {

struct DestroyFontOptions {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
struct DestroyFontDescription {
    void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
struct UnrefObject {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// pango's objects are not thread-safe, and its default font map is one per
// thread, which each drawing thread would load its fonts into again and
// which is never freed. One map for the process, used under a lock, loads
// each font once; labels and icons are small, so serialising them costs
// little.
struct SharedFontMap {
    std::mutex mutex;
    PangoFontMap* fontMap = pango_cairo_font_map_new();
};

SharedFontMap& sharedFontMap() {
    // Never destroyed: text may still be drawn while statics are torn down.
    static auto* shared = new SharedFontMap();
    return *shared;
}

bool isUsableSize(double size) { return std::isfinite(size) && size > 0 && size < 1e6; }

// A layout of the text for the context, hinting off and grey antialiasing:
// hinted glyph positions would snap to the pixel grid, so a label would
// measure differently at each screen scale.
std::unique_ptr<PangoLayout, UnrefObject> layoutFor(cairo_t* context, std::string_view text, const Font& font) {
    const std::unique_ptr<cairo_font_options_t, DestroyFontOptions> options(cairo_font_options_create());
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);

    const std::unique_ptr<PangoContext, UnrefObject> pangoContext(
        pango_font_map_create_context(sharedFontMap().fontMap));
    pango_cairo_update_context(context, pangoContext.get());
    pango_cairo_context_set_font_options(pangoContext.get(), options.get());
    pango_context_set_round_glyph_positions(pangoContext.get(), FALSE);
    std::unique_ptr<PangoLayout, UnrefObject> layout(pango_layout_new(pangoContext.get()));

    const std::unique_ptr<PangoFontDescription, DestroyFontDescription> description(pango_font_description_new());
    pango_font_description_set_family(description.get(), font.family.c_str());
    pango_font_description_set_weight(description.get(), font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(description.get(), font.size * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), description.get());
    // pango replaces invalid UTF-8 itself, but warns; validating first keeps
    // the log quiet and the result the same.
    const std::unique_ptr<gchar, decltype(&g_free)> valid(
        g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), &g_free);
    pango_layout_set_text(layout.get(), valid.get(), -1);
    return layout;
}

bool isUsableWidth(double width) { return std::isfinite(width) && width > 0 && width < 1e6; }

PangoAlignment pangoAlignment(TextAlignment alignment) {
    switch (alignment) {
        case TextAlignment::Center: return PANGO_ALIGN_CENTER;
        case TextAlignment::Right: return PANGO_ALIGN_RIGHT;
        case TextAlignment::Left: break;
    }
    return PANGO_ALIGN_LEFT;
}

CGSize measureWrapped(std::string_view text, const Font& font, std::optional<double> maxWidth) {
    if (text.empty() || !isUsableSize(font.size)) return {};
    const std::lock_guard lock(sharedFontMap().mutex);
    const CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
    const CairoContextPtr context(cairo_create(surface.get()));
    const auto layout = layoutFor(context.get(), text, font);
    if (maxWidth) {
        pango_layout_set_width(layout.get(), static_cast<int>(*maxWidth * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    PangoRectangle logical{};
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace

void showText(cairo_t* context, std::string_view text, const Font& font, double width, bool wrap,
              TextAlignment alignment) {
    if (text.empty() || !isUsableSize(font.size)) return;
    const std::lock_guard lock(sharedFontMap().mutex);
    const auto layout = layoutFor(context, text, font);
    pango_layout_set_alignment(layout.get(), pangoAlignment(alignment));
    double offset = 0;
    if (wrap && isUsableWidth(width)) {
        pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    } else if (alignment != TextAlignment::Left && std::isfinite(width)) {
        // Without a layout width pango aligns lines against the widest one;
        // the block itself is placed in the box here.
        PangoRectangle logical{};
        pango_layout_get_extents(layout.get(), nullptr, &logical);
        const double spare = width - static_cast<double>(logical.width) / PANGO_SCALE;
        offset = alignment == TextAlignment::Center ? spare / 2 : spare;
    }
    cairo_move_to(context, offset, 0);
    pango_cairo_show_layout(context, layout.get());
}

}  // namespace text_drawing

CGSize measureText(std::string_view text, const Font& font) {
    return text_drawing::measureWrapped(text, font, std::nullopt);
}

CGSize measureText(std::string_view text, const Font& font, double maxWidth) {
    if (!text_drawing::isUsableWidth(maxWidth)) return measureText(text, font);
    return text_drawing::measureWrapped(text, font, maxWidth);
}

void drawText(Image& image, std::string_view text, const Font& font, CGPoint origin, const Color& color) {
    if (text.empty() || !text_drawing::isUsableSize(font.size)) return;
    auto pixels = image.pixels();
    const CairoSurfacePtr surface(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_ARGB32, image.width(), image.height(),
        image.width() * static_cast<int>(sizeof(std::uint32_t))));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    {
        const std::lock_guard lock(text_drawing::sharedFontMap().mutex);
        const CairoContextPtr context(cairo_create(surface.get()));
        cairo_scale(context.get(), image.scale(), image.scale());
        const auto layout = text_drawing::layoutFor(context.get(), text, font);
        cairo_set_source_rgba(context.get(), color.red, color.green, color.blue, color.alpha);
        cairo_move_to(context.get(), origin.x, origin.y);
        pango_cairo_show_layout(context.get(), layout.get());
    }
    cairo_surface_flush(surface.get());
}

}  // namespace ambrell::platform
