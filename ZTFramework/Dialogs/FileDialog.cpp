#include "ZTFramework/Dialogs/FileDialog.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <gio/gio.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ZT {

namespace {

constexpr const char* kPortalBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kFileChooserInterface = "org.freedesktop.portal.FileChooser";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
// How long the OpenFile call itself may take to be answered, in ms (not the user's choice,
// which has no limit): a portal that does not answer this call is taken to be absent.
constexpr int kPortalCallTimeoutMs = 10000;
// The exit status zenity gives when the user closes the chooser without a file.
constexpr int kZenityCancelled = 1;

const GVariantType* Type(const char* text)
{
    return reinterpret_cast<const GVariantType*>(text);
}

std::string Trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// Frees what GLib hands out when the scope ends.
struct ErrorHolder {
    GError* mError = nullptr;
    ~ErrorHolder()
    {
        if (mError)
            g_error_free(mError);
    }
    [[nodiscard]] std::string Message() const { return mError ? mError->message : "unknown error"; }
};

// The Response of one portal request.
struct PortalWait {
    GMainLoop* mLoop = nullptr;
    bool mAnswered = false;
    std::uint32_t mResponse = 2;
    std::string mUri;
};

void OnPortalResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer data)
{
    auto* wait = static_cast<PortalWait*>(data);
    if (!g_variant_is_of_type(parameters, Type("(ua{sv})")))
        return;
    guint32 response = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    wait->mAnswered = true;
    wait->mResponse = response;
    if (results) {
        if (GVariant* uris = g_variant_lookup_value(results, "uris", Type("as"))) {
            if (g_variant_n_children(uris) > 0) {
                const gchar* first = nullptr;
                g_variant_get_child(uris, 0, "&s", &first);
                if (first)
                    wait->mUri = first;
            }
            g_variant_unref(uris);
        }
        g_variant_unref(results);
    }
    g_main_loop_quit(wait->mLoop);
}

// The request path the portal will use for token: the sender's unique name without its ":" and
// with "." as "_".
std::string RequestPath(GDBusConnection* connection, const std::string& token)
{
    std::string sender = g_dbus_connection_get_unique_name(connection) ? g_dbus_connection_get_unique_name(connection) : "";
    if (!sender.empty() && sender.front() == ':')
        sender.erase(0, 1);
    for (char& c : sender)
        c = c == '.' ? '_' : c;
    return std::string(kPortalObjectPath) + "/request/" + sender + "/" + token;
}

GVariant* PortalFilters(const std::vector<LFileDialog::Filter>& filters)
{
    GVariantBuilder list;
    g_variant_builder_init(&list, Type("a(sa(us))"));
    for (const LFileDialog::Filter& filter : filters) {
        GVariantBuilder patterns;
        g_variant_builder_init(&patterns, Type("a(us)"));
        for (const std::string& pattern : filter.mPatterns)
            g_variant_builder_add(&patterns, "(us)", 0u, pattern.c_str()); // 0: a glob pattern
        g_variant_builder_add(&list, "(s@a(us))", filter.mDescription.c_str(), g_variant_builder_end(&patterns));
    }
    return g_variant_builder_end(&list);
}

} // namespace

const char* ToString(LFileDialog::Backend backend) noexcept
{
    switch (backend) {
    case LFileDialog::Backend::None: return "None";
    case LFileDialog::Backend::Portal: return "Portal";
    case LFileDialog::Backend::Zenity: return "Zenity";
    }
    return "invalid LFileDialog::Backend";
}

const char* ToString(IFileChooser::Outcome outcome) noexcept
{
    switch (outcome) {
    case IFileChooser::Outcome::Chosen: return "Chosen";
    case IFileChooser::Outcome::Cancelled: return "Cancelled";
    case IFileChooser::Outcome::Unavailable: return "Unavailable";
    }
    return "invalid IFileChooser::Outcome";
}

std::vector<LFileDialog::Filter> LFileDialog::ParseFilter(const WString& filterText)
{
    std::vector<std::string> parts;
    const std::string text = filterText.ToUTF8();
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        parts.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    std::vector<Filter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        Filter filter;
        filter.mDescription = Trim(parts[i]);
        std::size_t from = 0;
        const std::string& patterns = parts[i + 1];
        for (;;) {
            const std::size_t semicolon = patterns.find(';', from);
            std::string pattern = Trim(std::string_view(patterns).substr(
                from, semicolon == std::string::npos ? std::string::npos : semicolon - from));
            if (pattern == "*.*")
                pattern = "*";
            if (!pattern.empty())
                filter.mPatterns.push_back(std::move(pattern));
            if (semicolon == std::string::npos)
                break;
            from = semicolon + 1;
        }
        if (!filter.mPatterns.empty())
            filters.push_back(std::move(filter));
    }
    return filters;
}

