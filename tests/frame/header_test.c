/*
 * setupsup.h as a C89 caller sees it (built with -std=c90 -pedantic-errors
 * -Werror): every PFN_ type must take its export's address without a cast,
 * and the program links against the MinGW import library by the decorated
 * names. (The library itself takes its codes from the header.)
 * header_check.cpp makes the same checks for C++.
 */
#include <stdio.h>
#include <string.h>

#include "setupsup.h"

static int failures = 0;

static void Check(int ok, const char* what)
{
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

/* Each assignment is an error under -pedantic-errors if a PFN_ type and its
 * declaration disagree. The addresses come from the import library. */
static int TypedefsTakeEveryExport(void)
{
    PFN_MergeCbf mergeCbf = MergeCbf;
    PFN_PruneCbf pruneCbf = PruneCbf;
    PFN_TruncateCbf truncateCbf = TruncateCbf;
    PFN_AddFont addFont = AddFont;
    PFN_RemoveFont removeFont = RemoveFont;
    PFN_GooseFont gooseFont = GooseFont;
    PFN_ShellExecuteSimple shellExecuteSimple = ShellExecuteSimple;
    PFN_GetSystemFont getSystemFont = GetSystemFont;
    PFN_GetSystemFixedFont getSystemFixedFont = GetSystemFixedFont;
    PFN_GetSystemCharset getSystemCharset = GetSystemCharset;
    PFN_GetFontName getFontName = GetFontName;
    PFN_GetPhysRAM getPhysRAM = GetPhysRAM;
    PFN_GetVirtRAM getVirtRAM = GetVirtRAM;
    PFN_FormatDate formatDate = FormatDate;
    PFN_QueryTerminalServer queryTerminalServer = QueryTerminalServer;
    PFN_GetHostIPAddr getHostIPAddr = GetHostIPAddr;
    PFN_CopyKey copyKey = CopyKey;
    PFN_UnregisterZORBApps unregisterZORBApps = UnregisterZORBApps;
    PFN_SelfRegisterFile selfRegisterFile = SelfRegisterFile;
    PFN_SelfUnregisterFile selfUnregisterFile = SelfUnregisterFile;
    PFN_SelfRegisterFileForUser selfRegisterFileForUser = SelfRegisterFileForUser;
    PFN_SelfUnregisterFileForUser selfUnregisterFileForUser = SelfUnregisterFileForUser;
    PFN_GetFileRefCount getFileRefCount = GetFileRefCount;
    PFN_SetFileRefCount setFileRefCount = SetFileRefCount;
    PFN_UnsplitFile unsplitFile = UnsplitFile;
    PFN_MatchFileDate matchFileDate = MatchFileDate;
    PFN_GetFileLanguage getFileLanguage = GetFileLanguage;
    PFN_IsZORBRunning isZORBRunning = IsZORBRunning;
    PFN_IsZORBAppRunning isZORBAppRunning = IsZORBAppRunning;
    PFN_CountProcesses countProcesses = CountProcesses;
    PFN_CloseProcesses closeProcesses = CloseProcesses;
    PFN_TerminateProcesses terminateProcesses = TerminateProcesses;
    PFN_WaitForProcesses waitForProcesses = WaitForProcesses;
    PFN_FindFileUsers findFileUsers = FindFileUsers;
    PFN_DeleteInUseFile deleteInUseFile = DeleteInUseFile;
    PFN_ReplaceInUseFile replaceInUseFile = ReplaceInUseFile;
    PFN_IsRebootPending isRebootPending = IsRebootPending;
    PFN_InstallFont installFont = InstallFont;
    PFN_UninstallFont uninstallFont = UninstallFont;
    PFN_AddToPath addToPath = AddToPath;
    PFN_RemoveFromPath removeFromPath = RemoveFromPath;
    PFN_SetEnvironmentValue setEnvironmentValue = SetEnvironmentValue;
    PFN_DeleteEnvironmentValue deleteEnvironmentValue = DeleteEnvironmentValue;
    return mergeCbf && pruneCbf && truncateCbf && addFont && removeFont && gooseFont && shellExecuteSimple &&
           getSystemFont && getSystemFixedFont && getSystemCharset && getFontName && getPhysRAM && getVirtRAM &&
           formatDate && queryTerminalServer && getHostIPAddr && copyKey && unregisterZORBApps && selfRegisterFile &&
           selfUnregisterFile && selfRegisterFileForUser && selfUnregisterFileForUser && getFileRefCount &&
           setFileRefCount && unsplitFile && matchFileDate && getFileLanguage && isZORBRunning && isZORBAppRunning &&
           countProcesses && closeProcesses && terminateProcesses && waitForProcesses && findFileUsers &&
           deleteInUseFile && replaceInUseFile && isRebootPending && installFont && uninstallFont && addToPath &&
           removeFromPath && setEnvironmentValue && deleteEnvironmentValue;
}

int HeaderCheckCxx(void); /* header_check.cpp */

int main(void)
{
    char date[SETUPSUP_DATE_SIZE];
    HMODULE dll = GetModuleHandleA("setupsup.dll");
    /* Through void (*)(void): FARPROC returns INT_PTR, which differs from the
       export's int on x64. */
    PFN_FormatDate formatDate = (PFN_FormatDate)(void (*)(void))GetProcAddress(dll, "FormatDate");

    Check(TypedefsTakeEveryExport(), "every export linked through the import library");
    Check(formatDate != NULL, "FormatDate found by its undecorated name");
    Check(formatDate != NULL && formatDate(2001, 12, 31, date) == (int)strlen(date) + 1,
          "FormatDate through PFN_FormatDate");
    Check(FormatDate(2001, 12, 31, date) == (int)strlen(date) + 1, "FormatDate through the import library");
    Check(HeaderCheckCxx(), "the C++ view of the header");
    printf("%s\n", failures ? "header test failed" : "header test passed");
    return failures ? 1 : 0;
}
