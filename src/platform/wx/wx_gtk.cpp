// SPDX-License-Identifier: Apache-2.0
// The few GTK calls the back end needs beyond wxWidgets (answering a native box, a compact
// control style), looked up in the toolkit wxWidgets has already loaded.
#include <dlfcn.h>

#include "platform/wx/wx_internal.h"

namespace wxui {
namespace {

template <class Fn>
Fn gtkFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

// GTK's response codes for the buttons wxWidgets puts into its native boxes.
constexpr int GTK_RESPONSE_OK = -5, GTK_RESPONSE_CANCEL = -6, GTK_RESPONSE_YES = -8,
              GTK_RESPONSE_NO = -9;
constexpr unsigned STYLE_PRIORITY_APPLICATION = 600;

}  // namespace

bool gtkIsMapped(wxWindow* nativeDialog) {
    auto mapped = gtkFunction<int (*)(void*)>("gtk_widget_get_mapped");
    void* widget = nativeDialog ? nativeDialog->GetHandle() : nullptr;
    return mapped && widget && mapped(widget);
}

bool gtkAnswerDialog(wxWindow* nativeDialog, int wxAnswer) {
    auto respond = gtkFunction<void (*)(void*, int)>("gtk_dialog_response");
    void* widget = nativeDialog ? nativeDialog->GetHandle() : nullptr;
    if (!respond || !widget) return false;
    int code = GTK_RESPONSE_CANCEL;
    if (wxAnswer == wxID_OK) code = GTK_RESPONSE_OK;
    if (wxAnswer == wxID_YES) code = GTK_RESPONSE_YES;
    if (wxAnswer == wxID_NO) code = GTK_RESPONSE_NO;
    respond(widget, code);
    return true;
}

void gtkLoadCss(const char* css) {
    auto newProvider = gtkFunction<void* (*)()>("gtk_css_provider_new");
    auto load =
        gtkFunction<int (*)(void*, const char*, long, void**)>("gtk_css_provider_load_from_data");
    auto screen = gtkFunction<void* (*)()>("gdk_screen_get_default");
    auto add =
        gtkFunction<void (*)(void*, void*, unsigned)>("gtk_style_context_add_provider_for_screen");
    if (!newProvider || !load || !screen || !add || !screen()) return;
    void* provider = newProvider();
    if (load(provider, css, -1, nullptr)) add(screen(), provider, STYLE_PRIORITY_APPLICATION);
}

}  // namespace wxui

namespace wxui {

// Reads the screen back from the X server (wxScreenDC on GTK 3 may serve an old copy).
bool gtkGrabScreen(const wxRect& r, wxImage* out) {
    auto root = gtkFunction<void* (*)()>("gdk_get_default_root_window");
    auto grab = gtkFunction<void* (*)(void*, int, int, int, int)>("gdk_pixbuf_get_from_window");
    auto pixels = gtkFunction<unsigned char* (*)(void*)>("gdk_pixbuf_get_pixels");
    auto stride = gtkFunction<int (*)(void*)>("gdk_pixbuf_get_rowstride");
    auto channels = gtkFunction<int (*)(void*)>("gdk_pixbuf_get_n_channels");
    auto unref = gtkFunction<void (*)(void*)>("g_object_unref");
    if (!root || !grab || !pixels || !stride || !channels || !unref || !root()) return false;
    void* pixbuf = grab(root(), r.x, r.y, r.width, r.height);
    if (!pixbuf) return false;
    const unsigned char* p = pixels(pixbuf);
    const int rowBytes = stride(pixbuf), n = channels(pixbuf);
    out->Create(r.width, r.height, false);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const unsigned char* px = p + y * rowBytes + x * n;
            out->SetRGB(x, y, px[0], px[1], px[2]);
        }
    unref(pixbuf);
    return true;
}

}  // namespace wxui
