/*
setupsup.nsh - calls every export of setupsup.dll from an NSIS script.

  !include "setupsup.nsh"
  Function .onInit
    ${SetupSup::Init}                ; packs setupsup.dll, extracts it to $PLUGINSDIR
    ${SetupSup::IsZORBAppRunning} "zorbapp.exe" $0
  FunctionEnd
  Section
    ${SetupSup::MergeCbf} "$INSTDIR\update.cbf" "$INSTDIR\ZORBDLG.CBF" $0
    ${SetupSup::GetFileLanguage} "$INSTDIR\app.exe" $1 $2 $3 $0
    ${SetupSup::Unload}              ; lets $PLUGINSDIR (and the DLL) be deleted
  SectionEnd

Every export is ${SetupSup::<ExportName>}. Its arguments are the export's
inputs in the export's order, then one variable per output in the export's
order, then the variable that receives the export's 32-bit result, last.
Registry roots are written as NSIS writes them: HKCR, HKCU, HKLM, HKU (or
HKEY_CLASSES_ROOT and the other long names, or a number).

The macros work in the installer and in the uninstaller (call ${SetupSup::Init}
in un.onInit too), and for the x86-unicode, x86-ansi and amd64-unicode targets
with the same calls. In a
Unicode installer (Unicode true) each macro calls the export's W twin with
UTF-16 strings ("w" in System::Call), so a folder, file or key name outside
the system's ANSI code page reaches the DLL intact; in an ANSI installer
(Unicode false) it calls the ANSI export ("m"). The form is chosen where a
macro is used, so "Unicode" may come before or after this include. Exports
without text have one form. Output buffers are System's own, NSIS_MAX_STRLEN
characters, more than any export writes (a face name 32, a date 49, an
address 16, a language name 12). Bad input is passed through to the export,
whose result says what went wrong; NSIS has no null string, so an empty
string is passed where the export takes a null pointer.

The DLL is taken at compile time from the define SETUPSUP_DLL_SOURCE when the
script sets one, else from the release's folder of the target's architecture
beside the script: x64\setupsup.dll for amd64-unicode (an installer loads only
a DLL of its own architecture), x86\setupsup.dll for the x86 targets, or, for
scripts written before the 64-bit DLL, setupsup.dll beside the script.
*/

!ifndef SETUPSUP_NSH_INCLUDED
!define SETUPSUP_NSH_INCLUDED
!verbose push
!verbose 3

!include LogicLib.nsh

!define SETUPSUP_PATH `$PLUGINSDIR\setupsup.dll`

; ---- Loading and unloading --------------------------------------------------

!define SetupSup::Init `!insertmacro SetupSup_Init`
!macro SetupSup_Init
  InitPluginsDir
  !ifdef SETUPSUP_DLL_SOURCE
    File `/oname=${SETUPSUP_PATH}` `${SETUPSUP_DLL_SOURCE}`
  !else if ${NSIS_PTR_SIZE} > 4
    File `/oname=${SETUPSUP_PATH}` `x64\setupsup.dll`
  !else if /FileExists `x86\setupsup.dll`
    File `/oname=${SETUPSUP_PATH}` `x86\setupsup.dll`
  !else
    File `/oname=${SETUPSUP_PATH}` `setupsup.dll`
  !endif
!macroend

; System::Call keeps the DLL loaded for the rest of the process; free every
; reference it holds so that the file can be deleted. ("t": System calls
; GetModuleHandleW in a Unicode installer, GetModuleHandleA in an ANSI one.)
!define SetupSup::Unload `!insertmacro SetupSup_Unload`
!macro SetupSup_Unload
  Push $0
  ${Do}
    System::Call `kernel32::GetModuleHandle(t '${SETUPSUP_PATH}')p.r0`
    ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
    System::Call `kernel32::FreeLibrary(p r0)i.r0`
    ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
  ${Loop}
  Pop $0
!macroend

; The text form of the target, set where a macro is inserted: _SETUPSUP_W is
; the suffix of the export called (W, or nothing for the ANSI export) and
; _SETUPSUP_S the System::Call type of its strings (w UTF-16, m ANSI).
!macro _SetupSup_Text
  !ifdef NSIS_UNICODE
    !define /redef _SETUPSUP_W `W`
    !define /redef _SETUPSUP_S `w`
  !else
    !define /redef _SETUPSUP_W ``
    !define /redef _SETUPSUP_S `m`
  !endif
