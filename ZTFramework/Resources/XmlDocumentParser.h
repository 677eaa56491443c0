#pragma once
// A thin event parser over Expat for our resource documents.
//
// A derived parser receives start elements with their attributes, end elements and character
// data, all as UTF-8 (Expat converts UTF-16 documents, which it recognises by their byte-order
// mark or declaration). A handler that finds something wrong calls Fail with a reason; parsing
// stops and Parse reports the reason with the line the parser was at.
//
// Guards against hostile or broken documents: documents above CResourceDocument::kMaxSize are
// refused before parsing, document type declarations are refused (so no entity can expand), and
// elements may nest at most kMaxDepth deep. Exceptions thrown by a handler never cross Expat's C
// frames: the handler's exception is kept, parsing stops, and Parse rethrows it.
//
// Not guarded: one parser object is used by one thread at a time.

#include "ZTFramework/Errors/Result.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class CXmlDocumentParser {
public:
    static constexpr int kMaxDepth = 64;

    // The attributes of one start element, as Expat gives them (name, value, name, value, ...).
    class Attributes {
    public:
        explicit Attributes(const char** pairs) : mPairs(pairs) {}
        // The value of the named attribute, or null when the element does not carry it.
        [[nodiscard]] const char* Find(std::string_view name) const;
        // Calls visit(name, value) for each attribute in document order.
        template <class F>
        void ForEach(F&& visit) const
        {
            for (const char** pair = mPairs; pair && pair[0]; pair += 2)
                visit(std::string_view(pair[0]), std::string_view(pair[1]));
        }

    private:
        const char** mPairs;
    };

    CXmlDocumentParser() = default;
    CXmlDocumentParser(const CXmlDocumentParser&) = delete;
    CXmlDocumentParser& operator=(const CXmlDocumentParser&) = delete;
    virtual ~CXmlDocumentParser() = default;

    // Parses the whole document. S_OK when it is well-formed and no handler failed; E_FAIL
    // otherwise, with GetErrorLine and GetErrorReason set; E_OUTOFMEMORY when Expat ran out of
    // memory. An exception thrown by a handler is rethrown after parsing stopped.
    [[nodiscard]] ZTRESULT Parse(std::span<const std::uint8_t> document);

    // The line (from 1) where parsing stopped, or 0 when the fault is not tied to a line.
    [[nodiscard]] int GetErrorLine() const noexcept { return mErrorLine; }
    [[nodiscard]] const std::string& GetErrorReason() const noexcept { return mErrorReason; }
    // The line of the event being handled; valid inside the handlers.
    [[nodiscard]] int GetCurrentLine() const noexcept;

protected:
    virtual void StartElement(std::string_view name, const Attributes& attributes) = 0;
    virtual void EndElement(std::string_view name) = 0;
    // Text between tags, possibly in several pieces. The default ignores it.
    virtual void CharacterData(std::string_view text);

    // Stops parsing with a reason; the handler should return at once.
    void Fail(std::string reason);
    [[nodiscard]] bool HasFailed() const noexcept { return mStopped; }
    // How many elements are open, the one being started or ended included.
    [[nodiscard]] int GetDepth() const noexcept { return mDepth; }
    // Records a fault found after parsing (a dangling reference): the line it belongs to and why.
    void SetError(int line, std::string reason)
    {
        mErrorLine = line;
        mErrorReason = std::move(reason);
    }

private:
    static void OnStartElement(void* self, const char* name, const char** attributes);
    static void OnEndElement(void* self, const char* name);
    static void OnCharacterData(void* self, const char* text, int length);
    static void OnStartDoctype(void* self, const char* name, const char* systemId, const char* publicId,
                               int hasInternalSubset);
    void Stop();

    void* mParser = nullptr;   // the Expat parser while Parse runs
    bool mStopped = false;
    int mDepth = 0;
    int mErrorLine = 0;
    std::string mErrorReason;
    std::exception_ptr mHandlerException;
};

} // namespace ZT
