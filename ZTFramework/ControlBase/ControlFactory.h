#pragma once
// Makes controls by class name from the skin, and holds what the application loaded: its string
// tables and its skin (see LResourceSet).
//
// Control classes are registered by name ("Framework.Button", "FirmwareUpdater.MainControl")
// with a function that makes a bare control of the class. CreateControl makes the control a
// skin descriptor names, gives it the descriptor's name, place and look list, sets its caption
// from its string table (the parent's class, or the application name for a top control, "|",
// its name; string "LABEL"), adds it to its parent, creates its children the same way and then
// initialises it, so a control's Initialize finds its children in place.
//
// One factory exists per application; it is filled during start-up and read afterwards, on the
// user-interface thread. Not guarded.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/ResourceSet.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <map>

namespace ZT {

class LControl;
class LControlDescriptor;
class LStringTable;

class LControlFactory : public virtual LRefCountedObject {
public:
    // Makes a bare control of one class; null when it cannot.
    using CreateFunction = RCPtr<LControl> (*)();

    LControlFactory();
    ~LControlFactory() override;

    // Loads the string tables for lcid and the skin from location ("::" or a folder); see
    // LResourceSet::Load for the results and fallbacks.
    [[nodiscard]] ZTRESULT Load(const WString& location, std::uint32_t lcid);
    [[nodiscard]] const RCPtr<LResourceSet>& GetResources() const noexcept { return mResources; }

    // E_INVALIDARG for an empty name or a null function; E_FAIL when the name is taken.
    [[nodiscard]] ZTRESULT RegisterControlClass(const WString& className, CreateFunction create);
    [[nodiscard]] bool IsControlClassRegistered(const WString& className) const { return mClasses.contains(className); }
    // The function registered for the class. An unknown name throws a runtime error (which does
    // not name the class: it is reported where the skin is read).
    [[nodiscard]] CreateFunction GetControlCreateFunction(const WString& className) const;

    // The table of the control named controlName under owner: owner's class (the application
    // name without owner), "|", controlName. A copy, or null when the tables have none.
    [[nodiscard]] RCPtr<LStringTable> GetStringTable(const LControl* owner, const WString& controlName) const;
    [[nodiscard]] RCPtr<LStringTable> GetFrameworkStringTable() const;

    // Creates the top control the skin names descriptorName, with its tree. Throws a runtime
    // error when the skin has no such control, the error of GetControlCreateFunction for an
    // unknown class, and a failed-result error when a control's Initialize fails.
    [[nodiscard]] RCPtr<LControl> CreateControl(const WString& descriptorName);
    // Creates the control of descriptor under parent (null for a top control), with its tree.
    [[nodiscard]] RCPtr<LControl> CreateControl(const LControlDescriptor& descriptor, LControl* parent);

private:
    RCPtr<LResourceSet> mResources;
    std::map<WString, CreateFunction> mClasses;
};

} // namespace ZT
