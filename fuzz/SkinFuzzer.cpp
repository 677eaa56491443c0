// Feeds arbitrary bytes to the skin reader: it must take the document with every reference
// resolved, refuse it with a reason, or stop with the "Bad Subcontrol Element" error; never
// crash or hang.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Resources/SkinParser.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void CheckSkin(const ZT::LSkinDefinitions& definitions, const ZT::LSkinDescriptor& skin)
{
    if (!skin.mLookListName.IsEmpty() && !definitions.FindLookList(skin.mLookListName))
        __builtin_trap();
    for (ZT::LControlDescriptor* control : skin.mChildren) {
        if (control->mName.IsEmpty() || control->mClassName.IsEmpty() || !control->mLayout)
            __builtin_trap();
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
        if (parser.GetDefinitions())
            __builtin_trap();
        return 0;
    }
    const ZT::RCPtr<ZT::LSkinDefinitions> definitions = parser.GetDefinitions();
    if (ZT::Failed(result)) {
        if (definitions || (result == ZT::E_FAIL && parser.GetErrorReason().empty()))
            __builtin_trap();
        return 0;
    }
    if (!definitions || definitions->mSkins.IsEmpty())
        __builtin_trap();
    for (const auto& [name, look] : definitions->mLooks) {
        if (look->mClientPart && !definitions->FindPart(look->mClientPart->mPartName))
            __builtin_trap();
    }
    for (const auto& [name, list] : definitions->mLookLists) {
        for (const ZT::WString& lookName : list->mLookNames) {
            if (!lookName.IsEmpty() && !definitions->FindLook(lookName))
                __builtin_trap();
        }
    }
    for (ZT::LSkinDescriptor* skin : definitions->mSkins)
        CheckSkin(*definitions, *skin);
    return 0;
}