IFileChooser::Outcome LFileDialog::ChooseFileToOpen(const Request& request, WString& path)
{
    const std::vector<Filter> filters = ParseFilter(request.mFilter);
    std::string chosen;
    mLastBackend = Backend::None;
    Attempt attempt = Attempt::Unavailable;
    if (mPortalEnabled) {
        attempt = TryPortal(request, filters, chosen);
        if (attempt != Attempt::Unavailable)
            mLastBackend = Backend::Portal;
    }
    if (attempt == Attempt::Unavailable) {
        attempt = TryZenity(request, filters, chosen);
        if (attempt != Attempt::Unavailable)
            mLastBackend = Backend::Zenity;
    }
    if (attempt == Attempt::Unavailable) {
        DebugLine("File dialog: no file chooser is available (neither the desktop portal nor zenity); "
                  "nothing was selected");
        return Outcome::Unavailable;
    }
    if (attempt == Attempt::Cancelled || chosen.empty())
        return Outcome::Cancelled;
    path = WString(chosen.c_str());
    return Outcome::Chosen;
}

LFileDialog::Attempt LFileDialog::TryPortal(const Request& request, const std::vector<Filter>& filters,
                                            std::string& path)
{
    ErrorHolder error;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error.mError);
    if (!connection) {
        CDebugLine() << "File dialog: no session bus for the desktop portal (" << error.Message() << ")";
        return Attempt::Unavailable;
    }
    // The signal is delivered in this context, which only this call iterates.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    PortalWait wait;
    wait.mLoop = g_main_loop_new(context, FALSE);

    static std::atomic<unsigned> counter{0};
    const std::string token = "zt_file_dialog_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::string requestPath = RequestPath(connection, token);
    // Subscribed before the call, so a quick answer is not lost.
    guint subscription = g_dbus_connection_signal_subscribe(
        connection, kPortalBusName, kRequestInterface, "Response", requestPath.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE, &OnPortalResponse, &wait, nullptr);

    GVariantBuilder options;
    g_variant_builder_init(&options, Type("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
    if (!filters.empty())
        g_variant_builder_add(&options, "{sv}", "filters", PortalFilters(filters));
    const std::string title = request.mTitle.ToUTF8();
    GVariant* reply = g_dbus_connection_call_sync(
        connection, kPortalBusName, kPortalObjectPath, kFileChooserInterface, "OpenFile",
        g_variant_new("(ssa{sv})", "", title.c_str(), &options), Type("(o)"), G_DBUS_CALL_FLAGS_NONE,
        kPortalCallTimeoutMs, nullptr, &error.mError);

    Attempt result = Attempt::Unavailable;
    if (!reply) {
        CDebugLine() << "File dialog: the desktop portal's file chooser is not available (" << error.Message() << ")";
    } else {
        // An older portal answers with a path of its own choosing.
        const gchar* handle = nullptr;
        g_variant_get(reply, "(&o)", &handle);
        if (handle && requestPath != handle) {
            g_dbus_connection_signal_unsubscribe(connection, subscription);
            subscription = g_dbus_connection_signal_subscribe(connection, kPortalBusName, kRequestInterface,
                                                              "Response", handle, nullptr,
                                                              G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE, &OnPortalResponse,
                                                              &wait, nullptr);
        }
        g_variant_unref(reply);
        if (!wait.mAnswered)
            g_main_loop_run(wait.mLoop);
        if (wait.mResponse == 0 && !wait.mUri.empty()) {
            gchar* file = g_filename_from_uri(wait.mUri.c_str(), nullptr, nullptr);
            if (file) {
                path = file;
                g_free(file);
                result = Attempt::Chosen;
            } else {
                CDebugLine() << "File dialog: the portal chose " << wait.mUri << ", which is not a local file";
                result = Attempt::Cancelled;
            }
        } else {
            result = Attempt::Cancelled;
        }
    }
    g_dbus_connection_signal_unsubscribe(connection, subscription);
    g_main_loop_unref(wait.mLoop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_object_unref(connection);
    return result;
}

LFileDialog::Attempt LFileDialog::TryZenity(const Request& request, const std::vector<Filter>& filters,
                                            std::string& path)
{
    std::vector<std::string> arguments = {"zenity", "--file-selection", "--title=" + request.mTitle.ToUTF8()};
    for (const Filter& filter : filters) {
        std::string argument = "--file-filter=" + filter.mDescription + " |";
        for (const std::string& pattern : filter.mPatterns)
            argument += " " + pattern;
        arguments.push_back(std::move(argument));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        CDebugLine() << "File dialog: cannot make a pipe for zenity (" << std::strerror(errno) << ")";
        return Attempt::Unavailable;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "zenity", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        CDebugLine() << "File dialog: zenity cannot be started (" << std::strerror(spawned) << ")";
        return Attempt::Unavailable;
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(pipeEnds[0], buffer, sizeof buffer);
        if (count > 0) {
            output.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        break;
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) {
        DebugLine("File dialog: zenity ended without an exit status");
        return Attempt::Unavailable;
    }
    const int exitStatus = WEXITSTATUS(status);
    if (exitStatus == kZenityCancelled)
        return Attempt::Cancelled;
    if (exitStatus != 0) {
        // 127: found but cannot run (no display, a missing library): as if it were not there.
        CDebugLine() << "File dialog: zenity failed with exit status " << exitStatus;
        return Attempt::Unavailable;
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    // One file was asked for; a chooser that gives several separates them with "|".
    if (const std::size_t bar = output.find('|'); bar != std::string::npos)
        output.erase(bar);
    if (output.empty())
        return Attempt::Cancelled;
    path = output;
    return Attempt::Chosen;
}

} // namespace ZT
