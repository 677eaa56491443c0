#include "ZTFramework/Usb/Dfu.h"

namespace ZT {

const char* ToString(DfuState state) noexcept
{
    switch (state) {
    case DfuState::AppIdle:
        return "appIDLE";
    case DfuState::AppDetach:
        return "appDETACH";
    case DfuState::DfuIdle:
        return "dfuIDLE";
    case DfuState::DfuDnloadSync:
        return "dfuDNLOAD-SYNC";
    case DfuState::DfuDnbusy:
        return "dfuDNBUSY";
    case DfuState::DfuDnloadIdle:
        return "dfuDNLOAD-IDLE";
    case DfuState::DfuManifestSync:
        return "dfuMANIFEST-SYNC";
    case DfuState::DfuManifest:
        return "dfuMANIFEST";
    case DfuState::DfuManifestWaitReset:
        return "dfuMANIFEST-WAIT-RESET";
    case DfuState::DfuUploadIdle:
        return "dfuUPLOAD-IDLE";
    case DfuState::DfuError:
        return "dfuERROR";
    }
    return "unknown DFU state";
}

const char* ToString(DfuStatus status) noexcept
{
    switch (status) {
    case DfuStatus::Ok:
        return "OK";
    case DfuStatus::ErrTarget:
        return "errTARGET";
    case DfuStatus::ErrFile:
        return "errFILE";
    case DfuStatus::ErrWrite:
        return "errWRITE";
    case DfuStatus::ErrErase:
        return "errERASE";
    case DfuStatus::ErrCheckErased:
        return "errCHECK_ERASED";
    case DfuStatus::ErrProg:
        return "errPROG";
    case DfuStatus::ErrVerify:
        return "errVERIFY";
    case DfuStatus::ErrAddress:
        return "errADDRESS";
    case DfuStatus::ErrNotDone:
        return "errNOTDONE";
    case DfuStatus::ErrFirmware:
        return "errFIRMWARE";
    case DfuStatus::ErrVendor:
        return "errVENDOR";
    case DfuStatus::ErrUsbr:
        return "errUSBR";
    case DfuStatus::ErrPor:
        return "errPOR";
    case DfuStatus::ErrUnknown:
        return "errUNKNOWN";
    case DfuStatus::ErrStalledPkt:
        return "errSTALLEDPKT";
    }
    return "unknown DFU status";
}

const char* ToString(DfuRequest request) noexcept
{
    switch (request) {
    case DfuRequest::Detach:
        return "DETACH";
    case DfuRequest::Dnload:
        return "DNLOAD";
    case DfuRequest::Upload:
        return "UPLOAD";
    case DfuRequest::GetStatus:
        return "GETSTATUS";
    case DfuRequest::ClrStatus:
        return "CLRSTATUS";
    case DfuRequest::GetState:
        return "GETSTATE";
    case DfuRequest::Abort:
        return "ABORT";
    }
    return "unknown DFU request";
}

} // namespace ZT
