#pragma once
// The certificate and CRL viewers the information window opens from its
// buttons: each a modal window of its own, owned by the information window.
#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

namespace tessal::ui {

// Shows a DER certificate in a window titled "Sertifikato duomenys"; returns
// when the user closes it. Bytes that are no certificate show nothing.
void showCertificate(GtkWindow* owner, const std::vector<std::uint8_t>& der);

// Shows a DER CRL in a window titled "Atšauktų sertifikatų sąrašas (CRL)":
// issuer, this and next update, signature algorithm and the revoked serial
// numbers with their dates; returns when the user closes it. Bytes that are
// no CRL show nothing.
void showCrl(GtkWindow* owner, const std::vector<std::uint8_t>& der);

}  // namespace tessal::ui
