#pragma once
// The framework's strings.
//
// StringT<wchar_t,char> is the usual text type (wide; UTF-32 on this platform), StringT<char,wchar_t>
// its narrow partner (UTF-8). A string holds one counted character buffer; copies share it until
// one of them writes (copy on write), and every empty string shares one process-wide empty buffer.
// Conversions between the two widths use the Unicode reference conversion in its lenient mode:
// code points in the surrogate range or above U+10FFFF become U+FFFD; a malformed UTF-8 sequence
// makes the assignment fail with E_FAIL.
//
// A string is not guarded: one string object is used by one thread at a time. Two strings sharing
// a buffer may be used on two threads, since the buffer's count is atomic and written buffers are
// never shared.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZT {

class IAllocator;

// The counted character buffer behind a string: the characters with their terminating 0, and the
// size of that in bytes. While a string has it locked for writing it is unshareable.
template <class C>
class LCharBufferT final : public LRefCountedObject {
public:
    LCharBufferT() = default;
    LCharBufferT(const LCharBufferT& other);
    ~LCharBufferT() override;
    LCharBufferT& operator=(const LCharBufferT&) = delete;

    LRefCountedObject* CreateCopy() const override;

    // Makes room for count characters (terminator included); keeps the storage when it exceeds
    // the new size by at most 128 bytes. Returns false when memory runs out.
    bool Resize(std::int32_t count);
    C* Data() noexcept { return mData; }
    const C* Data() const noexcept { return mData; }
    std::int32_t GetSizeInBytes() const noexcept { return mSizeInBytes; }
    void SetSizeInBytes(std::int32_t size) noexcept { mSizeInBytes = size; }
    std::int32_t GetCapacityInBytes() const noexcept { return mCapacityInBytes; }

private:
    C* mData = nullptr;
    std::int32_t mSizeInBytes = 0;
    std::int32_t mCapacityInBytes = 0;
};

template <class C, class O>
class StringT {
public:
    using CharType = C;
    using OtherCharType = O;
    using OtherString = StringT<O, C>;

    // The longest text a string takes, in characters.
    static constexpr std::int32_t kMaxLength = 0x7FFFFFFE;
    // One formatted text holds at most this many characters.
    static constexpr std::int32_t kMaxFormattedLength = 16383;

    StringT() noexcept;
    StringT(const C* text);
    StringT(const C* text, std::int32_t length);
    // Converts from the other width. A malformed text gives the empty string.
    explicit StringT(const O* text);
    StringT(const O* text, std::int32_t length);
    StringT(std::basic_string_view<C> text);
    StringT(const StringT& other) noexcept;
    StringT(StringT&& other) noexcept;
    explicit StringT(const OtherString& other);
    virtual ~StringT();

    // Decimal text of a number.
    static StringT FromNumber(std::int64_t number);
    // A real with the given count of decimals ("%.2lf" for 2); a negative count uses "%lf".
    static StringT FromReal(double number, int decimals);

    StringT& operator=(const StringT& other) noexcept;
    StringT& operator=(StringT&& other) noexcept;
    StringT& operator=(const C* text);

    // Assignments with the text's length given, or -1 for up to the terminator. Return S_OK, or
    // E_FAIL for a malformed text of the other width (the string is then empty), or
    // E_OUTOFMEMORY.
    ZTRESULT Assign(const C* text, std::int32_t length = -1);
    ZTRESULT Assign(const O* text, std::int32_t length = -1);

    // The characters, always terminated; never null.
    const C* GetBuffer() const noexcept;
    const C* c_str() const noexcept { return GetBuffer(); }
    operator const C*() const noexcept { return GetBuffer(); }
    std::basic_string_view<C> View() const noexcept { return {GetBuffer(), static_cast<std::size_t>(GetLength())}; }
    std::int32_t GetLength() const noexcept;
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    // Size of the buffer in bytes: (length + 1) × the character width.
    std::int32_t GetSizeInBytes() const noexcept;
    // Whether two strings share one buffer (for tests of the copy-on-write rule).
    bool SharesBufferWith(const StringT& other) const noexcept { return mBuffer.Get() == other.mBuffer.Get(); }

    // A writable array of length characters (0: the current length plus 1), the last of which is
    // set to 0. Null when the string is already locked. Throws a runtime error when a private
    // copy of a shared buffer cannot be made.
    C* Lock(std::int32_t length = 0);
    // Ends writing: measures the text up to its first 0. S_FALSE when the string was not locked.
    ZTRESULT Unlock();

    // printf-style formatting into at most 16383 characters. Wide formats take %ls for wide text.
    ZTRESULT Format(const C* format, ...);
    ZTRESULT FormatV(const C* format, std::va_list arguments);

    // The text converted to the other width, and to UTF-8 / UTF-32 standard strings.
    OtherString Convert() const;
    std::string ToUTF8() const;
    std::wstring ToWide() const;

    bool operator==(const StringT& other) const noexcept;
    bool operator==(const C* text) const noexcept;
    // Case-insensitive comparison (simple per-character lower-casing), <0, 0 or >0.
    int CompareNoCase(const StringT& other) const noexcept;
    bool operator<(const StringT& other) const noexcept { return View() < other.View(); }

    StringT& operator+=(const StringT& other);
    StringT& operator+=(const C* text);
    StringT operator+(const StringT& other) const;

    // Position of the first occurrence at or after start, or -1.
    std::int32_t Find(const C* text, std::int32_t start = 0) const noexcept;
    std::int32_t Find(C character, std::int32_t start = 0) const noexcept;
    // Characters [start, start + count); count -1 for the rest. Out-of-range parts are cut off.
    StringT Mid(std::int32_t start, std::int32_t count = -1) const;
    StringT Left(std::int32_t count) const { return Mid(0, count); }
    StringT ToLower() const;
    StringT ToUpper() const;
    StringT Trimmed() const;

private:
    bool IsLocked() const noexcept;
    void MakeEmpty() noexcept;

    RCPtr<LCharBufferT<C>> mBuffer;
};

using WString = StringT<wchar_t, char>;
using NString = StringT<char, wchar_t>;

template <class C, class O>
StringT<C, O> operator+(const C* left, const StringT<C, O>& right)
{
    StringT<C, O> result(left);
    result += right;
    return result;
}

// Conversions used by the strings, available on their own. Each returns false for a malformed
// input (the output then holds what was converted before the fault).
bool ConvertUTF8ToWide(std::string_view utf8, std::wstring& wide);
void ConvertWideToUTF8(std::wstring_view wide, std::string& utf8);

extern template class LCharBufferT<wchar_t>;
extern template class LCharBufferT<char>;
extern template class StringT<wchar_t, char>;
extern template class StringT<char, wchar_t>;

} // namespace ZT

template <class C, class O>
struct std::hash<ZT::StringT<C, O>> {
    std::size_t operator()(const ZT::StringT<C, O>& s) const noexcept
    {
        return std::hash<std::basic_string_view<C>>()(s.View());
    }
};