!macroend

; Registry root names as NSIS writes them, turned into the predefined handles
; at compile time; anything else (a number, a variable) is passed through.
; The handles are negative 32-bit numbers that a 64-bit process sign-extends
; (HKEY_CURRENT_USER is 0xFFFFFFFF80000001 there), so they are written in
; decimal, which System widens with their sign on every target.
!macro _SetupSup_Root _DEFINE _ROOT
  !if `${_ROOT}` == `HKCR`
    !define /redef ${_DEFINE} -2147483648
  !else if `${_ROOT}` == `HKEY_CLASSES_ROOT`
    !define /redef ${_DEFINE} -2147483648
  !else if `${_ROOT}` == `HKCU`
    !define /redef ${_DEFINE} -2147483647
  !else if `${_ROOT}` == `HKEY_CURRENT_USER`
    !define /redef ${_DEFINE} -2147483647
  !else if `${_ROOT}` == `HKLM`
    !define /redef ${_DEFINE} -2147483646
  !else if `${_ROOT}` == `HKEY_LOCAL_MACHINE`
    !define /redef ${_DEFINE} -2147483646
  !else if `${_ROOT}` == `HKU`
    !define /redef ${_DEFINE} -2147483645
  !else if `${_ROOT}` == `HKEY_USERS`
    !define /redef ${_DEFINE} -2147483645
  !else
    !define /redef ${_DEFINE} `${_ROOT}`
  !endif
!macroend

; ---- CBF dialog files --------------------------------------------------------

!define SetupSup::MergeCbf `!insertmacro SetupSup_MergeCbf`
!macro SetupSup_MergeCbf _SOURCE _TARGET _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::MergeCbf${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s)i.s` `${_SOURCE}` `${_TARGET}`
  Pop ${_RESULT}
!macroend

!define SetupSup::PruneCbf `!insertmacro SetupSup_PruneCbf`
!macro SetupSup_PruneCbf _SOURCE _TARGET _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::PruneCbf${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s)i.s` `${_SOURCE}` `${_TARGET}`
  Pop ${_RESULT}
!macroend

!define SetupSup::TruncateCbf `!insertmacro SetupSup_TruncateCbf`
!macro SetupSup_TruncateCbf _TARGET _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::TruncateCbf${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_TARGET}`
  Pop ${_RESULT}
!macroend

; ---- Split files, time stamps, version language ------------------------------

!define SetupSup::UnsplitFile `!insertmacro SetupSup_UnsplitFile`
!macro SetupSup_UnsplitFile _TARGET _PIECE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::UnsplitFile${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s)i.s` `${_TARGET}` `${_PIECE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::MatchFileDate `!insertmacro SetupSup_MatchFileDate`
!macro SetupSup_MatchFileDate _SOURCE _TARGET _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::MatchFileDate${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s)i.s` `${_SOURCE}` `${_TARGET}`
  Pop ${_RESULT}
!macroend

!define SetupSup::GetFileLanguage `!insertmacro SetupSup_GetFileLanguage`
!macro SetupSup_GetFileLanguage _PATH _LOWBYTE _HIGHBYTE _NAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetFileLanguage${_SETUPSUP_W}(${_SETUPSUP_S}s, *i.s, *i.s, ${_SETUPSUP_S}.s)i.s` `${_PATH}`
  Pop ${_RESULT}
  Pop ${_LOWBYTE}
  Pop ${_HIGHBYTE}
  Pop ${_NAME}
!macroend

; ---- Component registration and shared-DLL counts ----------------------------

!define SetupSup::SelfRegisterFile `!insertmacro SetupSup_SelfRegisterFile`
!macro SetupSup_SelfRegisterFile _PATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SelfRegisterFile${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_PATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::SelfUnregisterFile `!insertmacro SetupSup_SelfUnregisterFile`
!macro SetupSup_SelfUnregisterFile _PATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SelfUnregisterFile${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_PATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::SelfRegisterFileForUser `!insertmacro SetupSup_SelfRegisterFileForUser`
!macro SetupSup_SelfRegisterFileForUser _PATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SelfRegisterFileForUser${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_PATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::SelfUnregisterFileForUser `!insertmacro SetupSup_SelfUnregisterFileForUser`
!macro SetupSup_SelfUnregisterFileForUser _PATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SelfUnregisterFileForUser${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_PATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::GetFileRefCount `!insertmacro SetupSup_GetFileRefCount`
!macro SetupSup_GetFileRefCount _FILENAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetFileRefCount${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_FILENAME}`
  Pop ${_RESULT}
