#include "ZTFramework/ControlBase/ControlFactory.h"
#include "tests/ZTFramework/Errors/MessageOf.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Resources/StringTable.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using ZT::LControl;
using ZT::LControlFactory;
using ZT::RCPtr;
using ZT::WString;

// The order in which controls were initialised, by name.
std::vector<std::string> gInitialized;

class InitTracingControl : public LControl {
public:
    static RCPtr<LControl> Create() { return ZT::MakeRC<InitTracingControl>(); }
    ZT::ZTRESULT Initialize() override
    {
        const ZT::ZTRESULT result = LControl::Initialize();
        if (ZT::Failed(result))
            return result;
        // Its children already exist when a control is initialised.
        gInitialized.push_back(GetName().ToUTF8() + "(" + std::to_string(GetChildren().GetCount()) + ")");
        return GetName() == WString(L"refuses") ? ZT::E_FAIL : ZT::S_OK;
    }
};

RCPtr<LControl> CreateNothing() { return nullptr; }

const char* const kSkin = R"(<Corvane_Skin_Definitions><Application Name="Wavecrest"><Skins><Skin Name="Skin1">
  <SubControl Name="top" Class="Test.Control" XSizeAbs="400" YSizeAbs="300">
    <Skin>
      <SubControl Name="left" Class="Test.Control" XPositionAbs="10" YPositionRel="0.5" XSizeRel="0.25" YSizeAbs="20"/>
      <SubControl Name="box" Class="Test.Control" IsVisible="False">
        <Skin><SubControl Name="inner" Class="Test.Control"/></Skin>
      </SubControl>
    </Skin>
  </SubControl>
  <SubControl Name="refuses" Class="Test.Control"/>
  <SubControl Name="unknownClass" Class="Test.Unknown"/>
  <SubControl Name="nullMaker" Class="Test.Null"/>
</Skin></Skins></Application></Corvane_Skin_Definitions>
)";

const char* const kStrings = R"(<?xml version="1.0" encoding="UTF-8"?><T><Application Name="Wavecrest">
  <StringTable ID="Wavecrest|top"><String ID="LABEL"><Locale LCID="0x0009">Top text</Locale></String></StringTable>
  <StringTable ID="Test.Control|left"><String ID="LABEL"><Locale LCID="0x0009">Left text</Locale></String></StringTable>
  <StringTable ID="Wavecrest|left"><String ID="LABEL"><Locale LCID="0x0009">wrong owner</Locale></String></StringTable>
</Application></T>
)";

class ControlFactoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)mFolder.Write("Skins.xml", std::string(kSkin));
        (void)mFolder.Write("StringTables.xml", std::string(kStrings));
        mFactory = ZT::MakeRC<LControlFactory>();
        // The framework document is missing on purpose; only the skin decides the result.
        ASSERT_RESULT_EQ(mFactory->Load(WString(mFolder.Path().c_str()), 0x0409), ZT::S_OK);
        ASSERT_RESULT_EQ(mFactory->RegisterControlClass(WString(L"Test.Control"), &InitTracingControl::Create),
                         ZT::S_OK);
        ASSERT_RESULT_EQ(mFactory->RegisterControlClass(WString(L"Test.Null"), &CreateNothing), ZT::S_OK);
        gInitialized.clear();
    }

    ZT::Testing::TempFolder mFolder{"zt-factory"};
    ZT::Testing::CDebugCapture mCapture; // keeps the load's lines off the system log
    RCPtr<LControlFactory> mFactory;
};

TEST_F(ControlFactoryTest, RegistrationRefusesEmptyNamesMissingFunctionsAndTakenNames)
{
    EXPECT_RESULT_EQ(mFactory->RegisterControlClass(WString(L"Test.Control"), &InitTracingControl::Create), ZT::E_FAIL);
    EXPECT_RESULT_EQ(mFactory->RegisterControlClass(WString(), &InitTracingControl::Create), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(mFactory->RegisterControlClass(WString(L"Test.Other"), nullptr), ZT::E_INVALIDARG);
    EXPECT_TRUE(mFactory->IsControlClassRegistered(WString(L"Test.Control")));
    EXPECT_EQ(mFactory->GetControlCreateFunction(WString(L"Test.Control")), &InitTracingControl::Create);
}

TEST_F(ControlFactoryTest, AnUnknownClassThrowsTheRuntimeErrorWithoutItsName)
{
    const std::regex message("Runtime Error : ZT::LControlFactory::GetControlCreateFunction : "
                             "ZTFramework/ControlBase/ControlFactory : Line [0-9]+");
    for (const std::function<void()>& attempt : std::vector<std::function<void()>>{
             [&] { (void)mFactory->GetControlCreateFunction(WString(L"Framework.Nothing")); },
             [&] { (void)mFactory->CreateControl(WString(L"unknownClass")); }}) {
        const std::string what = ZT::Testing::MessageOf<std::runtime_error>(attempt);
        EXPECT_TRUE(std::regex_match(what, message)) << what;
    }
}

TEST_F(ControlFactoryTest, BuildsTheTreeWithNamesCaptionsPlacesAndChildrenFirst)
{
    const RCPtr<LControl> top = mFactory->CreateControl(WString(L"top"));
    ASSERT_TRUE(top);
    EXPECT_EQ(gInitialized, (std::vector<std::string>{"left(0)", "inner(0)", "box(1)", "top(2)"}));
    EXPECT_EQ(top->GetClassName(), WString(L"Test.Control"));
    // Captions come from the table of the parent's class and the name; the top control's from
    // the application's name.
    EXPECT_EQ(top->GetText(), WString(L"Top text"));
    const RCPtr<LControl> left = top->FindChildByName(WString(L"left"));
    ASSERT_TRUE(left);
    EXPECT_EQ(left->GetText(), WString(L"Left text"));
    EXPECT_EQ(left->GetBounds(), (ZT::Rect{10, 150, 110, 170}));
    EXPECT_EQ(left->GetControlFactory().Get(), mFactory.Get());
    const RCPtr<LControl> box = top->FindChildByName(WString(L"box"));
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->GetVisibleFlag());
    EXPECT_TRUE(box->GetText().IsEmpty());
    EXPECT_EQ(box->GetChildren().GetAt(0)->GetParent(), box.Get());

    // Tables by owner: a control's parent names its table.
    WString text;
    ASSERT_TRUE(mFactory->GetStringTable(top.Get(), WString(L"left")));
    EXPECT_TRUE(mFactory->GetStringTable(nullptr, WString(L"left"))->GetString(WString(L"LABEL"), text));
    EXPECT_EQ(text, WString(L"wrong owner"));
    EXPECT_FALSE(mFactory->GetFrameworkStringTable());
}

TEST_F(ControlFactoryTest, FailuresWhileCreatingAreThrown)
{
    EXPECT_THROW((void)mFactory->CreateControl(WString(L"noSuchControl")), std::runtime_error);
    EXPECT_THROW((void)mFactory->CreateControl(WString(L"nullMaker")), std::runtime_error);
    const std::string message =
        ZT::Testing::MessageOf<ZT::FailedResultException>([&] { (void)mFactory->CreateControl(WString(L"refuses")); });
    EXPECT_NE(message.find("ZT::LControlFactory::CreateControl"), std::string::npos) << message;
}

} // namespace
