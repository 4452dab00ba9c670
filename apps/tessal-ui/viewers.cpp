#include "viewers.h"

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr.h>
#include <openssl/x509.h>

#include <climits>
#include <cstddef>
#include <string>

#include "crl_fields.h"

namespace tessal::ui {
namespace {

constexpr char kCertificateTitle[] = "Sertifikato duomenys";
constexpr char kCrlTitle[] = "Atšauktų sertifikatų sąrašas (CRL)";
constexpr char kCloseLabel[] = "Uždaryti";

// The length of the certificate encoded at the start of `der`, 0 when the
// bytes do not start with one. The viewer is handed exactly those bytes.
std::size_t certificateLength(const std::vector<std::uint8_t>& der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return 0;
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    if (certificate == nullptr) return 0;
    X509_free(certificate);
    return static_cast<std::size_t>(cursor - der.data());
}

// A modal dialog owned by `owner` with one close button; Escape and the
// window's close box end it like the button does.
GtkWidget* newViewerDialog(GtkWindow* owner, const char* title, int width, int height) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        title, owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), kCloseLabel,
        GTK_RESPONSE_CLOSE, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CLOSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), width, height);
    gtk_window_set_position(GTK_WINDOW(dialog), owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    return dialog;
}

// Shows the dialog and waits until it is closed. Our own reference keeps
// the object alive when an owner that goes away takes the dialog with it.
void runAndDestroy(GtkWidget* dialog) {
    g_object_ref(dialog);
    gtk_widget_show_all(dialog);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
}

GtkWidget* scrolled(GtkWidget* child) {
    GtkWidget* window = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(window), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(window), GTK_SHADOW_IN);
    gtk_widget_set_hexpand(window, TRUE);
    gtk_widget_set_vexpand(window, TRUE);
    gtk_container_add(GTK_CONTAINER(window), child);
    return window;
}

// One "label: value" line of the CRL header; values can be selected and
// copied, long ones wrap.
void addField(GtkGrid* grid, int row, const char* label, const std::string& value) {
    GtkWidget* name = gtk_label_new(label);
    gtk_label_set_xalign(GTK_LABEL(name), 0.0F);
    gtk_label_set_yalign(GTK_LABEL(name), 0.0F);
    GtkWidget* text = gtk_label_new(value.c_str());
    gtk_label_set_xalign(GTK_LABEL(text), 0.0F);
    gtk_label_set_line_wrap(GTK_LABEL(text), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(text), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_selectable(GTK_LABEL(text), TRUE);
    // Without a minimum width a wrapping label asks for one word per line
    // and the window's minimum height grows past the screen.
    gtk_label_set_width_chars(GTK_LABEL(text), 48);
    gtk_widget_set_hexpand(text, TRUE);
    gtk_grid_attach(grid, name, 0, row, 1, 1);
    gtk_grid_attach(grid, text, 1, row, 1, 1);
}

std::string utcText(const std::string& time) { return time.empty() ? std::string() : time + " UTC"; }

enum RevokedColumn { kSerialColumn, kDateColumn, kColumnCount };

GtkWidget* revokedList(const CrlFields& fields) {
    GtkListStore* store = gtk_list_store_new(kColumnCount, G_TYPE_STRING, G_TYPE_STRING);
    for (const RevokedSerial& entry : fields.revoked) {
        const std::string date = utcText(entry.revocationDate);
        gtk_list_store_insert_with_values(store, nullptr, -1, kSerialColumn, entry.serialHex.c_str(), kDateColumn,
                                          date.c_str(), -1);
    }
    if (fields.revokedTotal > fields.revoked.size()) {
        const std::string omitted =
            "Nerodoma įrašų: " + std::to_string(fields.revokedTotal - fields.revoked.size());
        gtk_list_store_insert_with_values(store, nullptr, -1, kSerialColumn, "…", kDateColumn, omitted.c_str(), -1);
    }
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);  // the view holds its own reference
    const char* titles[kColumnCount] = {"Serijos numeris", "Atšaukimo data"};
    for (int column = 0; column < kColumnCount; ++column) {
        GtkTreeViewColumn* shown = gtk_tree_view_column_new_with_attributes(
            titles[column], gtk_cell_renderer_text_new(), "text", column, nullptr);
        gtk_tree_view_column_set_resizable(shown, TRUE);
        // Fixed sizing lets a list of many thousand rows open without
        // measuring every row first.
        gtk_tree_view_column_set_sizing(shown, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(shown, column == kSerialColumn ? 340 : 220);
        gtk_tree_view_append_column(GTK_TREE_VIEW(view), shown);
    }
    gtk_tree_view_set_fixed_height_mode(GTK_TREE_VIEW(view), TRUE);
    return scrolled(view);
}

}  // namespace

void showCertificate(GtkWindow* owner, const std::vector<std::uint8_t>& der) {
    const std::size_t length = certificateLength(der);
    if (length == 0) return;
    GcrCertificate* certificate = gcr_simple_certificate_new(der.data(), length);  // copies the bytes
    GtkWidget* details = GTK_WIDGET(gcr_certificate_widget_new(certificate));
    g_object_unref(certificate);  // the widget holds its own reference

    GtkWidget* dialog = newViewerDialog(owner, kCertificateTitle, 600, 560);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(content), 6);
    gtk_box_pack_start(GTK_BOX(content), scrolled(details), TRUE, TRUE, 0);
    runAndDestroy(dialog);
}

void showCrl(GtkWindow* owner, const std::vector<std::uint8_t>& der) {
    const std::optional<CrlFields> fields = readCrlFields(der);
    if (!fields) return;

    GtkWidget* dialog = newViewerDialog(owner, kCrlTitle, 620, 480);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(content), 6);
    gtk_box_set_spacing(GTK_BOX(content), 8);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    addField(GTK_GRID(grid), 0, "Leidėjas:", fields->issuer);
    addField(GTK_GRID(grid), 1, "Išleistas:", utcText(fields->thisUpdate));
    addField(GTK_GRID(grid), 2, "Kitas atnaujinimas:", utcText(fields->nextUpdate));
    addField(GTK_GRID(grid), 3, "Parašo algoritmas:", fields->algorithm);
    gtk_box_pack_start(GTK_BOX(content), grid, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), revokedList(*fields), TRUE, TRUE, 0);
    runAndDestroy(dialog);
}

}  // namespace tessal::ui
