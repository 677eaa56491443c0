#include "ZTFramework/ControlBase/ControlFactory.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/SkinDescriptor.h"
#include "ZTFramework/Resources/StringTable.h"

namespace ZT {

LControlFactory::LControlFactory() : mResources(MakeRC<LResourceSet>()) {}

LControlFactory::~LControlFactory() = default;

ZTRESULT LControlFactory::Load(const WString& location, std::uint32_t lcid)
{
    return mResources->Load(location, lcid);
}

ZTRESULT LControlFactory::RegisterControlClass(const WString& className, CreateFunction create)
{
    if (className.IsEmpty() || !create)
        return E_INVALIDARG;
    return mClasses.emplace(className, create).second ? S_OK : E_FAIL;
}

LControlFactory::CreateFunction LControlFactory::GetControlCreateFunction(const WString& className) const
{
    const auto found = mClasses.find(className);
    if (found == mClasses.end())
        ZT_THROW(Runtime, "", "ZT::LControlFactory::GetControlCreateFunction");
    return found->second;
}

RCPtr<LStringTable> LControlFactory::GetStringTable(const LControl* owner, const WString& controlName) const
{
    return mResources->GetStringTable(owner ? owner->GetClassName() : WString(), controlName);
}

RCPtr<LStringTable> LControlFactory::GetFrameworkStringTable() const
{
    return mResources->GetFrameworkStringTable();
}

RCPtr<LControl> LControlFactory::CreateControl(const WString& descriptorName)
{
    const RCPtr<LSkinDefinitions> skin = mResources->GetSkin();
    const RCPtr<LControlDescriptor> descriptor = skin ? skin->FindControlDescriptor(descriptorName) : nullptr;
    if (!descriptor)
        ZT_THROW_NULL_POINTER("Invalid Control Name", "ZT::LControlFactory::CreateControl");
    return CreateControl(*descriptor, nullptr);
}

RCPtr<LControl> LControlFactory::CreateControl(const LControlDescriptor& descriptor, LControl* parent)
{
    const CreateFunction create = GetControlCreateFunction(descriptor.mClassName);
    RCPtr<LControl> control = create();
    if (!control)
        ZT_THROW_NULL_POINTER("control creation failed", "ZT::LControlFactory::CreateControl");
    control->SetControlFactory(this);
    control->ApplyDescriptor(descriptor, parent);
    if (const RCPtr<LStringTable> table = GetStringTable(parent, descriptor.mName)) {
        WString caption;
        if (table->GetString(WString(L"LABEL"), caption))
            control->SetText(caption);
    }
    if (parent)
        ZT_THROW_IF_FAILED(parent->AddChild(control), "ZT::LControlFactory::CreateControl");
    if (descriptor.mSkin) {
        for (LControlDescriptor* child : descriptor.mSkin->mChildren)
            (void)CreateControl(*child, control.Get()); // the parent holds the child
    }
    ZT_THROW_IF_FAILED(control->Initialize(), "ZT::LControlFactory::CreateControl");
    return control;
}

} // namespace ZT
