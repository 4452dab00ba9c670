#include "save_dialog.h"

#include <gtk/gtk.h>

#include "diagnostics/ansi_text.h"
#include "diagnostics/utf8_text.h"

namespace tessal::ui {

std::optional<std::u16string> runSaveDialog(const display::WindowRequest& request) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(diag::utf8Encode(request.title).c_str(), nullptr,
                                                    GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
                                                    "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    // The only filter, and the selected one.
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, diag::utf8Encode(request.filterName).c_str());
    gtk_file_filter_add_pattern(filter, diag::utf8Encode(request.filterPattern).c_str());
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(dialog), filter);

    std::optional<std::u16string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            chosen = diag::fromAnsiName(name);
            g_free(name);
        }
    }
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    return chosen;
}

}  // namespace tessal::ui
