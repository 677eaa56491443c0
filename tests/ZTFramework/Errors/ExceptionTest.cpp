#include "ZTFramework/Errors/Exception.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

using ZT::ErrorKind;

using ZT::Testing::MessageOf;

TEST(ErrorMessage, EachKindThrowsItsTypeWithTheOneFormat)
{
    struct Row {
        ErrorKind kind;
        const char* text;
    };
    const Row rows[] = {
        {ErrorKind::Runtime, "Runtime Error"},       {ErrorKind::Logic, "Logic Error"},
        {ErrorKind::OutOfRange, "Out of Range"},     {ErrorKind::Domain, "Domain Error"},
        {ErrorKind::InvalidArgument, "Invalid Argument"}, {ErrorKind::FailedResult, "Failed Result"},
    };
    for (const Row& row : rows) {
        const std::string expected =
            std::string(row.text) + " : detail : ZT::LFoo::Bar : ZTFramework/Foo/Foo : Line 12";
        std::string got;
        try {
            ZT::ThrowError(row.kind, false, "detail", "ZT::LFoo::Bar", "ZTFramework/Foo/Foo.cpp", 12);
        } catch (const ZT::ExceptionBase& e) {
            got = e.GetMessage();
            switch (row.kind) {
            case ErrorKind::Runtime: EXPECT_NE(dynamic_cast<const std::runtime_error*>(&e), nullptr); break;
            case ErrorKind::Logic: EXPECT_NE(dynamic_cast<const std::logic_error*>(&e), nullptr); break;
            case ErrorKind::OutOfRange: EXPECT_NE(dynamic_cast<const std::out_of_range*>(&e), nullptr); break;
            case ErrorKind::Domain: EXPECT_NE(dynamic_cast<const std::domain_error*>(&e), nullptr); break;
            case ErrorKind::InvalidArgument:
                EXPECT_NE(dynamic_cast<const std::invalid_argument*>(&e), nullptr);
                break;
            case ErrorKind::FailedResult:
                EXPECT_NE(dynamic_cast<const ZT::FailedResultException*>(&e), nullptr);
                break;
            }
        }
        EXPECT_EQ(got, expected) << row.text;
    }
}

TEST(ErrorMessage, NullPointerAndMissingDetailAreJoinedWithoutEmptyParts)
{
    EXPECT_EQ(ZT::FormatErrorMessage(ErrorKind::Runtime, true, "LMainControl couldn't find buttonUpdateFirmware",
                                     "ZT::LMainControl::Initialize", "FirmwareUpdater/Panel/UI/MainControl.cpp", 88),
              "Runtime Error : Null Pointer : LMainControl couldn't find buttonUpdateFirmware : "
              "ZT::LMainControl::Initialize : FirmwareUpdater/Panel/UI/MainControl : Line 88");
    EXPECT_EQ(ZT::FormatErrorMessage(ErrorKind::Runtime, false, "", "ZT::LRefCountedObject::SetUnshareable",
                                     "a/b.c/File.h", 29),
              "Runtime Error : ZT::LRefCountedObject::SetUnshareable : a/b.c/File : Line 29");
    // A dot in a folder name is not an extension.
    EXPECT_EQ(ZT::FormatErrorMessage(ErrorKind::Logic, false, "", "f", "dir.d/NoExtension", 1),
              "Logic Error : f : dir.d/NoExtension : Line 1");
}

TEST(ErrorMessage, FailedResultsAreWrittenInUpperCaseHexWithoutLeadingZeros)
{
    EXPECT_EQ(ZT::FailedResultDetail(ZT::E_INVALIDARG), "ZTRESULT = 80070057");
    EXPECT_EQ(ZT::FailedResultDetail(ZT::E_FAIL), "ZTRESULT = 80004005");
    EXPECT_EQ(ZT::FailedResultDetail(ZT::ZTRESULT(0x1F)), "ZTRESULT = 1F");
}

TEST(ErrorMessage, MacrosNameTheThrowingFileAndLine)
{
    const int line = __LINE__ + 1;
    const std::string message = MessageOf<std::logic_error>([] { ZT_THROW(Logic, "x", "ZT::Test::Run"); });
    EXPECT_EQ(message, "Logic Error : x : ZT::Test::Run : tests/ZTFramework/Errors/ExceptionTest : Line " +
                           std::to_string(line));

    const std::string failed =
        MessageOf<ZT::FailedResultException>([] { ZT_THROW_IF_FAILED(ZT::E_FAIL, "ZT::Test::Init"); });
    EXPECT_TRUE(std::regex_match(failed, std::regex("Failed Result : ZTRESULT = 80004005 : ZT::Test::Init : "
                                                    "tests/ZTFramework/Errors/ExceptionTest : Line [0-9]+")))
        << failed;
    EXPECT_NO_THROW(ZT_THROW_IF_FAILED(ZT::S_FALSE, "ZT::Test::Init"));
}

TEST(TypeNameAndResult, ClassesCarryTheClassWordAndResultTextsNameKnownCodesAndHexForOthers)
{
    EXPECT_EQ(ZT::TypeName<std::string>().rfind("class std::", 0), 0u);
    EXPECT_EQ(ZT::TypeName<int>(), "int");
    EXPECT_EQ(ZT::TypeName<unsigned int>(), "unsigned int");
    EXPECT_EQ(ZT::ResultToText(ZT::E_ABORT), "E_ABORT");
    EXPECT_EQ(ZT::ResultToText(ZT::ZTRESULT_EXIT_APPLICATION), "ZTRESULT_EXIT_APPLICATION");
    EXPECT_EQ(ZT::ResultToText(ZT::ZTRESULT(-70)), "0xFFFFFFBA");
    EXPECT_TRUE(ZT::Failed(ZT::E_FAIL));
    EXPECT_TRUE(ZT::Succeeded(ZT::S_FALSE));
}

} // namespace
