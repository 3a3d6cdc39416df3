#include <cstdio>

#include "bootloader/engine.h"
#include "report/board_names.h"
#include "shell/display.h"

namespace pelmark {

void ShowIdentity() {
    Display* d = CurrentDisplay();
    if (d == nullptr) return;
    ProtocolState& proto = g_protocol;
    const DeviceIdentity& id = proto.identity;
    char text[80];
    switch (d->Showing()) {
        case FrontEnd::Loader:
            if (!proto.identityRecordSeen) return;
            std::snprintf(text, sizeof text, "%s - 0x%02x", BoardName(g_pass.image.boardCode), id.preparation);
            d->SetIdentityField(IdentityField::Hardware, text);
            std::snprintf(text, sizeof text, "0x%02x", id.bios);
            d->SetIdentityField(IdentityField::Bootloader, text);
            return;
        case FrontEnd::Upgrade:
            return;
        case FrontEnd::Main:
            break;
    }
    if (proto.identityRecordSeen)
        std::snprintf(text, sizeof text, "BIOS:%02x - %s - Preparation%02x", id.bios, BoardName(id.board),
                      id.preparation);
    else
        std::snprintf(text, sizeof text, "BIOS:%02x - %s - Preparation%02x", id.bios,
                      BoardName(g_pass.image.boardCode), g_pass.image.preparationCode);
    d->SetIdentityField(IdentityField::IdentityLine, text);
    if (id.bios >= 8 && id.bios <= 31) {
        // A record text that starts with an erased byte is no text.
        if (static_cast<unsigned char>(proto.record.text[0]) == 0xFF) proto.record.text[0] = '\0';
        d->SetIdentityField(IdentityField::DeviceText, proto.record.text);
    } else {
        d->HideIdentityField(IdentityField::DeviceText);
    }
}

}  // namespace pelmark
