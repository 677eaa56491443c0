#include "FirmwareUpdater/Panel/PrinterLogStreams.h"

#include "ZTFramework/Utilities/Storage/StringT.h"

namespace {

std::string ToUtf8(const std::string& text)
{
    return text;
}

std::string ToUtf8(const std::wstring& text)
{
    return ZT::WString(std::wstring_view(text)).ToUTF8();
}

} // namespace

template <class C>
typename std::basic_streambuf<C>::int_type CPrinterLogStreams::LineBuffer<C>::overflow(
    typename std::basic_streambuf<C>::int_type ch)
{
    using Traits = typename std::basic_streambuf<C>::traits_type;
    if (Traits::eq_int_type(ch, Traits::eof()))
        return Traits::not_eof(ch);
    const C c = Traits::to_char_type(ch);
    if (c == C('\n'))
        PassOn();
    else
        mLine.push_back(c);
    return ch;
}

template <class C>
int CPrinterLogStreams::LineBuffer<C>::sync()
{
    if (!mLine.empty())
        PassOn();
    return 0;
}

template <class C>
void CPrinterLogStreams::LineBuffer<C>::PassOn()
{
    mPrinter.WriteLine(ToUtf8(mLine));
    mLine.clear();
}

CPrinterLogStreams::CPrinterLogStreams(CProgressPrinter& printer)
    : mNarrowBuffer(printer), mWideBuffer(printer), mNarrow(&mNarrowBuffer), mWide(&mWideBuffer)
{
}
