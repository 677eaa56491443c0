#include "ZTFramework/Utilities/Storage/StringT.h"

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Utilities/Storage/Allocator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace ZT {

// ---------------------------------------------------------------------------------------------
// Unicode conversion (the reference conversion's lenient mode).

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Bytes that follow a lead byte, by the lead byte's value; the reference table, which also
// accepts the old five- and six-byte forms so that they decode to a value above U+10FFFF.
int TrailingBytes(unsigned char lead)
{
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 1;
    if (lead < 0xF0) return 2;
    if (lead < 0xF8) return 3;
    if (lead < 0xFC) return 4;
    return 5;
}

// Whether a sequence of length bytes is well formed, as the reference conversion checks it.
bool IsLegalUTF8(const unsigned char* source, int length)
{
    unsigned char a;
    const unsigned char* srcptr = source + length;
    switch (length) {
    default: return false;
    case 4:
        if ((a = (*--srcptr)) < 0x80 || a > 0xBF) return false;
        [[fallthrough]];
    case 3:
        if ((a = (*--srcptr)) < 0x80 || a > 0xBF) return false;
        [[fallthrough]];
    case 2:
        if ((a = (*--srcptr)) > 0xBF) return false;
        switch (*source) {
        case 0xE0: if (a < 0xA0) return false; break;
        case 0xED: if (a > 0x9F) return false; break;
        case 0xF0: if (a < 0x90) return false; break;
        case 0xF4: if (a > 0x8F) return false; break;
        default: if (a < 0x80) return false;
        }
        [[fallthrough]];
    case 1:
        if (*source >= 0x80 && *source < 0xC2) return false;
    }
    return *source <= 0xF4;
}

constexpr char32_t kOffsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                          0x03C82080UL, 0xFA082080UL, 0x82082080UL};

} // namespace

bool ConvertUTF8ToWide(std::string_view utf8, std::wstring& wide)
{
    wide.clear();
    wide.reserve(utf8.size());
    const auto* source = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = source + utf8.size();
    while (source < end) {
        const int extra = TrailingBytes(*source);
        if (extra >= end - source)
            return false; // truncated sequence
        if (!IsLegalUTF8(source, extra + 1))
            return false;
        char32_t ch = 0;
        for (int i = 0; i < extra; ++i) {
            ch += *source++;
            ch <<= 6;
        }
        ch += *source++;
        ch -= kOffsetsFromUTF8[extra];
        if (ch > kMaxCodePoint || IsSurrogate(ch))
            ch = kReplacementCharacter;
        wide.push_back(static_cast<wchar_t>(ch));
    }
    return true;
}

