#include "ZTFramework/Usb/UsbBackend.h"

#include <mutex>

namespace ZT {

namespace {

// What the process has before a real or simulated backend is selected: no USB access at all.
class LUnavailableUsbBackend final : public IUsbBackend {
public:
    ZTRESULT ListDevices(std::vector<UsbDeviceInfo>& devices) override
    {
        devices.clear();
        return E_FAIL;
    }
    RCPtr<IUsbDeviceConnection> Open(const std::string&, UsbError& error) override
    {
        error = UsbError::NotSupported;
        return nullptr;
    }
};

std::mutex gBackendMutex;
RCPtr<IUsbBackend> gBackend; // guarded by gBackendMutex; null means the unavailable backend

} // namespace

RCPtr<IUsbBackend> GetUsbBackend()
{
    {
        std::lock_guard lock(gBackendMutex);
        if (gBackend)
            return gBackend;
    }
    static const RCPtr<IUsbBackend> unavailable = MakeRC<LUnavailableUsbBackend>();
    return unavailable;
}

void SetUsbBackend(RCPtr<IUsbBackend> backend)
{
    RCPtr<IUsbBackend> previous;
    {
        std::lock_guard lock(gBackendMutex);
        previous = std::move(gBackend);
        gBackend = std::move(backend);
    }
    // previous is released here, outside the lock: its destructor may take locks of its own.
}

} // namespace ZT
