#pragma once
// The state of one Sign object.
#include <cstdint>
#include <memory>
#include <string>

#include "data/directory_intake.h"
#include "facade/card_monitor.h"
#include "crypto/key_selection.h"
#include "xades/signature_info.h"
#include "tessal/interfaces.h"
#include "tessal/variant.h"

namespace tessal::facade {

// What signing keeps of the selected key between calls; destroying it
// withdraws the published signer.
struct SignState {
    std::shared_ptr<HostSite> site;

    std::string keyContainerName;  // locale codeset
    std::string objectLogPath;     // per-object log; empty: none
    // The card-removal callback, shared with the card monitors.
    std::shared_ptr<CardCallbackSlot> cardCallback = std::make_shared<CardCallbackSlot>();
    // The watch of the current key selection; its state word says whether
    // the selected key is watched (or in an HSM) and still usable.
    std::shared_ptr<CardWatch> cardWatch = std::make_shared<CardWatch>();

    // Hosting environment.
    bool browserMode = true;
    std::uint16_t pagePort = 80;
    std::u16string pageHost;
    std::u16string pageScheme;
    bool environmentTested = false;
    bool environmentAllowed = false;
    std::uint32_t safetyOptions = 0;

    data::DirectoryIntake intake;

    // The result of the last signing or verification run; none after reset.
    std::unique_ptr<xml::SignatureInfo> signatureInfo;

    // The key selection of the signing subsystem; none until the first signing.
    std::unique_ptr<crypto::KeySelection> keySelection;
    // Set when a card monitor thread was started for the current selection.
    bool cardMonitorRunning = false;

    void redrawFace() {
        if (site) site->requestRepaint();
    }
};

}  // namespace tessal::facade