void ConvertWideToUTF8(std::wstring_view wide, std::string& utf8)
{
    utf8.clear();
    utf8.reserve(wide.size());
    for (wchar_t w : wide) {
        auto ch = static_cast<char32_t>(w);
        if (ch > kMaxCodePoint || IsSurrogate(ch))
            ch = kReplacementCharacter;
        if (ch < 0x80) {
            utf8.push_back(static_cast<char>(ch));
        } else if (ch < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | (ch >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
        } else if (ch < 0x10000) {
            utf8.push_back(static_cast<char>(0xE0 | (ch >> 12)));
            utf8.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
        } else {
            utf8.push_back(static_cast<char>(0xF0 | (ch >> 18)));
            utf8.push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Character buffers.

// A copy holds the text up to its first 0: a buffer that is locked for writing may hold a longer
// area whose tail is not text yet.
template <class C>
LCharBufferT<C>::LCharBufferT(const LCharBufferT& other) : LRefCountedObject(other)
{
    const std::int32_t capacity = other.mSizeInBytes / static_cast<std::int32_t>(sizeof(C));
    if (capacity <= 0 || !other.mData)
        return;
    std::int32_t length = 0;
    while (length < capacity && other.mData[length] != 0)
        ++length;
    if (!Resize(length + 1))
        return;
    std::memcpy(mData, other.mData, static_cast<std::size_t>(length) * sizeof(C));
    mData[length] = 0;
}

template <class C>
LCharBufferT<C>::~LCharBufferT()
{
    GetSystemAllocator().Free(mData);
}

template <class C>
LRefCountedObject* LCharBufferT<C>::CreateCopy() const
{
    auto* copy = new LCharBufferT(*this);
    if (mSizeInBytes > 0 && copy->mData == nullptr) {
        delete copy;
        return nullptr;
    }
    return copy;
}

template <class C>
bool LCharBufferT<C>::Resize(std::int32_t count)
{
    const auto size = static_cast<std::int64_t>(count) * static_cast<std::int64_t>(sizeof(C));
    if (count < 0 || size > 0x7FFFFFFF)
        return false;
    const auto bytes = static_cast<std::int32_t>(size);
    // Keep the storage when it is large enough and wastes at most 128 bytes.
    if (mData && mCapacityInBytes >= bytes && mCapacityInBytes - bytes <= 128) {
        mSizeInBytes = bytes;
        return true;
    }
    void* memory = GetSystemAllocator().Reallocate(mData, static_cast<std::size_t>(std::max(bytes, 1)));
    if (!memory)
        return false;
    mData = static_cast<C*>(memory);
    mCapacityInBytes = std::max(bytes, 1);
    mSizeInBytes = bytes;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Strings.

namespace {

template <class C>
std::int32_t MeasureLength(const C* text, std::int32_t limit)
{
    std::int32_t length = 0;
    while (length < limit && text[length] != 0)
        ++length;
    return length;
}

template <class C>
const RCPtr<LCharBufferT<C>>& SharedEmptyBuffer()
{
    // Created on first use and never destroyed, so strings in static objects stay valid to the end.
    static const RCPtr<LCharBufferT<C>>* const empty = [] {
        auto* buffer = new LCharBufferT<C>;
        if (!buffer->Resize(1))
            throw Exception<std::bad_alloc>("Out of memory for the empty string");
        buffer->Data()[0] = 0;
        return new RCPtr<LCharBufferT<C>>(buffer);
    }();
    return *empty;
}

template <class C>
struct Conversion;

template <>
struct Conversion<wchar_t> {
    // Narrow (UTF-8) to wide.
    static bool FromOther(const char* text, std::int32_t length, std::wstring& out)
    {
        return ConvertUTF8ToWide(std::string_view(text, static_cast<std::size_t>(length)), out);
    }
    static int FormatV(wchar_t* buffer, std::size_t count, const wchar_t* format, std::va_list arguments)
    {
        return std::vswprintf(buffer, count, format, arguments);
    }
    static wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }
    static wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); }
    static bool IsSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
};

template <>
struct Conversion<char> {
    // Wide to narrow (UTF-8); never fails.
    static bool FromOther(const wchar_t* text, std::int32_t length, std::string& out)
    {
        ConvertWideToUTF8(std::wstring_view(text, static_cast<std::size_t>(length)), out);
        return true;
    }
    static int FormatV(char* buffer, std::size_t count, const char* format, std::va_list arguments)
    {
        return std::vsnprintf(buffer, count, format, arguments);
    }
    static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
    static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
    static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
};

template <class C>
const char* LockFunctionName()
{
    if constexpr (std::is_same_v<C, wchar_t>)
        return "ZT::StringT<wchar_t,char>::Lock";
    else
        return "ZT::StringT<char,wchar_t>::Lock";
}

} // namespace

template <class C, class O>
StringT<C, O>::StringT() noexcept : mBuffer(SharedEmptyBuffer<C>())
{
}

template <class C, class O>
StringT<C, O>::StringT(const C* text) : StringT()
{
    (void)Assign(text, -1); // fails only out of memory, leaving it empty
}

template <class C, class O>
StringT<C, O>::StringT(const C* text, std::int32_t length) : StringT()
{
    (void)Assign(text, length); // fails only out of memory, leaving it empty
}

template <class C, class O>
StringT<C, O>::StringT(const O* text) : StringT()
{
    (void)Assign(text, -1); // fails only out of memory, leaving it empty
}

template <class C, class O>
StringT<C, O>::StringT(const O* text, std::int32_t length) : StringT()
{
    (void)Assign(text, length); // fails only out of memory, leaving it empty
}

template <class C, class O>
StringT<C, O>::StringT(std::basic_string_view<C> text) : StringT()
{
    // Fails only out of memory, leaving it empty.
    (void)Assign(text.data(), static_cast<std::int32_t>(std::min<std::size_t>(text.size(), kMaxLength)));
}

template <class C, class O>
StringT<C, O>::StringT(const StringT& other) noexcept : mBuffer(other.mBuffer)
{
}

template <class C, class O>
StringT<C, O>::StringT(StringT&& other) noexcept : mBuffer(std::move(other.mBuffer))
{
    other.MakeEmpty();
}

template <class C, class O>
StringT<C, O>::StringT(const OtherString& other) : StringT()
{
    (void)Assign(other.GetBuffer(), other.GetLength()); // fails only out of memory, leaving it empty
}

template <class C, class O>
StringT<C, O>::~StringT() = default;

template <class C, class O>
StringT<C, O> StringT<C, O>::FromNumber(std::int64_t number)
{
    StringT text;
    if constexpr (std::is_same_v<C, wchar_t>)
        (void)text.Format(L"%lld", static_cast<long long>(number)); // a number always fits
    else
        (void)text.Format("%lld", static_cast<long long>(number)); // a number always fits
    return text;
}

template <class C, class O>
StringT<C, O> StringT<C, O>::FromReal(double number, int decimals)
{
    // The format itself is formatted: two decimals give "%.2lf"; a negative count uses "%lf".
    StringT format;
    if constexpr (std::is_same_v<C, wchar_t>) {
        if (decimals < 0)
            format = L"%lf";
        else
            (void)format.Format(L"%%.%dlf", decimals); // a number always fits
    } else {
        if (decimals < 0)
            format = "%lf";
        else
            (void)format.Format("%%.%dlf", decimals); // a number always fits
    }
    StringT text;
    (void)text.Format(format.GetBuffer(), number); // a failed format leaves it empty
    return text;
}

template <class C, class O>
StringT<C, O>& StringT<C, O>::operator=(const StringT& other) noexcept
{
    mBuffer = other.mBuffer;
    return *this;
}

template <class C, class O>
StringT<C, O>& StringT<C, O>::operator=(StringT&& other) noexcept
{
    if (this != &other) {
        mBuffer = std::move(other.mBuffer);
        other.MakeEmpty();
    }
    return *this;
}

template <class C, class O>
StringT<C, O>& StringT<C, O>::operator=(const C* text)
{
    (void)Assign(text, -1); // fails only out of memory
    return *this;
}

template <class C, class O>
void StringT<C, O>::MakeEmpty() noexcept
{
    mBuffer = SharedEmptyBuffer<C>();
}

template <class C, class O>
ZTRESULT StringT<C, O>::Assign(const C* text, std::int32_t length)
{
    if (!text || length == 0) {
        MakeEmpty();
        return S_OK;
    }
    const std::int32_t measured = MeasureLength(text, length < 0 ? kMaxLength : std::min(length, kMaxLength));
    if (measured == 0) {
        MakeEmpty();
        return S_OK;
    }
    RCPtr<LCharBufferT<C>> buffer(new LCharBufferT<C>);
    if (!buffer->Resize(measured + 1))
        return E_OUTOFMEMORY;
    std::memcpy(buffer->Data(), text, static_cast<std::size_t>(measured) * sizeof(C));
    buffer->Data()[measured] = 0;
    mBuffer = std::move(buffer);
    return S_OK;
}

template <class C, class O>
ZTRESULT StringT<C, O>::Assign(const O* text, std::int32_t length)
{
    if (!text || length == 0) {
        MakeEmpty();
        return S_OK;
    }
    const std::int32_t measured = MeasureLength(text, length < 0 ? kMaxLength : std::min(length, kMaxLength));
    std::basic_string<C> converted;
    const bool wellFormed = Conversion<C>::FromOther(text, measured, converted);
    if (!wellFormed) {
        MakeEmpty();
        return E_FAIL;
    }
    // The size counts the characters up to the first 0 of the converted text.
    const std::int32_t length32 = MeasureLength(converted.c_str(), static_cast<std::int32_t>(converted.size()));
    return Assign(converted.c_str(), length32 == 0 ? 0 : length32);
}

template <class C, class O>
const C* StringT<C, O>::GetBuffer() const noexcept
{
    return mBuffer ? mBuffer->Data() : SharedEmptyBuffer<C>()->Data();
}

template <class C, class O>
std::int32_t StringT<C, O>::GetLength() const noexcept
{
    if (!mBuffer)
        return 0;
    if (IsLocked())
        return MeasureLength(mBuffer->Data(), mBuffer->GetSizeInBytes() / static_cast<std::int32_t>(sizeof(C)));
    return mBuffer->GetSizeInBytes() / static_cast<std::int32_t>(sizeof(C)) - 1;
}

template <class C, class O>
std::int32_t StringT<C, O>::GetSizeInBytes() const noexcept
{
    return mBuffer ? mBuffer->GetSizeInBytes() : static_cast<std::int32_t>(sizeof(C));
}

template <class C, class O>
bool StringT<C, O>::IsLocked() const noexcept
{
    return mBuffer && !mBuffer->IsShareable();
}

template <class C, class O>
C* StringT<C, O>::Lock(std::int32_t length)
{
    if (IsLocked())
        return nullptr;
    const std::int32_t currentLength = GetLength();
    if (length <= 0)
        length = currentLength + 1;

    if (!mBuffer || mBuffer->GetRefCount() > 1) {
        // Shared (the empty buffer always is): write into a private copy of the requested length.
        RCPtr<LCharBufferT<C>> copy(new LCharBufferT<C>);
        if (!copy->Resize(length))
            ZT_THROW(Runtime, "", LockFunctionName<C>());
        const std::int32_t kept = std::min(currentLength, length - 1);
        if (kept > 0)
            std::memcpy(copy->Data(), GetBuffer(), static_cast<std::size_t>(kept) * sizeof(C));
        copy->Data()[kept] = 0;
        mBuffer = std::move(copy);
    } else if (!mBuffer->Resize(length)) {
        ZT_THROW(Runtime, "", LockFunctionName<C>());
    }
    // Unshareable while locked: a copy of the string taken now gets its own buffer.
    mBuffer->SetUnshareable(true);
    mBuffer->Data()[length - 1] = 0;
    return mBuffer->Data();
}

template <class C, class O>
ZTRESULT StringT<C, O>::Unlock()
{
    if (!IsLocked())
        return S_FALSE;
    const std::int32_t capacity = mBuffer->GetSizeInBytes() / static_cast<std::int32_t>(sizeof(C));
    const std::int32_t length = MeasureLength(mBuffer->Data(), capacity);
    if (length == 0) {
        MakeEmpty();
        return S_OK;
    }
    mBuffer->SetUnshareable(false);
    if (length == capacity) {
        // Written up to the very end without a terminator: make room for one.
        if (!mBuffer->Resize(length + 1))
            return E_OUTOFMEMORY;
        mBuffer->Data()[length] = 0;
    }
    mBuffer->SetSizeInBytes((length + 1) * static_cast<std::int32_t>(sizeof(C)));
    return S_OK;
}

template <class C, class O>
ZTRESULT StringT<C, O>::Format(const C* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    const ZTRESULT result = FormatV(format, arguments);
    va_end(arguments);
    return result;
}

template <class C, class O>
ZTRESULT StringT<C, O>::FormatV(const C* format, std::va_list arguments)
{
    if (!format)
        return E_INVALIDARG;
    C buffer[kMaxFormattedLength + 1];
    const int written = Conversion<C>::FormatV(buffer, kMaxFormattedLength + 1, format, arguments);
    if (written < 0) {
        // The wide formatter reports a truncated text as a failure; keep what fits.
        buffer[kMaxFormattedLength] = 0;
        if (buffer[0] == 0) {
            MakeEmpty();
            return E_FAIL;
        }
    }
    buffer[kMaxFormattedLength] = 0;
    return Assign(buffer, -1);
}

template <class C, class O>
typename StringT<C, O>::OtherString StringT<C, O>::Convert() const
{
    return OtherString(*this);
}

template <class C, class O>
std::string StringT<C, O>::ToUTF8() const
{
    if constexpr (std::is_same_v<C, char>) {
        return std::string(View());
    } else {
        std::string out;
        ConvertWideToUTF8(View(), out);
        return out;
    }
}

template <class C, class O>
std::wstring StringT<C, O>::ToWide() const
{
    if constexpr (std::is_same_v<C, wchar_t>) {
        return std::wstring(View());
    } else {
        std::wstring out;
        (void)ConvertUTF8ToWide(View(), out); // the text up to a bad sequence
        return out;
    }
}

template <class C, class O>
bool StringT<C, O>::operator==(const StringT& other) const noexcept
{
    return mBuffer.Get() == other.mBuffer.Get() || View() == other.View();
}

template <class C, class O>
bool StringT<C, O>::operator==(const C* text) const noexcept
{
    if (!text)
        return IsEmpty();
    return View() == std::basic_string_view<C>(text);
}

template <class C, class O>
int StringT<C, O>::CompareNoCase(const StringT& other) const noexcept
{
    const auto a = View();
    const auto b = other.View();
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const C x = Conversion<C>::Lower(a[i]);
        const C y = Conversion<C>::Lower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <class C, class O>
StringT<C, O>& StringT<C, O>::operator+=(const StringT& other)
{
    if (other.IsEmpty())
        return *this;
    if (IsEmpty())
        return *this = other;
    std::basic_string<C> joined(View());
    joined.append(other.View());
    (void)Assign(joined.c_str(), static_cast<std::int32_t>(joined.size())); // fails only out of memory
    return *this;
}

template <class C, class O>
StringT<C, O>& StringT<C, O>::operator+=(const C* text)
{
    return *this += StringT(text);
}

template <class C, class O>
StringT<C, O> StringT<C, O>::operator+(const StringT& other) const
{
    StringT result(*this);
    result += other;
    return result;
}

template <class C, class O>
std::int32_t StringT<C, O>::Find(const C* text, std::int32_t start) const noexcept
{
    if (!text || start < 0)
        return -1;
    const auto position = View().find(text, static_cast<std::size_t>(start));
    return position == std::basic_string_view<C>::npos ? -1 : static_cast<std::int32_t>(position);
}

template <class C, class O>
std::int32_t StringT<C, O>::Find(C character, std::int32_t start) const noexcept
{
    if (start < 0)
        return -1;
    const auto position = View().find(character, static_cast<std::size_t>(start));
    return position == std::basic_string_view<C>::npos ? -1 : static_cast<std::int32_t>(position);
}

template <class C, class O>
StringT<C, O> StringT<C, O>::Mid(std::int32_t start, std::int32_t count) const
{
    const std::int32_t length = GetLength();
    start = std::clamp(start, 0, length);
    const std::int32_t available = length - start;
    if (count < 0 || count > available)
        count = available;
    if (start == 0 && count == length)
        return *this;
    return StringT(GetBuffer() + start, count);
}

template <class C, class O>
StringT<C, O> StringT<C, O>::ToLower() const
{
    std::basic_string<C> text(View());
    for (C& c : text)
        c = Conversion<C>::Lower(c);
    return StringT(std::basic_string_view<C>(text));
}

template <class C, class O>
StringT<C, O> StringT<C, O>::ToUpper() const
{
    std::basic_string<C> text(View());
    for (C& c : text)
        c = Conversion<C>::Upper(c);
    return StringT(std::basic_string_view<C>(text));
}

template <class C, class O>
StringT<C, O> StringT<C, O>::Trimmed() const
{
    const auto view = View();
    std::size_t begin = 0;
    std::size_t end = view.size();
    while (begin < end && Conversion<C>::IsSpace(view[begin]))
        ++begin;
    while (end > begin && Conversion<C>::IsSpace(view[end - 1]))
        --end;
    return Mid(static_cast<std::int32_t>(begin), static_cast<std::int32_t>(end - begin));
}

template class LCharBufferT<wchar_t>;
template class LCharBufferT<char>;
template class StringT<wchar_t, char>;
template class StringT<char, wchar_t>;

} // namespace ZT
