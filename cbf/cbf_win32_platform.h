// CbfPlatform on Win32: the installed file held through one exclusive
// CreateFile open for the whole walk, its times read and set through it,
// data moved with ReadFile and WriteFile at a place, GlobalAlloc'd
// zero-filled blocks.
#pragma once

#include "cbf/cbf_walks.h"

namespace setupsup {

class Win32CbfPlatform : public CbfPlatform {
public:
    FileTimesResult OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times) override;
    bool OpenSource(const char* path, CbfFile target, CbfFile* file) override;
    FileTimesResult OpenTarget(const wchar_t* path, CbfFile* file, CbfFileTimes* times) override;
    bool OpenSource(const wchar_t* path, CbfFile target, CbfFile* file) override;
    bool SetTimes(CbfFile file, const CbfFileTimes& times) override;
    void Close(CbfFile file) override;
    CbfIoResult ReadAt(CbfFile file, uint64_t offset, void* buffer, size_t bytes, size_t* got) override;
    CbfIoResult WriteAt(CbfFile file, uint64_t offset, const void* buffer, size_t bytes) override;
    bool Length(CbfFile file, uint64_t* length) override;
    bool SetLength(CbfFile file, uint64_t length) override;
    void* AllocZeroed(size_t bytes) override;
    void Free(void* block) override;
};

} // namespace setupsup
