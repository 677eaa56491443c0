#pragma once
// Keeps a user to one copy of the program with a window, and lets a second copy hand its
// command line to the first.
//
// Everything lives in a folder only the user can reach: $XDG_RUNTIME_DIR when it is set and is
// the user's alone (owned by them, no access for others), else a folder of our own,
// "<$TMPDIR or /tmp>/<window class name>-<user ID>", made with mode 0700. A folder that is not
// the user's alone (another account made it first) is not used: the check is then skipped with
// a debug line and every copy opens its window, so that nobody else can keep the window from
// opening or receive the user's command line.
//
// In that folder, "<window class name>Prevent.lock" ("Prevent.lock" in our own folder, which has
// the class's name already) is the named mutex: the copy that holds its
// lock (flock, released by the system when a copy dies) is the first. The first copy binds
// "<window class name>Prevent.socket" (a stale one from a copy that died is replaced) and
// listens on it only while it has a window, so a second copy that can connect has found that
// window: it sends its command line (narrow text and its terminating zero) and ends. A second
// copy that cannot connect (the first runs without a window, as an installer's silent run does)
// starts normally. Both sides check the other's user (SO_PEERCRED) and ignore, with a debug
// line, a peer of another user.
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

    // name: the path of the files without their endings (see SocketName); empty for no check
    // at all (every copy is the first).
    explicit CSingleInstance(std::string name);
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // The name for windowClassName for this process's user: "<runtime folder>/<windowClassName>Prevent"
    // or "<our own folder>/Prevent" (see above), making our own folder when needed; empty, with a debug line, when no folder
    // is the user's alone.
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

    // For a second copy: connects to the first copy's window under name. When it is there and
    // runs as this user, sends commandLine with its terminating zero unless it is empty, and
    // returns true (this copy then ends). False when no first copy listens, or the listener is
    // of another user (a debug line says so). Blocks at most about a second when the first copy
    // stops reading.
    [[nodiscard]] static bool HandOverCommandLine(const std::string& name, const std::string& commandLine);

private:
    std::string mName;
    int mLock = -1;
    int mDescriptor = -1;
    bool mFirst = false;
    bool mListening = false;
};

} // namespace ZT
