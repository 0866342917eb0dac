// System DLLs the library loads at run time and keeps for the life of the
// process (the process-status library, Windows Sockets, version information).
// Each is loaded by its full path in the system folder, never by its bare
// name: for a DLL that is not one of the system's known DLLs, a bare name is
// looked for first beside the program that runs, which for an installer is
// often a Downloads folder holding whatever else was downloaded. Several threads may
// ask for one at the same moment: the module handle is published with an
// interlocked compare-exchange, so a caller racing the first load either
// sees the published handle whole or loads the module itself and gives back
// only its own extra reference. Nothing is ever unloaded under a caller.
#pragma once

#include <windows.h>

#include <atomic>

namespace setupsup {

class KeptLibrary {
public:
    // fileName: the DLL's file name in the system folder; it must outlive
    // the object (a literal).
    constexpr explicit KeptLibrary(const char* fileName) noexcept : fileName_(fileName) {}
    KeptLibrary(const KeptLibrary&) = delete;
    KeptLibrary& operator=(const KeptLibrary&) = delete;

    // The module, loaded from the system folder by the first call that needs
    // it and never freed; null while it cannot be loaded (a later call tries
    // again).
    HMODULE Get() noexcept;

private:
    const char* fileName_;
    // Lock-free for a pointer: the compare-exchange is the processor's
    // interlocked one (what InterlockedCompareExchange does on Windows 98
    // and NT 4.0), inline, importing nothing.
    std::atomic<HMODULE> module_{nullptr};
};

} // namespace setupsup
