// SPDX-License-Identifier: Apache-2.0
// The history's picture painted with cairo and encoded by cairo's own PNG writer.
#include <cairo.h>

#include <cmath>

#include "history/plot_scene.h"

namespace {

void colour(cairo_t* cr, const HistoryColour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void paintText(cairo_t* cr, const PlotMark& m, bool chinese) {
    // The Chinese font has Latin letters too; one face for the whole picture.
    cairo_select_font_face(cr, chinese ? "AR PL UMing CN" : "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           m.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, m.size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, m.text.c_str(), &e);
    colour(cr, m.fillColour);
    cairo_save(cr);
    cairo_translate(cr, m.points[0].x, m.points[0].y);
    if (m.vertical) cairo_rotate(cr, -M_PI / 2);
    cairo_move_to(cr, -m.align * e.x_advance, 0);
    cairo_show_text(cr, m.text.c_str());
    cairo_restore(cr);
}

void paintShape(cairo_t* cr, const PlotMark& m) {
    cairo_new_path(cr);
    if (m.kind == PlotMark::CIRCLE) {
        cairo_arc(cr, m.points[0].x, m.points[0].y, m.radius, 0, 2 * M_PI);
    } else {
        for (size_t i = 0; i < m.points.size(); ++i)
            (i ? cairo_line_to : cairo_move_to)(cr, m.points[i].x, m.points[i].y);
        if (m.closed) cairo_close_path(cr);
    }
    if (m.fill) {
        colour(cr, m.fillColour);
        cairo_fill_preserve(cr);
    }
    if (m.strokeWidth > 0) {
        const double dashes[] = {6, 4};
        cairo_set_dash(cr, dashes, m.dashed ? 2 : 0, 0);
        cairo_set_line_width(cr, m.strokeWidth);
        colour(cr, m.strokeColour);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
    }
    cairo_new_path(cr);
}

cairo_status_t toVector(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool History_PlotPng(const std::vector<HistorySeries>& series,
                     const std::vector<HistoryDrift>& drifts, const std::string& printer,
                     bool chinese, std::vector<uint8_t>* png, std::string* error) {
    const HistoryPlotScene scene = History_PlotScene(series, drifts, printer, chinese);
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, scene.width, scene.height);
    cairo_t* cr = cairo_create(surface);
    colour(cr, scene.background);
    cairo_paint(cr);
    for (const PlotMark& m : scene.marks) {
        switch (m.kind) {
            case PlotMark::TEXT:
                paintText(cr, m, scene.chinese);
                break;
            case PlotMark::CLIP:
                cairo_save(cr);
                cairo_rectangle(cr, m.points[0].x, m.points[0].y, m.points[1].x - m.points[0].x,
                                m.points[1].y - m.points[0].y);
                cairo_clip(cr);
                break;
            case PlotMark::UNCLIP:
                cairo_restore(cr);
                break;
            case PlotMark::PATH:
            case PlotMark::CIRCLE:
                paintShape(cr, m);
                break;
        }
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    png->clear();
    cairo_status_t status = cairo_surface_write_to_png_stream(surface, toVector, png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = std::string("the picture could not be encoded: ") + cairo_status_to_string(status);
        return false;
    }
    return true;
}
