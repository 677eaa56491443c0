#pragma once
// Builds a settings document from the bytes of an XML property-list file, with Expat.
//
// Element names are compared ignoring case. "plist" is only a frame; "dict" and "array" open a
// dictionary or an array; "key" names the next value of a dictionary; "string" and "data" keep
// their text as it is; "integer" reads a C integer literal (decimal, 0x hexadecimal, or octal
// with a leading 0; out-of-range values are clamped to 32 bits); "real" reads a decimal float;
// "true" and "false" are booleans. The attributes "visible" and "locked" set their flags when
// their value is "true" (any case). The first value at the top is the document's root.
//
// Two kinds of trouble are told apart:
//   - an error: the bytes are not a usable document (not well-formed or truncated XML, entity
//     declarations, no value at all, or past one of the limits below). There is no document.
//   - skipped content: the document is read, but something in it was left out or read as a
//     fallback value: unknown elements (their text is dropped; values inside them are still
//     read), numbers that do not parse, a key without a value, references to undefined
//     entities, text inside dictionaries and arrays, values past the first at the top.
// Each comes with the line it was found on and a reason, to be shown as "file:line: reason".
//
// Limits keep a hostile or damaged file from exhausting memory or the stack: at most
// kMaxValueCount values, nesting at most CKeyPath::kMaxDepth levels below the root. Entity
// declarations are refused, so no text can be expanded beyond the size of the input.

#include "ZTFramework/Settings/XNode.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class CPropertyListReader {
public:
    static constexpr std::size_t kMaxValueCount = 100000;
    // Only the first few skipped items are listed one by one; the rest are counted.
    static constexpr std::size_t kMaxListedSkips = 20;

    struct Problem {
        unsigned long mLine = 0;
        std::string mReason;
    };

    struct Result {
        // The document; null when mFailed is set.
        std::unique_ptr<XNode> mRoot;
        unsigned long mRootLine = 0;
        bool mFailed = false;
        Problem mError;
        // The first kMaxListedSkips pieces of skipped content, and how many there were in all.
        std::vector<Problem> mSkipped;
        std::size_t mSkippedCount = 0;
    };

    // Never throws for bad input; throws only when memory runs out.
    [[nodiscard]] static Result Read(std::string_view bytes);
};

} // namespace ZT
