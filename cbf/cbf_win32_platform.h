// CbfPlatform on Win32: the exclusive CreateFileA opens that guard the time
// stamps, GlobalAlloc'd zero-filled blocks, and cutting a stream's file.
#pragma once

#include "cbf/cbf_walks.h"

namespace setupsup {

class Win32CbfPlatform : public CbfPlatform {
public:
    FileTimesResult CaptureTimes(const char* path, CbfFileTimes* times) override;
    FileTimesResult RestoreTimes(const char* path, const CbfFileTimes& times) override;
    FileTimesResult CaptureTimes(const wchar_t* path, CbfFileTimes* times) override;
    FileTimesResult RestoreTimes(const wchar_t* path, const CbfFileTimes& times) override;
    void* AllocZeroed(size_t bytes) override;
    void Free(void* block) override;
    bool SetStreamLength(FILE* stream, uint64_t length) override;
};

} // namespace setupsup
