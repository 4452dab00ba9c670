// The time text of the certificate web service.
#include "diagnostics/ansi_text.h"
#include "facade/member_guard.h"
#include "pki/pki_client.h"
#include "tessal/sign.h"

namespace tessal {

HResult Sign::syncTime(std::u16string_view url, std::u16string& time) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        // Only the path and query of the address matter: the client sends
        // them to the PKI domains in turn.
        pki::PkiClient client;
        if (!client.fetch(diag::toAnsi(url), std::nullopt)) return facade::reportFailure(s, client.error().text.utf16());
        const auto& body = client.body();
        time = diag::fromAnsiWhole(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        return hr::S_OK;
    });
}

}  // namespace tessal
