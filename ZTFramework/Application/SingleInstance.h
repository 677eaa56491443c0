#pragma once
// Keeps a user to one copy of the program with a window, and lets a second copy hand its
// command line to the first.
//
// The name lives in the abstract UNIX socket namespace, so nothing is left on disk when a copy
// dies. Binding the name plays the part of a named mutex: the copy that binds it is the first.
// A first copy listens on it only while it has a window, so a second copy that can connect has
// found that window: it sends its command line (narrow text and its terminating zero) and ends.
// A second copy that cannot connect (the first runs without a window, as an installer's silent
// run does) starts normally.
//
// The name is the window class name, "Prevent", a "." and 16 hexadecimal digits that stand for
// the user's session: their $XDG_RUNTIME_DIR, or their user ID when that is not set. Copies of
// other users, and of other sessions with their own runtime folders, never meet.
//
// Threads: one object per process, used by the user-interface thread.

#include <chrono>
#include <optional>
#include <string>

namespace ZT {

class CSingleInstance {
public:
    // Longest command line a first copy takes from a second one; longer text is cut.
    static constexpr std::size_t kMaxCommandLineBytes = 64 * 1024;

    // name without the leading zero byte of the abstract namespace (see SocketName).
    explicit CSingleInstance(std::string name);
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // The name for windowClassName in this process's session (see above).
    [[nodiscard]] static std::string SocketName(const std::string& windowClassName);

    // Binds the name; true when this is the first copy. The name stays bound for the life of
    // the object. When no socket can be made at all the copy counts as the first: a broken
    // check never keeps the program from starting. Never blocks.
    [[nodiscard]] bool Claim();
    [[nodiscard]] bool IsFirst() const noexcept { return mFirst; }

    // For a first copy that shows its window: second copies may now hand over. False when this
    // copy is not the first or listening fails. Never blocks.
    [[nodiscard]] bool StartListening();
    // The listening socket, to be watched for reading by the window's event loop; -1 while not
    // listening.
    [[nodiscard]] int GetListeningDescriptor() const noexcept { return mListening ? mDescriptor : -1; }

    // Takes one hand-over that is waiting: the text up to its zero (or to the end of the
    // connection), at most kMaxCommandLineBytes. Nothing when no second copy is waiting or it
    // sent nothing within timeout. Blocks at most timeout.
    [[nodiscard]] std::optional<std::string> AcceptCommandLine(std::chrono::milliseconds timeout);

    // For a second copy: connects to the first copy's window under name. When it is there,
    // sends commandLine with its terminating zero unless it is empty, and returns true (this
    // copy then ends). False when no first copy listens. Blocks at most about a second when the
    // first copy stops reading.
    [[nodiscard]] static bool HandOverCommandLine(const std::string& name, const std::string& commandLine);

private:
    std::string mName;
    int mDescriptor = -1;
    bool mFirst = false;
    bool mListening = false;
};

} // namespace ZT
