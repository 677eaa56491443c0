#pragma once
// The string buffer behind the debug streams. Text collects in the buffer and leaves the process
// only when the stream is flushed (std::flush, std::endl, or a full buffer's sync): the flush
// hands the whole collected text, as UTF-8, to its sink and empties the buffer. A flush always
// reports success.
//
// Sinks: DebugOutput (the system log or the UDP listener, by the target port) for the debug
// streams; the process's standard error stream for the wide console stream.
//
// Threads: a flush takes DebugOutput's mutex. Writing into one stream from two threads at once is
// still a race on the stream itself: use DebugLine / CDebugLine, which hold the same mutex for the
// whole line.

#include <sstream>
#include <string>

namespace ZT {

enum class DebugSink {
    DebugOutput,   // the system log while the target port is < 1, else UDP datagrams
    StandardError, // stderr, as UTF-8
};

template <class C>
class DebugStreamBufferT : public std::basic_stringbuf<C> {
public:
    explicit DebugStreamBufferT(DebugSink sink) : std::basic_stringbuf<C>(std::ios_base::out), mSink(sink) {}

protected:
    int sync() override;

private:
    const DebugSink mSink;
};

extern template class DebugStreamBufferT<char>;
extern template class DebugStreamBufferT<wchar_t>;

} // namespace ZT
