// Feeds arbitrary bytes to the skin reader: it must take the document with every reference
// resolved, refuse it with a reason, or stop with the "Bad Subcontrol Element" error; never
// crash or hang.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Resources/SkinParser.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void CheckSkin(const ZT::LSkinDefinitions& definitions, const ZT::LSkinDescriptor& skin)
{
    Check(skin.mLookListName.IsEmpty() || definitions.FindLookList(skin.mLookListName));
    for (ZT::LControlDescriptor* control : skin.mChildren) {
        Check(!control->mName.IsEmpty() && !control->mClassName.IsEmpty() && control->mLayout);
        if (control->mSkin)
            CheckSkin(definitions, *control->mSkin);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Built-in images exist; files do not.
    ZT::CSkinParser parser([](const ZT::WString& image) { return image.GetLength() > 2 && image.Find(L"::") == 0; });
    ZT::ZTRESULT result = ZT::E_FAIL;
    try {
        result = parser.Parse(std::span<const std::uint8_t>(data, size));
    } catch (const std::runtime_error&) {
        Check(!parser.GetDefinitions());
        return 0;
    }
    const ZT::RCPtr<ZT::LSkinDefinitions> definitions = parser.GetDefinitions();
    if (ZT::Failed(result)) {
        Check(!definitions && (result != ZT::E_FAIL || !parser.GetErrorReason().empty()));
        return 0;
    }
    Check(definitions && !definitions->mSkins.IsEmpty());
    for (const auto& [name, look] : definitions->mLooks)
        Check(!look->mClientPart || definitions->FindPart(look->mClientPart->mPartName));
    for (const auto& [name, list] : definitions->mLookLists) {
        for (const ZT::WString& lookName : list->mLookNames)
            Check(lookName.IsEmpty() || definitions->FindLook(lookName));
    }
    for (ZT::LSkinDescriptor* skin : definitions->mSkins)
        CheckSkin(*definitions, *skin);
    return 0;
}
