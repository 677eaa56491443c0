// check-firmware-file: whether a firmware file may be installed for one of the product's devices,
// by the program's own check (CFirmwareFileCheck, as the mode switch and the download ask it)
// and refusing the simulator's sample images, which the program never writes into a real device.
// Run by the install rules on the files of FIRMWARE_DIR before they are copied.
//
//   check-firmware-file --device controller|wheel-display <file>
//
// Exit status 0 when the file is usable; 1 with one line on standard error saying why not; 2 for
// a wrong command line.

#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--device") != 0) {
        std::fprintf(stderr, "usage: check-firmware-file --device controller|wheel-display <file>\n");
        return 2;
    }
    const ProductDevice* device = nullptr;
    if (std::strcmp(argv[2], "controller") == 0)
        device = &ProductDevice::Get(ProductDevice::Kind::Controller);
    else if (std::strcmp(argv[2], "wheel-display") == 0)
        device = &ProductDevice::Get(ProductDevice::Kind::WheelDisplay);
    if (!device) {
        std::fprintf(stderr, "check-firmware-file: unknown device \"%s\"\n", argv[2]);
        return 2;
    }
    const ZT::WString path(argv[3]);
    const CFirmwareFileCheck::Result result = CFirmwareFileCheck::Check(path, device->EraseSectors);
    if (!result.IsUsable()) {
        std::fprintf(stderr, "check-firmware-file: %s: %s (%s)\n", argv[3], ToString(result.verdict),
                     result.reason.c_str());
        return 1;
    }
    if (LDfuSeFirmwareFile::IsSimulationImage(path)) {
        std::fprintf(stderr, "check-firmware-file: %s: an image for simulated devices only\n", argv[3]);
        return 1;
    }
    return 0;
}
