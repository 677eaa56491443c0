// The DFU vocabulary against the numbers and names of USB DFU 1.1 (and the DfuSe command bytes):
// a device's raw byte must come out under the name the standard gives it, since log lines and
// test failures show nothing else.

#include "ZTFramework/Usb/Dfu.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(DfuVocabulary, EveryWireNumberHasItsDfuNameAndOthersReadAsUnknown)
{
    struct Row {
        const char* kind;
        std::uint8_t number;
        const char* expected;
    };
    const Row rows[] = {
        {"request", 0, "DETACH"},
        {"request", 1, "DNLOAD"},
        {"request", 2, "UPLOAD"},
        {"request", 3, "GETSTATUS"},
        {"request", 4, "CLRSTATUS"},
        {"request", 5, "GETSTATE"},
        {"request", 6, "ABORT"},
        {"request", 7, "unknown DFU request"},
        {"request", 0xFF, "unknown DFU request"},
        {"state", 0, "appIDLE"},
        {"state", 1, "appDETACH"},
        {"state", 2, "dfuIDLE"},
        {"state", 3, "dfuDNLOAD-SYNC"},
        {"state", 4, "dfuDNBUSY"},
        {"state", 5, "dfuDNLOAD-IDLE"},
        {"state", 6, "dfuMANIFEST-SYNC"},
        {"state", 7, "dfuMANIFEST"},
        {"state", 8, "dfuMANIFEST-WAIT-RESET"},
        {"state", 9, "dfuUPLOAD-IDLE"},
        {"state", 10, "dfuERROR"},
        {"state", 11, "unknown DFU state"},
        {"state", 0xFF, "unknown DFU state"}, // what a short GETSTATUS reply leaves in bState
        {"status", 0x00, "OK"},
        {"status", 0x01, "errTARGET"},
        {"status", 0x02, "errFILE"},
        {"status", 0x03, "errWRITE"},
        {"status", 0x04, "errERASE"},
        {"status", 0x05, "errCHECK_ERASED"},
        {"status", 0x06, "errPROG"},
        {"status", 0x07, "errVERIFY"},
        {"status", 0x08, "errADDRESS"},
        {"status", 0x09, "errNOTDONE"},
        {"status", 0x0A, "errFIRMWARE"},
        {"status", 0x0B, "errVENDOR"},
        {"status", 0x0C, "errUSBR"},
        {"status", 0x0D, "errPOR"},
        {"status", 0x0E, "errUNKNOWN"},
        {"status", 0x0F, "errSTALLEDPKT"},
        {"status", 0x10, "unknown DFU status"},
        {"status", 0xFF, "unknown DFU status"},
    };
    for (const Row& row : rows) {
        const std::string kind = row.kind;
        const char* name = kind == "request" ? ZT::ToString(static_cast<ZT::DfuRequest>(row.number))
                           : kind == "state" ? ZT::ToString(static_cast<ZT::DfuState>(row.number))
                                             : ZT::ToString(static_cast<ZT::DfuStatus>(row.number));
        EXPECT_STREQ(name, row.expected) << "DFU " << row.kind << " " << static_cast<unsigned>(row.number);
    }

    // The bytes that travel in a request's setup packet and in a DfuSe command.
    EXPECT_EQ(ZT::kDfuRequestTypeOut, 0x21) << "bmRequestType host to device, class, interface";
    EXPECT_EQ(ZT::kDfuRequestTypeIn, 0xA1) << "bmRequestType device to host, class, interface";
    EXPECT_EQ(ZT::kDfuSeCommandGetCommands, 0x00);
    EXPECT_EQ(ZT::kDfuSeCommandSetAddress, 0x21);
    EXPECT_EQ(ZT::kDfuSeCommandErase, 0x41);
    EXPECT_EQ(ZT::kDfuSeCommandReadUnprotect, 0x92);
}

} // namespace
