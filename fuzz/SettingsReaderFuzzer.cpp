// Feeds arbitrary bytes to the settings-file reader. Whatever it accepts must be written back as
// a file it reads again without complaint, and a second round trip must not change the bytes
// (the first may: a carriage return read from "&#13;" comes back as a line feed).

#include "ZTFramework/Settings/PropertyListReader.h"
#include "ZTFramework/Settings/PropertyListWriter.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ZT::CPropertyListReader::Result read = ZT::CPropertyListReader::Read(bytes);
    if (read.mFailed) {
        Check(!read.mRoot && !read.mError.mReason.empty());
        return 0;
    }
    Check(read.mRoot && read.mSkipped.size() <= read.mSkippedCount);

    const std::string first = ZT::CPropertyListWriter::Write(*read.mRoot);
    const ZT::CPropertyListReader::Result again = ZT::CPropertyListReader::Read(first);
    Check(!again.mFailed && again.mSkippedCount == 0);
    const std::string second = ZT::CPropertyListWriter::Write(*again.mRoot);
    const ZT::CPropertyListReader::Result third = ZT::CPropertyListReader::Read(second);
    Check(!third.mFailed && ZT::CPropertyListWriter::Write(*third.mRoot) == second);
    return 0;
}
