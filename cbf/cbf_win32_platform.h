// CbfPlatform on Win32: the exclusive CreateFileA opens that guard the time
// stamps, GlobalAlloc'd zero-filled blocks, and cutting a stream's file.
#ifndef CBF_WIN32_PLATFORM_H
#define CBF_WIN32_PLATFORM_H

#include "cbf_walks.h"

class Win32CbfPlatform : public CbfPlatform {
public:
    int CaptureTimes(const char* path, CbfFileTimes* times) override;
    int RestoreTimes(const char* path, const CbfFileTimes& times) override;
    void* AllocZeroed(size_t bytes) override;
    void Free(void* block) override;
    bool SetStreamLength(FILE* stream, uint64_t length) override;
};

#endif // CBF_WIN32_PLATFORM_H
