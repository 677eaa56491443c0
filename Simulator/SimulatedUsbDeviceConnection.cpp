#include "Simulator/SimulatedUsbDeviceConnection.h"

LSimulatedUsbDeviceConnection::LSimulatedUsbDeviceConnection(ZT::RCPtr<LSimulatedDevice> device, std::uint64_t appearance)
    : mDevice(std::move(device)), mAppearance(appearance)
{
    if (!mDevice)
        ZT_THROW_NULL_POINTER("device", "LSimulatedUsbDeviceConnection::LSimulatedUsbDeviceConnection");
}

LSimulatedUsbDeviceConnection::~LSimulatedUsbDeviceConnection()
{
    Close();
}

bool LSimulatedUsbDeviceConnection::ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest,
                                                    std::uint16_t wValue, std::uint16_t wIndex, std::uint8_t* data,
                                                    std::uint16_t wLength)
{
    {
        std::lock_guard lock(mMutex);
        if (!mOpen) {
            mLastError = ZT::UsbError::NotOpen;
            return false;
        }
        if (!data && wLength > 0) {
            mLastError = ZT::UsbError::InvalidParam;
            return false;
        }
    }
    ZT::UsbError error = ZT::UsbError::None;
    std::uint16_t transferred = 0;
    const bool succeeded =
        mDevice->ControlTransfer(mAppearance, bmRequestType, bRequest, wValue, wIndex, data, wLength, error, transferred);
    std::lock_guard lock(mMutex);
    mLastError = succeeded ? ZT::UsbError::None : error;
    if (succeeded)
        mLastTransferred = transferred;
    return succeeded;
}

ZT::UsbError LSimulatedUsbDeviceConnection::GetLastError() const
{
    std::lock_guard lock(mMutex);
    return mLastError;
}

std::uint16_t LSimulatedUsbDeviceConnection::GetLastTransferredLength() const
{
    std::lock_guard lock(mMutex);
    return mLastTransferred;
}

bool LSimulatedUsbDeviceConnection::Reset()
{
    {
        std::lock_guard lock(mMutex);
        if (!mOpen) {
            mLastError = ZT::UsbError::NotOpen;
            return false;
        }
    }
    ZT::UsbError error = ZT::UsbError::None;
    const bool succeeded = mDevice->ResetUsb(mAppearance, error);
    {
        std::lock_guard lock(mMutex);
        mLastError = succeeded ? ZT::UsbError::None : error;
        mLastTransferred = 0;
    }
    Close();
    return succeeded;
}

void LSimulatedUsbDeviceConnection::Close()
{
    {
        std::lock_guard lock(mMutex);
        if (!mOpen)
            return;
        mOpen = false;
    }
    mDevice->CloseUsb(mAppearance);
}
