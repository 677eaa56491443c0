#pragma once
// The seam between the updater and the operating system's USB stack.
//
// The engine lists the present devices, matches them by vendor and product ID, opens the one it
// updates by its path and talks DFU class requests to it. Nothing above this seam includes a
// platform header: a libusb backend serves real hardware, the device simulator serves tests and
// demonstrations, and SetUsbBackend chooses which one the process uses.
//
// Backends are shared by the UI thread (scans, mode switch) and the engine's worker (download):
// every member of IUsbBackend may be called from any thread at the same time.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Usb/UsbDeviceConnection.h"
#include "ZTFramework/Usb/UsbDeviceInfo.h"
#include "ZTFramework/Usb/UsbError.h"

#include <string>
#include <vector>

namespace ZT {

class IUsbBackend : public virtual LRefCountedObject {
public:
    // Replaces devices with the devices present now, in the system's enumeration order.
    // Returns S_OK (also when nothing is present) or E_FAIL when the bus cannot be enumerated at
    // all (devices is then empty). Blocks for as long as the system takes to read the device
    // descriptors, well under a second.
    [[nodiscard]] virtual ZTRESULT ListDevices(std::vector<UsbDeviceInfo>& devices) = 0;

    // Opens the device at path (as ListDevices gave it) and claims its interface 0.
    // Returns the connection, or null with error set: NotFound (no such path), NoDevice (gone
    // since it was listed), Access (no permission), Busy (held by another connection).
    // error is None on success. Blocks briefly, well under a second.
    [[nodiscard]] virtual RCPtr<IUsbDeviceConnection> Open(const std::string& path, UsbError& error) = 0;

    // True only for a backend whose devices are simulated. The engine refuses to write an image
    // made for simulated devices through any other backend. Never blocks.
    [[nodiscard]] virtual bool IsSimulated() const { return false; }
};

// The backend of the process. Never null: until a backend is selected it is one that cannot
// enumerate (ListDevices gives E_FAIL, Open gives NotSupported). Any thread.
[[nodiscard]] RCPtr<IUsbBackend> GetUsbBackend();

// Selects the backend of the process; null goes back to the one that cannot enumerate. Callers
// that already hold the previous backend keep using it until they let it go. Any thread.
void SetUsbBackend(RCPtr<IUsbBackend> backend);

} // namespace ZT
