#pragma once
// One string table handed to a caller: the texts of one table ID (a control's or the
// application's) for the locale that was loaded, by string ID.
//
// A table is a copy: later changes to the loaded tables do not reach it, and changes to it stay
// with its holder.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>
#include <map>

namespace ZT {

class LStringTable : public virtual LRefCountedObject {
public:
    using StringMap = std::map<WString, WString>;

    LStringTable() = default;
    explicit LStringTable(StringMap strings) : mStrings(std::move(strings)) {}

    // true when the table holds the ID, with its text in text; text is left unchanged otherwise.
    [[nodiscard]] bool GetString(const WString& id, WString& text) const;
    [[nodiscard]] bool HasString(const WString& id) const { return mStrings.contains(id); }
    void SetString(const WString& id, const WString& text) { mStrings[id] = text; }
    [[nodiscard]] std::size_t GetCount() const noexcept { return mStrings.size(); }
    [[nodiscard]] const StringMap& GetStrings() const noexcept { return mStrings; }

    LRefCountedObject* CreateCopy() const override { return new LStringTable(*this); }

private:
    StringMap mStrings;
};

} // namespace ZT
