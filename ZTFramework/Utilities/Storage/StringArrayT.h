#pragma once
// An array of framework strings: StringArrayT<wchar_t,char> holds wide strings.
//
// The strings' characters live in their own counted buffers, so a character pointer taken from
// an element stays valid when the array grows and moves its elements (the notification ID
// table relies on this).
//
// Not guarded: one array is used by one thread at a time.

#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>

namespace ZT {

template <class C, class O>
class StringArrayT : public Array<StringT<C, O>> {
public:
    using Array<StringT<C, O>>::Array;
    using Array<StringT<C, O>>::Find;

    // Index of the first string equal to text (case-sensitive), or -1.
    [[nodiscard]] std::ptrdiff_t Find(const C* text) const
    {
        const std::size_t count = this->GetCount();
        for (std::size_t i = 0; i < count; ++i)
            if ((*this)[i] == text)
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    // Index of the first string equal to text when case is ignored, or -1.
    [[nodiscard]] std::ptrdiff_t FindNoCase(const StringT<C, O>& text) const
    {
        const std::size_t count = this->GetCount();
        for (std::size_t i = 0; i < count; ++i)
            if ((*this)[i].CompareNoCase(text) == 0)
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
};

using WStringArray = StringArrayT<wchar_t, char>;
using NStringArray = StringArrayT<char, wchar_t>;

} // namespace ZT
