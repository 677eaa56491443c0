#include "ZTFramework/Midi/Alsa/AlsaLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace ZT {

std::unique_ptr<AlsaLibrary> LoadAlsaLibraryFrom(const char* file, std::string& error)
{
    // RTLD_LOCAL: alsa-lib's symbols serve us through the table only, and its plug-ins, which
    // it loads itself, find it through their own dependencies.
    void* const handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* const why = ::dlerror();
        error = std::string(file) + " cannot be loaded: " + (why ? why : "no reason given");
        return nullptr;
    }
    auto library = std::make_unique<AlsaLibrary>();
    const char* missing = nullptr;
#define ZT_ALSA_ENTRY_LOAD(name)                                                                         \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                         \
    if (!library->name && !missing)                                                                      \
        missing = #name;
    ZT_ALSA_ENTRIES(ZT_ALSA_ENTRY_LOAD)
#undef ZT_ALSA_ENTRY_LOAD
    if (missing) {
        error = std::string(file) + " has no " + missing;
        ::dlclose(handle);
        return nullptr;
    }
    return library;
}

const AlsaLibrary* LoadAlsaLibrary(std::string& error)
{
    // Never freed: a sequencer held by an object that outlives main (a backend kept in a static)
    // still closes itself through the table while the process exits, after this function's
    // statics would have been destroyed.
    static std::once_flag once;
    static const AlsaLibrary* library = nullptr;
    static std::string* loadError = new std::string;
    std::call_once(once, [] { library = LoadAlsaLibraryFrom(kAlsaLibraryFile, *loadError).release(); });
    if (!library)
        error = *loadError;
    return library;
}

} // namespace ZT
