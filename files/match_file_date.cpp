// MatchFileDate: gives one file the three times of another, role for role,
// both opened exclusively so that no other opener has either file open while
// the times are taken and set.
#include <windows.h>

#include "frame/file_times.h"
#include "frame/unique_handles.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes of MatchFileDate, as setupsup.h names them, in the order of
// the steps that give them.
constexpr int kOk = SETUPSUP_FILE_OK;
constexpr int kSourceNotOpened = SETUPSUP_FILE_NOT_OPENED;
constexpr int kTargetNotOpened = SETUPSUP_FILE_TARGET_NOT_OPENED;
constexpr int kTimesUnreadable = SETUPSUP_FILE_TIMES_UNREADABLE;
constexpr int kTimesNotSet = SETUPSUP_FILE_TIMES_NOT_SET;

} // namespace
} // namespace setupsup

// A null path names no file: the open it stands for fails, in step order
// (a null target counts only once the source has opened).
extern "C" int WINAPI MatchFileDate(const char* sourcePath, const char* targetPath)
{
    if (!sourcePath)
        return setupsup::kSourceNotOpened;
    setupsup::unique_hfile source = setupsup::OpenExclusive(sourcePath, GENERIC_READ);
    if (!source)
        return setupsup::kSourceNotOpened;
    if (!targetPath)
        return setupsup::kTargetNotOpened;
    setupsup::unique_hfile target = setupsup::OpenExclusive(targetPath, GENERIC_READ | GENERIC_WRITE);
    if (!target)
        return setupsup::kTargetNotOpened;
    setupsup::FileTimeSet times;
    if (!setupsup::ReadFileTimes(source.get(), &times))
        return setupsup::kTimesUnreadable;
    if (!setupsup::WriteFileTimes(target.get(), times))
        return setupsup::kTimesNotSet;
    return setupsup::kOk;
}
