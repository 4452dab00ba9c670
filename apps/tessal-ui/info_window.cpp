#include "info_window.h"

#include <gtk/gtk.h>

#include <string>

#include "diagnostics/utf8_text.h"
#include "pango_measurer.h"
#include "viewers.h"

namespace tessal::ui {

namespace {

// The window's own font, the dialog font of 8 points, and buttons as tight
// as the layout's 12 units; the viewers it opens keep their own style.
constexpr const char* kWindowName = "tessal-info";
constexpr const char* kWindowCss =
    "#tessal-info, #tessal-info * { font-family: \"Liberation Sans\"; font-size: 8pt; }"
    "#tessal-info button { padding: 0 4px; min-height: 0; min-width: 0; }";

struct WindowState {
    GtkWidget* window = nullptr;
    const std::map<int, std::vector<std::uint8_t>>* objects = nullptr;
};

bool isCertificateTarget(int id) {
    return id == display::targets::kSignerCertificate || id == display::targets::kAuthorityCertificate ||
           (id >= display::targets::kArchiveCertificate &&
            id < display::targets::kArchiveCertificate + static_cast<int>(display::kShownArchiveTimeStamps));
}

bool isCrlTarget(int id) {
    return id == display::targets::kSignerCrl || id == display::targets::kAuthorityCrl ||
           (id >= display::targets::kArchiveCrl &&
            id < display::targets::kArchiveCrl + static_cast<int>(display::kShownArchiveTimeStamps));
}

void onButton(GtkButton* button, gpointer data) {
    auto* state = static_cast<WindowState*>(data);
    const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "tessal-id"));
    if (id == display::targets::kClose) {
        gtk_widget_destroy(state->window);
        return;
    }
    // A button whose object is missing opens nothing.
    const auto found = state->objects->find(id);
    if (found == state->objects->end()) return;
    if (isCertificateTarget(id)) showCertificate(GTK_WINDOW(state->window), found->second);
    else if (isCrlTarget(id)) showCrl(GTK_WINDOW(state->window), found->second);
}

gboolean onKey(GtkWidget* window, GdkEventKey* event, gpointer) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    gtk_widget_destroy(window);
    return TRUE;
}

// A short horizontal bar across the middle of the mark: the "not so" sign.
gboolean drawBadMark(GtkWidget* area, cairo_t* cr, gpointer) {
    const int width = gtk_widget_get_allocated_width(area);
    const int middle = gtk_widget_get_allocated_height(area) / 2;
    cairo_set_source_rgb(cr, 153 / 255.0, 51 / 255.0, 0.0);
    cairo_rectangle(cr, 1, middle, width - 2, 3);
    cairo_fill(cr);
    return FALSE;
}

GtkWidget* iconImage(std::initializer_list<const char*> names, int pixels) {
    std::vector<const char*> list(names);
    list.push_back(nullptr);
    GIcon* icon = g_themed_icon_new_from_names(const_cast<char**>(list.data()), -1);
    GtkWidget* image = gtk_image_new_from_gicon(icon, GTK_ICON_SIZE_MENU);
    gtk_image_set_pixel_size(GTK_IMAGE(image), pixels);
    g_object_unref(icon);
    return image;
}

GtkWidget* textLabel(const std::u16string& text, int width) {
    const std::string utf8 = diag::utf8Encode(text);
    GtkWidget* label = gtk_label_new(utf8.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    gtk_widget_set_size_request(label, width, -1);
    return label;
}

GtkWidget* itemWidget(const display::WindowItem& item, const DialogUnits& units, WindowState& state) {
    const int width = units.x(item.width);
    const int height = units.y(item.height);
    GtkWidget* widget = nullptr;
    switch (item.kind) {
    case display::ItemKind::Text:
        return textLabel(item.text, width);
    case display::ItemKind::Button: {
        widget = gtk_button_new_with_label(diag::utf8Encode(item.text).c_str());
        g_object_set_data(G_OBJECT(widget), "tessal-id", GINT_TO_POINTER(item.id));
        g_signal_connect(widget, "clicked", G_CALLBACK(onButton), &state);
        break;
    }
    case display::ItemKind::Separator:
        widget = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
        gtk_widget_set_valign(widget, GTK_ALIGN_START);
        gtk_widget_set_size_request(widget, width, -1);
        return widget;
    case display::ItemKind::GoodMark:
        widget = iconImage({"object-select-symbolic", "emblem-ok-symbolic"}, std::min(width, height));
        break;
    case display::ItemKind::BadMark:
        widget = gtk_drawing_area_new();
        g_signal_connect(widget, "draw", G_CALLBACK(drawBadMark), nullptr);
        break;
    case display::ItemKind::WarningIcon:
        widget = iconImage({"dialog-warning", "dialog-warning-symbolic"}, std::min(width, height));
        break;
    }
    gtk_widget_set_size_request(widget, width, height);
    return widget;
}

// Base units of the window's font, as a dialog manager derives them: the
// average width of the 52 Latin letters and the height of a line.
DialogUnits unitsOf(GtkWidget* window) {
    DialogUnits units;
    PangoLayout* layout = gtk_widget_create_pango_layout(window, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    if (width > 0) units.baseX = (width / 26 + 1) / 2;
    if (height > 0) units.baseY = height;
    return units;
}

void applyCss(GtkWidget* window) {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kWindowCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

}  // namespace

int DialogUnits::x(int units) const { return (units * baseX + 2) / 4; }
int DialogUnits::y(int units) const { return (units * baseY + 4) / 8; }

void runInfoWindow(const std::vector<display::SummaryRow>& rows,
                   const std::map<int, std::vector<std::uint8_t>>& objects) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(window, kWindowName);
    applyCss(window);
    const PangoMeasurer measurer(gtk_widget_get_pango_context(window));
    const display::WindowLayout layout = display::layoutWindow(rows, measurer);
    const DialogUnits units = unitsOf(window);

    WindowState state{window, &objects};
    gtk_window_set_title(GTK_WINDOW(window), diag::utf8Encode(layout.title).c_str());
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, units.x(layout.width), units.y(layout.height));
    for (const display::WindowItem& item : layout.items) {
        gtk_fixed_put(GTK_FIXED(fixed), itemWidget(item, units, state), units.x(item.x), units.y(item.y));
    }
    // A GtkFixed asks for its children's natural sizes, and a wrapping
    // label's natural width is its whole unwrapped text: the view around it
    // takes the layout's size instead, whatever the children ask for.
    GtkWidget* view = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(view), GTK_POLICY_EXTERNAL, GTK_POLICY_EXTERNAL);
    gtk_widget_set_size_request(view, units.x(layout.width), units.y(layout.height));
    gtk_container_add(GTK_CONTAINER(view), fixed);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
}

}  // namespace tessal::ui
