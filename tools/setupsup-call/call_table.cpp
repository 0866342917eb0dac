// The export table as setupsup-call knows it: every export's name and the
// names of its arguments, in the order of the DLL's export table.
#include "tools/setupsup-call/call_table.h"

#include <cctype>

namespace setupsup_call {

namespace {

constexpr ExportSignature kExports[] = {
    Entry<PFN_MergeCbf>("MergeCbf", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_MergeCbfW>("MergeCbfW", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_PruneCbf>("PruneCbf", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_PruneCbfW>("PruneCbfW", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_TruncateCbf>("TruncateCbf", {{"targetPath", 0}}),
    Entry<PFN_TruncateCbfW>("TruncateCbfW", {{"targetPath", 0}}),
    Entry<PFN_AddFont>("AddFont", {{"fontPath", 0}}),
    Entry<PFN_AddFontW>("AddFontW", {{"fontPath", 0}}),
    Entry<PFN_RemoveFont>("RemoveFont", {{"fontPath", 0}}),
    Entry<PFN_RemoveFontW>("RemoveFontW", {{"fontPath", 0}}),
    Entry<PFN_GooseFont>("GooseFont", {{"fontPath", 0}}),
    Entry<PFN_GooseFontW>("GooseFontW", {{"fontPath", 0}}),
    Entry<PFN_ShellExecuteSimple>("ShellExecuteSimple",
                                  {{"file", 0}, {"parameters", 0}, {"directory", 0}, {"showCommand", 0}}),
    Entry<PFN_ShellExecuteSimpleW>("ShellExecuteSimpleW",
                                   {{"file", 0}, {"parameters", 0}, {"directory", 0}, {"showCommand", 0}}),
    Entry<PFN_GetSystemFont>("GetSystemFont", {{"faceName", SETUPSUP_FACE_NAME_SIZE}}),
    Entry<PFN_GetSystemFontW>("GetSystemFontW", {{"faceName", SETUPSUP_FACE_NAME_SIZE}}),
    Entry<PFN_GetSystemFixedFont>("GetSystemFixedFont", {{"faceName", SETUPSUP_FACE_NAME_SIZE}}),
    Entry<PFN_GetSystemFixedFontW>("GetSystemFixedFontW", {{"faceName", SETUPSUP_FACE_NAME_SIZE}}),
    Entry<PFN_GetSystemCharset>("GetSystemCharset", {}),
    Entry<PFN_GetFontName>("GetFontName", {{"path", 0}, {"out", kMaxTextOutChars}, {"room", 0}}),
    Entry<PFN_GetFontNameW>("GetFontNameW", {{"path", 0}, {"out", kMaxTextOutChars}, {"room", 0}}),
    Entry<PFN_GetPhysRAM>("GetPhysRAM", {}),
    Entry<PFN_GetVirtRAM>("GetVirtRAM", {}),
    Entry<PFN_FormatDate>("FormatDate", {{"year", 0}, {"month", 0}, {"day", 0}, {"date", SETUPSUP_DATE_SIZE}}),
    Entry<PFN_FormatDateW>("FormatDateW", {{"year", 0}, {"month", 0}, {"day", 0}, {"date", SETUPSUP_DATE_SIZE}}),
    Entry<PFN_QueryTerminalServer>("QueryTerminalServer", {}),
    Entry<PFN_GetHostIPAddr>("GetHostIPAddr", {{"address", SETUPSUP_ADDRESS_SIZE}}),
    Entry<PFN_GetHostIPAddrW>("GetHostIPAddrW", {{"address", SETUPSUP_ADDRESS_SIZE}}),
    Entry<PFN_CopyKey>("CopyKey", {{"sourceRoot", 0}, {"sourcePath", 0}, {"targetRoot", 0}, {"targetPath", 0}}),
    Entry<PFN_CopyKeyW>("CopyKeyW", {{"sourceRoot", 0}, {"sourcePath", 0}, {"targetRoot", 0}, {"targetPath", 0}}),
    Entry<PFN_UnregisterZORBApps>("UnregisterZORBApps", {{"startPath", 0}}),
    Entry<PFN_UnregisterZORBAppsW>("UnregisterZORBAppsW", {{"startPath", 0}}),
    Entry<PFN_SelfRegisterFile>("SelfRegisterFile", {{"path", 0}}),
    Entry<PFN_SelfRegisterFileW>("SelfRegisterFileW", {{"path", 0}}),
    Entry<PFN_SelfUnregisterFile>("SelfUnregisterFile", {{"path", 0}}),
    Entry<PFN_SelfUnregisterFileW>("SelfUnregisterFileW", {{"path", 0}}),
    Entry<PFN_SelfRegisterFileForUser>("SelfRegisterFileForUser", {{"path", 0}}),
    Entry<PFN_SelfRegisterFileForUserW>("SelfRegisterFileForUserW", {{"path", 0}}),
    Entry<PFN_SelfUnregisterFileForUser>("SelfUnregisterFileForUser", {{"path", 0}}),
    Entry<PFN_SelfUnregisterFileForUserW>("SelfUnregisterFileForUserW", {{"path", 0}}),
    Entry<PFN_GetFileRefCount>("GetFileRefCount", {{"fileName", 0}}),
    Entry<PFN_GetFileRefCountW>("GetFileRefCountW", {{"fileName", 0}}),
    Entry<PFN_SetFileRefCount>("SetFileRefCount", {{"fileName", 0}, {"count", 0}}),
    Entry<PFN_SetFileRefCountW>("SetFileRefCountW", {{"fileName", 0}, {"count", 0}}),
    Entry<PFN_UnsplitFile>("UnsplitFile", {{"targetPath", 0}, {"piecePath", 0}}),
    Entry<PFN_UnsplitFileW>("UnsplitFileW", {{"targetPath", 0}, {"piecePath", 0}}),
    Entry<PFN_MatchFileDate>("MatchFileDate", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_MatchFileDateW>("MatchFileDateW", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_GetFileLanguage>(
        "GetFileLanguage",
        {{"path", 0}, {"lowByte", 0}, {"highByte", 0}, {"languageName", SETUPSUP_LANGUAGE_NAME_SIZE}}),
    Entry<PFN_GetFileLanguageW>(
        "GetFileLanguageW",
        {{"path", 0}, {"lowByte", 0}, {"highByte", 0}, {"languageName", SETUPSUP_LANGUAGE_NAME_SIZE}}),
    Entry<PFN_IsZORBRunning>("IsZORBRunning", {}),
    Entry<PFN_IsZORBAppRunning>("IsZORBAppRunning", {{"exeName", 0}}),
    Entry<PFN_IsZORBAppRunningW>("IsZORBAppRunningW", {{"exeName", 0}}),
    Entry<PFN_CountProcesses>("CountProcesses", {{"image", 0}, {"scope", 0}}),
    Entry<PFN_CountProcessesW>("CountProcessesW", {{"image", 0}, {"scope", 0}}),
    Entry<PFN_CloseProcesses>("CloseProcesses", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_CloseProcessesW>("CloseProcessesW", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_TerminateProcesses>("TerminateProcesses", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_TerminateProcessesW>("TerminateProcessesW", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_WaitForProcesses>("WaitForProcesses", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_WaitForProcessesW>("WaitForProcessesW", {{"image", 0}, {"scope", 0}, {"timeoutMs", 0}}),
    Entry<PFN_FindFileUsers>("FindFileUsers", {{"path", 0}, {"out", kMaxTextOutChars}, {"room", 0}}),
    Entry<PFN_FindFileUsersW>("FindFileUsersW", {{"path", 0}, {"out", kMaxTextOutChars}, {"room", 0}}),
    Entry<PFN_DeleteInUseFile>("DeleteInUseFile", {{"path", 0}}),
    Entry<PFN_DeleteInUseFileW>("DeleteInUseFileW", {{"path", 0}}),
    Entry<PFN_ReplaceInUseFile>("ReplaceInUseFile", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_ReplaceInUseFileW>("ReplaceInUseFileW", {{"sourcePath", 0}, {"targetPath", 0}}),
    Entry<PFN_IsRebootPending>("IsRebootPending", {}),
    Entry<PFN_InstallFont>("InstallFont", {{"path", 0}, {"scope", 0}}),
    Entry<PFN_InstallFontW>("InstallFontW", {{"path", 0}, {"scope", 0}}),
    Entry<PFN_UninstallFont>("UninstallFont", {{"path", 0}, {"scope", 0}}),
    Entry<PFN_UninstallFontW>("UninstallFontW", {{"path", 0}, {"scope", 0}}),
    Entry<PFN_AddToPath>("AddToPath", {{"folder", 0}, {"scope", 0}, {"where", 0}}),
    Entry<PFN_AddToPathW>("AddToPathW", {{"folder", 0}, {"scope", 0}, {"where", 0}}),
    Entry<PFN_RemoveFromPath>("RemoveFromPath", {{"folder", 0}, {"scope", 0}}),
    Entry<PFN_RemoveFromPathW>("RemoveFromPathW", {{"folder", 0}, {"scope", 0}}),
    Entry<PFN_SetEnvironmentValue>("SetEnvironmentValue", {{"name", 0}, {"value", 0}, {"scope", 0}}),
    Entry<PFN_SetEnvironmentValueW>("SetEnvironmentValueW", {{"name", 0}, {"value", 0}, {"scope", 0}}),
    Entry<PFN_DeleteEnvironmentValue>("DeleteEnvironmentValue", {{"name", 0}, {"scope", 0}}),
    Entry<PFN_DeleteEnvironmentValueW>("DeleteEnvironmentValueW", {{"name", 0}, {"scope", 0}}),
};

// ASCII comparison without regard to case (export names are ASCII).
bool SameName(const char* a, const wchar_t* b)
{
    for (; *a && *b; ++a, ++b) {
        if (*b > 0x7F || std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == '\0' && *b == L'\0';
}

} // namespace

size_t ExportSignature::InputCount() const
{
    size_t inputs = 0;
    for (const Param& param : Params())
        inputs += IsInput(param.kind) ? 1 : 0;
    return inputs;
}

std::span<const ExportSignature> Exports() { return kExports; }

const ExportSignature* FindExport(const wchar_t* name)
{
    for (const ExportSignature& entry : kExports) {
        if (SameName(entry.name, name))
            return &entry;
    }
    return nullptr;
}

} // namespace setupsup_call