!macroend

!define SetupSup::SetFileRefCount `!insertmacro SetupSup_SetFileRefCount`
!macro SetupSup_SetFileRefCount _FILENAME _COUNT _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SetFileRefCount${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_FILENAME}` `${_COUNT}`
  Pop ${_RESULT}
!macroend

; ---- Registry maintenance -----------------------------------------------------

!define SetupSup::CopyKey `!insertmacro SetupSup_CopyKey`
!macro SetupSup_CopyKey _SOURCEROOT _SOURCEPATH _TARGETROOT _TARGETPATH _RESULT
  !insertmacro _SetupSup_Text
  !insertmacro _SetupSup_Root _SETUPSUP_SOURCEROOT `${_SOURCEROOT}`
  !insertmacro _SetupSup_Root _SETUPSUP_TARGETROOT `${_TARGETROOT}`
  System::Call `${SETUPSUP_PATH}::CopyKey${_SETUPSUP_W}(ps, ${_SETUPSUP_S}s, ps, ${_SETUPSUP_S}s)i.s` `${_SETUPSUP_SOURCEROOT}` `${_SOURCEPATH}` `${_SETUPSUP_TARGETROOT}` `${_TARGETPATH}`
  Pop ${_RESULT}
  !undef _SETUPSUP_SOURCEROOT
  !undef _SETUPSUP_TARGETROOT
!macroend

!define SetupSup::UnregisterZORBApps `!insertmacro SetupSup_UnregisterZORBApps`
!macro SetupSup_UnregisterZORBApps _STARTPATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::UnregisterZORBApps${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_STARTPATH}`
  Pop ${_RESULT}
!macroend

; ---- Running instances -------------------------------------------------------

!define SetupSup::IsZORBRunning `!insertmacro SetupSup_IsZORBRunning`
!macro SetupSup_IsZORBRunning _RESULT
  System::Call `${SETUPSUP_PATH}::IsZORBRunning()i.s`
  Pop ${_RESULT}
!macroend

!define SetupSup::IsZORBAppRunning `!insertmacro SetupSup_IsZORBAppRunning`
!macro SetupSup_IsZORBAppRunning _EXENAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::IsZORBAppRunning${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_EXENAME}`
  Pop ${_RESULT}
!macroend

;   Processes of an executable, and the users of a file. _IMAGE is a file name
; ("app.exe", compared as IsZORBAppRunning compares it) or a full path; _SCOPE
; is 0 (the installer's session), 1 (its user, any session) or 2 (every
; process it can see). Close, Terminate and WaitFor return how many still
; run after _TIMEOUT milliseconds; FindFileUsers writes the image paths of
; the users of a file or folder, one a line, into _USERS (NSIS_MAX_STRLEN
; characters, whole lines only). A negative result is bad input or a failure
; to list the processes (setupsup.h).

!define SetupSup::CountProcesses `!insertmacro SetupSup_CountProcesses`
!macro SetupSup_CountProcesses _IMAGE _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::CountProcesses${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_IMAGE}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::CloseProcesses `!insertmacro SetupSup_CloseProcesses`
!macro SetupSup_CloseProcesses _IMAGE _SCOPE _TIMEOUT _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::CloseProcesses${_SETUPSUP_W}(${_SETUPSUP_S}s, is, is)i.s` `${_IMAGE}` `${_SCOPE}` `${_TIMEOUT}`
  Pop ${_RESULT}
!macroend

