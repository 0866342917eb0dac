// MatchFileDate: gives one file the three times of another, role for role,
// both opened exclusively so that no other opener has either file open while
// the times are taken and set.
#include <windows.h>

#include "frame/file_times.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
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

// Gives targetPath the three times of sourcePath. A null path names no file:
// the open it stands for fails, in step order (a null target counts only
// once the source has opened); on the Windows 95 family a W name without an
// exact ANSI form comes here as null.
template <typename Char>
int MatchTimes(const Char* sourcePath, const Char* targetPath)
{
    if (!sourcePath)
        return kSourceNotOpened;
    unique_hfile source = OpenExclusive(sourcePath, GENERIC_READ);
    if (!source)
        return kSourceNotOpened;
    if (!targetPath)
        return kTargetNotOpened;
    unique_hfile target = OpenExclusive(targetPath, GENERIC_READ | GENERIC_WRITE);
    if (!target)
        return kTargetNotOpened;
    FileTimeSet times;
    if (!ReadFileTimes(source.get(), &times))
        return kTimesUnreadable;
    if (!WriteFileTimes(target.get(), times))
        return kTimesNotSet;
    return kOk;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI MatchFileDate(const char* sourcePath, const char* targetPath)
{
    return setupsup::MatchTimes(sourcePath, targetPath);
}

// On the Windows 95 family a path without an exact ANSI form names no file,
// as a null path: the open it stands for fails, in step order.
extern "C" int WINAPI MatchFileDateW(const wchar_t* sourcePath, const wchar_t* targetPath)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... paths) { return setupsup::MatchTimes(paths...); }, sourcePath, targetPath);
}
