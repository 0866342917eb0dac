// CbfPlatform on POSIX systems, for native builds of the tool and tests.
#pragma once

#include "cbf/cbf_walks.h"

namespace setupsup {

// What POSIX cannot do that the walks ask for:
//  - There are no share modes. An "exclusive" open here is an open plus a
//    non-blocking advisory lock (flock), held until the walk closes the
//    file: it fails only when another process holds such a lock, not merely
//    because the file is open elsewhere.
//  - A creation time can be neither read portably nor set. The creation
//    slot is filled with the last status-change time, so that it is a
//    defined value, and is never written back.
// Last access and last write are kept to the 100 ns of a FILETIME.
class PosixCbfPlatform : public CbfPlatform {
public:
    FileTimesResult OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times) override;
    bool OpenSource(const char* path, CbfFile target, CbfFile* file) override;
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
