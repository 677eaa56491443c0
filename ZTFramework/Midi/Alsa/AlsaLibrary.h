#pragma once
// alsa-lib, loaded with dlopen when the first sequencer is opened rather than by the loader at
// every start: a query run, which sends no MIDI, then spends nothing on the library's loading and
// relocation. The entries keep alsa-lib's own names and types (taken from its header), so code
// reads as a direct call: `alsa.snd_seq_open(...)`.
//
// The library stays loaded for the life of the process once loaded. A machine without alsa-lib
// gets no table and a reason to show, never a failed start.
//
// Threads: LoadAlsaLibrary may be called from any thread; the first call loads, the others wait
// for it and share its result.

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

namespace ZT {

// Every alsa-lib function the sequencer calls.
#define ZT_ALSA_ENTRIES(X)                                                                               \
    X(snd_lib_error_set_handler)                                                                         \
    X(snd_strerror)                                                                                      \
    X(snd_seq_open)                                                                                      \
    X(snd_seq_close)                                                                                     \
    X(snd_seq_set_client_name)                                                                           \
    X(snd_seq_create_simple_port)                                                                        \
    X(snd_seq_client_id)                                                                                 \
    X(snd_seq_client_info_malloc)                                                                        \
    X(snd_seq_client_info_free)                                                                          \
    X(snd_seq_client_info_set_client)                                                                    \
    X(snd_seq_client_info_get_client)                                                                    \
    X(snd_seq_client_info_get_name)                                                                      \
    X(snd_seq_query_next_client)                                                                         \
    X(snd_seq_port_info_malloc)                                                                          \
    X(snd_seq_port_info_free)                                                                            \
    X(snd_seq_port_info_set_client)                                                                      \
    X(snd_seq_port_info_set_port)                                                                        \
    X(snd_seq_port_info_get_port)                                                                        \
    X(snd_seq_port_info_get_name)                                                                        \
    X(snd_seq_port_info_get_capability)                                                                  \
    X(snd_seq_query_next_port)                                                                           \
    X(snd_seq_event_output)                                                                              \
    X(snd_seq_drain_output)                                                                              \
    X(snd_seq_drop_output)                                                                               \
    X(snd_seq_poll_descriptors_count)                                                                    \
    X(snd_seq_poll_descriptors)                                                                          \
    X(snd_midi_event_new)                                                                                \
    X(snd_midi_event_free)                                                                               \
    X(snd_midi_event_encode)

struct AlsaLibrary {
#define ZT_ALSA_ENTRY_MEMBER(name) decltype(&::name) name = nullptr;
    ZT_ALSA_ENTRIES(ZT_ALSA_ENTRY_MEMBER)
#undef ZT_ALSA_ENTRY_MEMBER
};

// The file the process loads alsa-lib from.
inline constexpr const char* kAlsaLibraryFile = "libasound.so.2";

// The process's alsa-lib, loaded at the first call; null when it cannot be loaded, with the
// reason in error (the same reason on every later call).
[[nodiscard]] const AlsaLibrary* LoadAlsaLibrary(std::string& error);

// Loads the entries from the library file given, on its own (not the process's shared table);
// null with the reason in error: the file that could not be loaded, or the first entry it lacks.
// The library stays loaded.
[[nodiscard]] std::unique_ptr<AlsaLibrary> LoadAlsaLibraryFrom(const char* file, std::string& error);

} // namespace ZT
