#include "ZTFramework/Resources/XmlDocumentParser.h"

#include "ZTFramework/Resources/ResourceDocument.h"

#include <expat.h>

#include <memory>

namespace ZT {

namespace {

XML_Parser AsParser(void* parser) { return static_cast<XML_Parser>(parser); }

} // namespace

const char* CXmlDocumentParser::Attributes::Find(std::string_view name) const
{
    for (const char** pair = mPairs; pair && pair[0]; pair += 2) {
        if (name == pair[0])
            return pair[1];
    }
    return nullptr;
}

ZTRESULT CXmlDocumentParser::Parse(std::span<const std::uint8_t> document)
{
    mStopped = false;
    mDepth = 0;
    mErrorLine = 0;
    mErrorReason.clear();
    mHandlerException = nullptr;

    if (document.size() > CResourceDocument::kMaxSize) {
        mErrorReason = "the document is larger than " + std::to_string(CResourceDocument::kMaxSize) + " bytes";
        return E_FAIL;
    }
    if (document.empty()) {
        mErrorReason = "the document is empty";
        return E_FAIL;
    }

    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                              &XML_ParserFree);
    if (!parser)
        return E_OUTOFMEMORY;
    mParser = parser.get();
    XML_SetUserData(parser.get(), this);
    XML_SetElementHandler(parser.get(), &OnStartElement, &OnEndElement);
    XML_SetCharacterDataHandler(parser.get(), &OnCharacterData);
    XML_SetStartDoctypeDeclHandler(parser.get(), &OnStartDoctype);

    const XML_Status status = XML_Parse(parser.get(), reinterpret_cast<const char*>(document.data()),
                                        static_cast<int>(document.size()), XML_TRUE);
    const XML_Error error = XML_GetErrorCode(parser.get());
    if (status != XML_STATUS_OK && !mStopped) {
        mErrorLine = static_cast<int>(XML_GetCurrentLineNumber(parser.get()));
        mErrorReason = XML_ErrorString(error);
    }
    mParser = nullptr;

    if (mHandlerException)
        std::rethrow_exception(mHandlerException);
    if (error == XML_ERROR_NO_MEMORY)
        return E_OUTOFMEMORY;
    return (status == XML_STATUS_OK && !mStopped) ? S_OK : E_FAIL;
}

int CXmlDocumentParser::GetCurrentLine() const noexcept
{
    return mParser ? static_cast<int>(XML_GetCurrentLineNumber(AsParser(mParser))) : 0;
}

void CXmlDocumentParser::CharacterData(std::string_view) {}

void CXmlDocumentParser::Fail(std::string reason)
{
    if (mStopped)
        return;
    mErrorLine = GetCurrentLine();
    mErrorReason = std::move(reason);
    Stop();
}

void CXmlDocumentParser::Stop()
{
    mStopped = true;
    if (mParser)
        XML_StopParser(AsParser(mParser), XML_FALSE);
}

// Expat may deliver a few more events after a stop (the end of an empty element, the rest of a
// text run); the trampolines drop them.
void CXmlDocumentParser::OnStartElement(void* self, const char* name, const char** attributes)
{
    auto* parser = static_cast<CXmlDocumentParser*>(self);
    if (parser->mStopped)
        return;
    ++parser->mDepth;
    if (parser->mDepth > kMaxDepth) {
        parser->Fail("elements are nested deeper than " + std::to_string(kMaxDepth) + " levels");
        return;
    }
    try {
        parser->StartElement(name, Attributes(attributes));
    } catch (...) {
        parser->mErrorLine = parser->GetCurrentLine();
        parser->mHandlerException = std::current_exception();
        parser->Stop();
    }
}

void CXmlDocumentParser::OnEndElement(void* self, const char* name)
{
    auto* parser = static_cast<CXmlDocumentParser*>(self);
    if (parser->mStopped)
        return;
    try {
        parser->EndElement(name);
    } catch (...) {
        parser->mErrorLine = parser->GetCurrentLine();
        parser->mHandlerException = std::current_exception();
        parser->Stop();
    }
    --parser->mDepth;
}

void CXmlDocumentParser::OnCharacterData(void* self, const char* text, int length)
{
    auto* parser = static_cast<CXmlDocumentParser*>(self);
    if (parser->mStopped)
        return;
    try {
        parser->CharacterData(std::string_view(text, static_cast<std::size_t>(length)));
    } catch (...) {
        parser->mErrorLine = parser->GetCurrentLine();
        parser->mHandlerException = std::current_exception();
        parser->Stop();
    }
}

void CXmlDocumentParser::OnStartDoctype(void* self, const char*, const char*, const char*, int)
{
    static_cast<CXmlDocumentParser*>(self)->Fail("document type declarations are not allowed");
}

} // namespace ZT