!define SetupSup::TerminateProcesses `!insertmacro SetupSup_TerminateProcesses`
!macro SetupSup_TerminateProcesses _IMAGE _SCOPE _TIMEOUT _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::TerminateProcesses${_SETUPSUP_W}(${_SETUPSUP_S}s, is, is)i.s` `${_IMAGE}` `${_SCOPE}` `${_TIMEOUT}`
  Pop ${_RESULT}
!macroend

!define SetupSup::WaitForProcesses `!insertmacro SetupSup_WaitForProcesses`
!macro SetupSup_WaitForProcesses _IMAGE _SCOPE _TIMEOUT _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::WaitForProcesses${_SETUPSUP_W}(${_SETUPSUP_S}s, is, is)i.s` `${_IMAGE}` `${_SCOPE}` `${_TIMEOUT}`
  Pop ${_RESULT}
!macroend

!define SetupSup::FindFileUsers `!insertmacro SetupSup_FindFileUsers`
!macro SetupSup_FindFileUsers _PATH _USERS _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::FindFileUsers${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}.s, i ${NSIS_MAX_STRLEN})i.s` `${_PATH}`
  Pop ${_RESULT}
  Pop ${_USERS}
!macroend

; ---- Fonts and shell ---------------------------------------------------------

!define SetupSup::AddFont `!insertmacro SetupSup_AddFont`
!macro SetupSup_AddFont _FONTPATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::AddFont${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_FONTPATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::RemoveFont `!insertmacro SetupSup_RemoveFont`
!macro SetupSup_RemoveFont _FONTPATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::RemoveFont${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_FONTPATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::GooseFont `!insertmacro SetupSup_GooseFont`
!macro SetupSup_GooseFont _FONTPATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GooseFont${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_FONTPATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::ShellExecuteSimple `!insertmacro SetupSup_ShellExecuteSimple`
!macro SetupSup_ShellExecuteSimple _FILE _PARAMETERS _DIRECTORY _SHOWCOMMAND _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::ShellExecuteSimple${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s, ${_SETUPSUP_S}s, is)i.s` `${_FILE}` `${_PARAMETERS}` `${_DIRECTORY}` `${_SHOWCOMMAND}`
  Pop ${_RESULT}
!macroend

!define SetupSup::GetSystemFont `!insertmacro SetupSup_GetSystemFont`
!macro SetupSup_GetSystemFont _FACENAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetSystemFont${_SETUPSUP_W}(${_SETUPSUP_S}.s)i.s`
  Pop ${_RESULT}
  Pop ${_FACENAME}
!macroend

!define SetupSup::GetSystemFixedFont `!insertmacro SetupSup_GetSystemFixedFont`
!macro SetupSup_GetSystemFixedFont _FACENAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetSystemFixedFont${_SETUPSUP_W}(${_SETUPSUP_S}.s)i.s`
  Pop ${_RESULT}
  Pop ${_FACENAME}
!macroend

!define SetupSup::GetSystemCharset `!insertmacro SetupSup_GetSystemCharset`
!macro SetupSup_GetSystemCharset _RESULT
  System::Call `${SETUPSUP_PATH}::GetSystemCharset()i.s`
  Pop ${_RESULT}
!macroend

; GetFontName writes the font file's registry name (as under the Fonts key)
; into _NAME; _RESULT is 0, a failure, or minus the room needed.
!define SetupSup::GetFontName `!insertmacro SetupSup_GetFontName`
!macro SetupSup_GetFontName _PATH _NAME _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetFontName${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}.s, i ${NSIS_MAX_STRLEN})i.s` `${_PATH}`
  Pop ${_RESULT}
  Pop ${_NAME}
!macroend

; ---- System information -------------------------------------------------------

!define SetupSup::GetPhysRAM `!insertmacro SetupSup_GetPhysRAM`
!macro SetupSup_GetPhysRAM _RESULT
  System::Call `${SETUPSUP_PATH}::GetPhysRAM()i.s`
  Pop ${_RESULT}
!macroend

!define SetupSup::GetVirtRAM `!insertmacro SetupSup_GetVirtRAM`
!macro SetupSup_GetVirtRAM _RESULT
  System::Call `${SETUPSUP_PATH}::GetVirtRAM()i.s`
  Pop ${_RESULT}
!macroend

!define SetupSup::FormatDate `!insertmacro SetupSup_FormatDate`
!macro SetupSup_FormatDate _YEAR _MONTH _DAY _BUFFER _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::FormatDate${_SETUPSUP_W}(is, is, is, ${_SETUPSUP_S}.s)i.s` `${_YEAR}` `${_MONTH}` `${_DAY}`
  Pop ${_RESULT}
  Pop ${_BUFFER}
