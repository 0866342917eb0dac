// setupsup.h as a C++ caller sees it (built with -pedantic-errors -Werror):
// every PFN_ type is exactly the type of its export's address.
#include <type_traits>

#include "setupsup.h"

#define SETUPSUP_SAME_TYPE(name) \
    static_assert(std::is_same_v<PFN_##name, decltype(&::name)>, "PFN_" #name " differs from " #name);
SETUPSUP_SAME_TYPE(MergeCbf)
SETUPSUP_SAME_TYPE(PruneCbf)
SETUPSUP_SAME_TYPE(TruncateCbf)
SETUPSUP_SAME_TYPE(AddFont)
SETUPSUP_SAME_TYPE(RemoveFont)
SETUPSUP_SAME_TYPE(GooseFont)
SETUPSUP_SAME_TYPE(ShellExecuteSimple)
SETUPSUP_SAME_TYPE(GetSystemFont)
SETUPSUP_SAME_TYPE(GetSystemFixedFont)
SETUPSUP_SAME_TYPE(GetSystemCharset)
SETUPSUP_SAME_TYPE(GetFontName)
SETUPSUP_SAME_TYPE(GetPhysRAM)
SETUPSUP_SAME_TYPE(GetVirtRAM)
SETUPSUP_SAME_TYPE(FormatDate)
SETUPSUP_SAME_TYPE(QueryTerminalServer)
SETUPSUP_SAME_TYPE(GetHostIPAddr)
SETUPSUP_SAME_TYPE(CopyKey)
SETUPSUP_SAME_TYPE(UnregisterZORBApps)
SETUPSUP_SAME_TYPE(SelfRegisterFile)
SETUPSUP_SAME_TYPE(SelfUnregisterFile)
SETUPSUP_SAME_TYPE(SelfRegisterFileForUser)
SETUPSUP_SAME_TYPE(SelfUnregisterFileForUser)
SETUPSUP_SAME_TYPE(GetFileRefCount)
SETUPSUP_SAME_TYPE(SetFileRefCount)
SETUPSUP_SAME_TYPE(UnsplitFile)
SETUPSUP_SAME_TYPE(MatchFileDate)
SETUPSUP_SAME_TYPE(GetFileLanguage)
SETUPSUP_SAME_TYPE(IsZORBRunning)
SETUPSUP_SAME_TYPE(IsZORBAppRunning)
SETUPSUP_SAME_TYPE(CountProcesses)
SETUPSUP_SAME_TYPE(CloseProcesses)
SETUPSUP_SAME_TYPE(TerminateProcesses)
SETUPSUP_SAME_TYPE(WaitForProcesses)
SETUPSUP_SAME_TYPE(FindFileUsers)
SETUPSUP_SAME_TYPE(DeleteInUseFile)
SETUPSUP_SAME_TYPE(DeleteInUseFileW)
SETUPSUP_SAME_TYPE(ReplaceInUseFile)
SETUPSUP_SAME_TYPE(ReplaceInUseFileW)
SETUPSUP_SAME_TYPE(IsRebootPending)
SETUPSUP_SAME_TYPE(InstallFont)
SETUPSUP_SAME_TYPE(InstallFontW)
SETUPSUP_SAME_TYPE(UninstallFont)
SETUPSUP_SAME_TYPE(UninstallFontW)
SETUPSUP_SAME_TYPE(AddToPath)
SETUPSUP_SAME_TYPE(AddToPathW)
SETUPSUP_SAME_TYPE(RemoveFromPath)
SETUPSUP_SAME_TYPE(RemoveFromPathW)
SETUPSUP_SAME_TYPE(SetEnvironmentValue)
SETUPSUP_SAME_TYPE(SetEnvironmentValueW)
SETUPSUP_SAME_TYPE(DeleteEnvironmentValue)
SETUPSUP_SAME_TYPE(DeleteEnvironmentValueW)

// Called from the C89 test program: a C++ call through the import library.
extern "C" int HeaderCheckCxx(void)
{
    char address[SETUPSUP_ADDRESS_SIZE];
    int result = GetHostIPAddr(address);
    return result == SETUPSUP_HOST_OK || result == SETUPSUP_HOST_UNKNOWN || result == SETUPSUP_HOST_NO_SOCKETS;
}
