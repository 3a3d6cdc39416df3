// The identity line: the connected device's bootloader version, board and
// preparation, in the front end showing.
#include <cstdio>

#include "bootloader/engine.h"
#include "report/board_names.h"
#include "shell/display.h"
#include "shell/texts.h"

namespace pelmark {

void ShowIdentity() {
    Display* d = CurrentDisplay();
    if (d == nullptr) return;
    ProtocolState& proto = g_protocol;
    const DeviceIdentity& id = proto.identity;
    char line[80];
    switch (d->Showing()) {
        case FrontEnd::Loader:
            if (!proto.identityRecordSeen) return;
            std::snprintf(line, sizeof line, text::kHardwarePattern, BoardName(g_pass.image.boardCode),
                          id.preparation);
            d->SetIdentityField(IdentityField::Hardware, line);
            std::snprintf(line, sizeof line, text::kBootloaderPattern, id.bios);
            d->SetIdentityField(IdentityField::Bootloader, line);
            return;
        case FrontEnd::Upgrade:
            return;
        case FrontEnd::Main:
            break;
    }
    if (proto.identityRecordSeen)
        std::snprintf(line, sizeof line, text::kIdentityPattern, id.bios, BoardName(id.board),
                      id.preparation);
    else
        std::snprintf(line, sizeof line, text::kIdentityPattern, id.bios,
                      BoardName(g_pass.image.boardCode), g_pass.image.preparationCode);
    d->SetIdentityField(IdentityField::IdentityLine, line);
    if (HasDeviceRecord(id.bios)) {
        // A record text that starts with an erased byte is no text.
        if (static_cast<unsigned char>(proto.record.text[0]) == 0xFF) proto.record.text[0] = '\0';
        d->SetIdentityField(IdentityField::DeviceText, proto.record.text);
    } else {
        d->HideIdentityField(IdentityField::DeviceText);
    }
}

}  // namespace pelmark