!macroend

!define SetupSup::QueryTerminalServer `!insertmacro SetupSup_QueryTerminalServer`
!macro SetupSup_QueryTerminalServer _RESULT
  System::Call `${SETUPSUP_PATH}::QueryTerminalServer()i.s`
  Pop ${_RESULT}
!macroend

!define SetupSup::GetHostIPAddr `!insertmacro SetupSup_GetHostIPAddr`
!macro SetupSup_GetHostIPAddr _ADDRESS _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::GetHostIPAddr${_SETUPSUP_W}(${_SETUPSUP_S}.s)i.s`
  Pop ${_RESULT}
  Pop ${_ADDRESS}
!macroend

; ---- Files in use and restarts -------------------------------------------------

!define SetupSup::DeleteInUseFile `!insertmacro SetupSup_DeleteInUseFile`
!macro SetupSup_DeleteInUseFile _PATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::DeleteInUseFile${_SETUPSUP_W}(${_SETUPSUP_S}s)i.s` `${_PATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::ReplaceInUseFile `!insertmacro SetupSup_ReplaceInUseFile`
!macro SetupSup_ReplaceInUseFile _SOURCEPATH _TARGETPATH _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::ReplaceInUseFile${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s)i.s` `${_SOURCEPATH}` `${_TARGETPATH}`
  Pop ${_RESULT}
!macroend

!define SetupSup::IsRebootPending `!insertmacro SetupSup_IsRebootPending`
!macro SetupSup_IsRebootPending _RESULT
  System::Call `${SETUPSUP_PATH}::IsRebootPending()i.s`
  Pop ${_RESULT}
!macroend

; ---- Fonts installed for good ---------------------------------------------------

; _SCOPE: 0 the calling user, 1 the machine (administrators).
!define SetupSup::InstallFont `!insertmacro SetupSup_InstallFont`
!macro SetupSup_InstallFont _PATH _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::InstallFont${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_PATH}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::UninstallFont `!insertmacro SetupSup_UninstallFont`
!macro SetupSup_UninstallFont _PATH _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::UninstallFont${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_PATH}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

; ---- Path and environment -------------------------------------------------------

; _SCOPE: 0 the calling user, 1 the machine (administrators); _WHERE: 0 at the end, 1 at the front.
!define SetupSup::AddToPath `!insertmacro SetupSup_AddToPath`
!macro SetupSup_AddToPath _FOLDER _SCOPE _WHERE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::AddToPath${_SETUPSUP_W}(${_SETUPSUP_S}s, is, is)i.s` `${_FOLDER}` `${_SCOPE}` `${_WHERE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::RemoveFromPath `!insertmacro SetupSup_RemoveFromPath`
!macro SetupSup_RemoveFromPath _FOLDER _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::RemoveFromPath${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_FOLDER}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::SetEnvironmentValue `!insertmacro SetupSup_SetEnvironmentValue`
!macro SetupSup_SetEnvironmentValue _NAME _VALUE _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::SetEnvironmentValue${_SETUPSUP_W}(${_SETUPSUP_S}s, ${_SETUPSUP_S}s, is)i.s` `${_NAME}` `${_VALUE}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

!define SetupSup::DeleteEnvironmentValue `!insertmacro SetupSup_DeleteEnvironmentValue`
!macro SetupSup_DeleteEnvironmentValue _NAME _SCOPE _RESULT
  !insertmacro _SetupSup_Text
  System::Call `${SETUPSUP_PATH}::DeleteEnvironmentValue${_SETUPSUP_W}(${_SETUPSUP_S}s, is)i.s` `${_NAME}` `${_SCOPE}`
  Pop ${_RESULT}
!macroend

!verbose pop
!endif ; SETUPSUP_NSH_INCLUDED
