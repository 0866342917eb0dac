; example.nsi - installer and uninstaller of the ZORB sample application that
; use setupsup.dll (through setupsup.nsh) the way a product installer does.
;
; Build (the project's CMake build does this, see sample/CMakeLists.txt):
;   makensis -DSAMPLE_DIR=FOLDER -DSETUPSUP_DLL_SOURCE=setupsup.dll [-DOUTFILE=setup.exe]
;            [-DTARGET=x86-unicode|x86-ansi|amd64-unicode] [-DPER_USER] example.nsi
; TARGET is NSIS's target, x86-unicode by default: a Unicode installer calls
; the library's W exports and installs into a folder of any name, an ANSI one
; calls its ANSI exports; amd64-unicode makes a 64-bit installer, which needs
; the 64-bit DLL (x64\setupsup.dll) and installs into the 64-bit Program Files
; and registry. The script is the same for all three.
; PER_USER makes the installer for one user, which needs no administrator
; (RequestExecutionLevel user): it installs into $LOCALAPPDATA\Programs, keeps
; its components in its own folder registered for the user only
; (HKCU\Software\Classes), its font in the user's fonts folder, its defaults
; and its uninstall entry under HKCU, and writes nothing under HKLM or the
; Windows folder. The machine's installer shares its components in Common
; Files, counted under SharedDLLs, registered for the machine.
; SAMPLE_DIR holds zorbapp.exe, ZORBDLG.CBF, update.cbf, obsolete.cbf,
; zorbdata.001 to .003, zorbtypes.tlb, zorbserv.dll and zorbsans.ttf.
;
; Run:  zorbsample-setup.exe [/S] [/D=FOLDER] [/LOG=FILE]
;       uninstall.exe [/S] [/LOG=FILE] [_?=FOLDER]
; A running copy of the application in the install folder is asked to close
; (WM_CLOSE to its windows, 10 s to end) before anything is replaced.
; Every call and its result goes to the log (default: $TEMP\zorbsample-setup.log),
; in UTF-8 from a Unicode installer, in the ANSI code page from an ANSI one.
; The exit status is 0 when every step did what it should, 1 when a step
; failed (the log says which), 2 when the installer refused to run.

!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}

!include LogicLib.nsh
!include FileFunc.nsh
!include "setupsup.nsh"

!ifndef SAMPLE_DIR
  !error "define SAMPLE_DIR, the folder that holds the sample application's files"
!endif
!ifndef OUTFILE
  !define OUTFILE "zorbsample-setup.exe"
!endif

!define PRODUCT "ZORB Sample"
!define APP_EXE "zorbapp.exe"
!define CBF_FILE "ZORBDLG.CBF"
!define DATA_FILE "zorbdata.bin"
!define FONT_FILE "zorbsans.ttf"
!define REG_USER "Software\ZorbSample"
!define REG_SHAREDDLLS "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
!define REG_UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZorbSample"
!ifdef PER_USER
  !define SCOPE_ROOT HKCU        ; the product's keys and its uninstall entry
  !define SHARED_DIR "$INSTDIR"  ; components private to the install
  !define FONT_SCOPE 0           ; InstallFont for the calling user
  !define FONT_INSTALLED "$LOCALAPPDATA\Microsoft\Windows\Fonts\${FONT_FILE}"
  !define REG_PRODUCT "Software\ZorbSample Product"
  !define REG_DEFAULTS "Software\ZorbSample Product\Defaults"
  !define FOR_SCOPE "ForUser"    ; the registration exports for the user
!else
  !define SCOPE_ROOT HKLM
  !define SHARED_DIR "$COMMONFILES\ZORB Shared"
  !define FONT_SCOPE 1           ; InstallFont for the machine
  !define FONT_INSTALLED "$FONTS\${FONT_FILE}"
  !define REG_PRODUCT "Software\ZorbSample"
  !define REG_DEFAULTS "Software\ZorbSample\Defaults"
  !define FOR_SCOPE ""
!endif
!define EXIT_FAILED 1
!define EXIT_REFUSED 2
!define CLOSE_TIMEOUT_MS 10000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef PER_USER
  InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
  RequestExecutionLevel user
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
  RequestExecutionLevel admin
!endif
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Log       ; the open log file
Var Failures  ; steps that did not give the result they should

; ---- Log ---------------------------------------------------------------------

; Opens the log named by /LOG= (default in $TEMP) for appending.
!macro OpenLog
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOG=" $1
  ${If} ${Errors}
  ${OrIf} $1 == ""
    StrCpy $1 "$TEMP\zorbsample-setup.log"
  ${EndIf}
  FileOpen $Log $1 a
  FileSeek $Log 0 END
  StrCpy $Failures 0
!macroend

!define Log `!insertmacro Log`
!macro Log _TEXT
  !ifdef NSIS_UNICODE
    Push `${_TEXT}$\r$\n`
    !ifdef __UNINSTALL__
      Call un.WriteLogUtf8
    !else
      Call WriteLogUtf8
    !endif
  !else
    FileWrite $Log `${_TEXT}$\r$\n`
  !endif
  DetailPrint `${_TEXT}`
!macroend

; Writes the text on the stack to the log in UTF-8 (FileWrite would convert
; it to the ANSI code page, losing what a folder's name holds beyond it).
!macro WriteLogUtf8 _UN
  Function ${_UN}WriteLogUtf8
    Exch $0
    Push $1
    Push $2
    System::Call `kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p 0, i 0, p 0, p 0)i.r1`
    System::Alloc $1
    Pop $2
    System::Call `kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p r2, i r1, p 0, p 0)`
    IntOp $1 $1 - 1 ; without the NUL
    System::Call `kernel32::WriteFile(p $Log, p r2, i r1, *i 0, p 0)`
    System::Free $2
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!ifdef NSIS_UNICODE
  !insertmacro WriteLogUtf8 ""
  !insertmacro WriteLogUtf8 "un."
!endif

; Logs a step's result and counts it as a failure unless it is the one expected.
!define Expect `!insertmacro Expect`
!macro Expect _WHAT _RESULT _EXPECTED
  ${If} `${_RESULT}` == `${_EXPECTED}`
    ${Log} `${_WHAT}: ${_RESULT}`
  ${Else}
    ${Log} `${_WHAT}: ${_RESULT} (FAILED, expected ${_EXPECTED})`
    IntOp $Failures $Failures + 1
  ${EndIf}
!macroend

; Ends the run: frees the DLL (so that $PLUGINSDIR can be deleted), closes
; the log and sets the exit status.
!macro Finish _WHAT
  ${If} $Failures == 0
    ${Log} `${_WHAT} finished`
  ${Else}
    ${Log} `${_WHAT} finished with $Failures failed step(s)`
    SetErrorLevel ${EXIT_FAILED}
  ${EndIf}
  FileClose $Log
  ${SetupSup::Unload}
!macroend

; Files are not replaced under a running application. The copy in the
; install folder, the one this run replaces, is asked to close and given
; CLOSE_TIMEOUT_MS to end; then the shell's named object or any process still
; running the application makes the run stop here, before anything is changed.
!macro RefuseWhileRunning _WHAT
  ${SetupSup::CloseProcesses} "$INSTDIR\${APP_EXE}" 0 ${CLOSE_TIMEOUT_MS} $0
  ${Log} `CloseProcesses $INSTDIR\${APP_EXE}: $0 still running`
  ${SetupSup::IsZORBRunning} $0
  ${SetupSup::IsZORBAppRunning} "${APP_EXE}" $1
  ${Log} `IsZORBRunning: $0; IsZORBAppRunning ${APP_EXE}: $1`
  ${If} $0 <> 0
  ${OrIf} $1 <> 0
    ${Log} `${_WHAT} refused: the ZORB shell or ${APP_EXE} is running; nothing was changed`
    FileClose $Log
    ${SetupSup::Unload}
    MessageBox MB_ICONSTOP "Please close ZORB and ${APP_EXE}, then run this program again." /SD IDOK
    SetErrorLevel ${EXIT_REFUSED}
    Quit
  ${EndIf}
!macroend

; ---- Shared-DLL counts ---------------------------------------------------------

; Raises the shared-DLL count of a file by one. A file without a count (10001)
; starts at 0; a system without the SharedDLLs key (10002, a fresh system) gets
; the key from the first count, since the library never creates it.
!macro RaiseCount _PATH
  ${SetupSup::GetFileRefCount} `${_PATH}` $0
  ${Log} `GetFileRefCount ${_PATH}: $0`
  ${If} $0 == 10002
    WriteRegDWORD HKLM "${REG_SHAREDDLLS}" `${_PATH}` 0
    StrCpy $0 0
  ${ElseIf} $0 == 10001
    StrCpy $0 0
  ${EndIf}
  IntOp $0 $0 + 1
  ${SetupSup::SetFileRefCount} `${_PATH}` $0 $1
  ${Expect} `SetFileRefCount ${_PATH} $0` $1 0
!macroend

; Lowers the count by one; at 0 the count and the file are removed, a
; component's registration first.
!macro LowerCount _PATH _UNREGISTER
  ${SetupSup::GetFileRefCount} `${_PATH}` $0
  ${Log} `GetFileRefCount ${_PATH}: $0`
  ${If} $0 >= 10001
    StrCpy $0 1
  ${EndIf}
  IntOp $0 $0 - 1
  ${If} $0 > 0
    ${SetupSup::SetFileRefCount} `${_PATH}` $0 $1
    ${Expect} `SetFileRefCount ${_PATH} $0 (still shared)` $1 0
  ${Else}
    DeleteRegValue HKLM "${REG_SHAREDDLLS}" `${_PATH}`
    !if `${_UNREGISTER}` == unregister
      !insertmacro Unregister `${_PATH}`
    !endif
    ; Another program may still hold the file (a shared DLL loaded into a
    ; running process): then it is deleted at the next restart.
    ${SetupSup::DeleteInUseFile} `${_PATH}` $1
    ${If} $1 == 1
      SetRebootFlag true
      ${Log} `count of ${_PATH} reached 0: count removed, DeleteInUseFile: 1 (deleted at the next restart)`
    ${Else}
      ${Expect} `count of ${_PATH} reached 0: count removed, DeleteInUseFile` $1 0
    ${EndIf}
  ${EndIf}
!macroend

; ---- Components ----------------------------------------------------------------

; Registers a COM server or type library for the installer's scope: the
; machine's classes, or (PER_USER) the calling user's.
!macro Register _PATH
  !ifdef PER_USER
    ${SetupSup::SelfRegisterFileForUser} `${_PATH}` $1
  !else
    ${SetupSup::SelfRegisterFile} `${_PATH}` $1
  !endif
  ${Expect} `SelfRegisterFile${FOR_SCOPE} ${_PATH}` $1 0
!macroend

; Removes what Register wrote; what was not registered is no failure.
!macro Unregister _PATH
  !ifdef PER_USER
    ${SetupSup::SelfUnregisterFileForUser} `${_PATH}` $1
  !else
    ${SetupSup::SelfUnregisterFile} `${_PATH}` $1
  !endif
  ${Expect} `SelfUnregisterFile${FOR_SCOPE} ${_PATH}` $1 0
!macroend

; ---- Installer -----------------------------------------------------------------

Function .onInit
  ${SetupSup::Init}
  !insertmacro OpenLog
  ${Log} `== ${PRODUCT} setup into $INSTDIR`
  !insertmacro RefuseWhileRunning "setup"
FunctionEnd

Section "Application and dialog file"
  SetOutPath "$INSTDIR"
  File "${SAMPLE_DIR}\${APP_EXE}"

  ; The dialog file holds the user's own procs too: it is installed only when
  ; missing, then brought up to date by merging the update into it.
  SetOverwrite off
  File "${SAMPLE_DIR}\${CBF_FILE}"
  SetOverwrite on
  File "/oname=$PLUGINSDIR\update.cbf" "${SAMPLE_DIR}\update.cbf"
  File "/oname=$PLUGINSDIR\obsolete.cbf" "${SAMPLE_DIR}\obsolete.cbf"
  ${SetupSup::MergeCbf} "$PLUGINSDIR\update.cbf" "$INSTDIR\${CBF_FILE}" $0
  ${Expect} "MergeCbf update.cbf into ${CBF_FILE}" $0 0
  ${SetupSup::PruneCbf} "$PLUGINSDIR\obsolete.cbf" "$INSTDIR\${CBF_FILE}" $0
  ${Expect} "PruneCbf obsolete.cbf from ${CBF_FILE}" $0 0

  ${SetupSup::GetFileLanguage} "$INSTDIR\${APP_EXE}" $1 $2 $3 $0
  ${Expect} "GetFileLanguage ${APP_EXE} (low byte $1, high byte $2, $3)" $0 0
SectionEnd

Section "Data file"
  ; An earlier install's data file is replaced, and the new one keeps its
  ; time stamps (the application compares them to tell the data is its own).
  ${If} ${FileExists} "$INSTDIR\${DATA_FILE}"
    Delete "$INSTDIR\zorbdata.old"
    Rename "$INSTDIR\${DATA_FILE}" "$INSTDIR\zorbdata.old"
  ${EndIf}
  File "/oname=$INSTDIR\${DATA_FILE}" "${SAMPLE_DIR}\zorbdata.001"
  File "/oname=$PLUGINSDIR\zorbdata.002" "${SAMPLE_DIR}\zorbdata.002"
  File "/oname=$PLUGINSDIR\zorbdata.003" "${SAMPLE_DIR}\zorbdata.003"
  ${SetupSup::UnsplitFile} "$INSTDIR\${DATA_FILE}" "$PLUGINSDIR\zorbdata.002" $0
  ${Expect} "UnsplitFile ${DATA_FILE} + zorbdata.002" $0 0
  ${SetupSup::UnsplitFile} "$INSTDIR\${DATA_FILE}" "$PLUGINSDIR\zorbdata.003" $0
  ${Expect} "UnsplitFile ${DATA_FILE} + zorbdata.003" $0 0
  ${If} ${FileExists} "$INSTDIR\zorbdata.old"
    ${SetupSup::MatchFileDate} "$INSTDIR\zorbdata.old" "$INSTDIR\${DATA_FILE}" $0
    ${Expect} "MatchFileDate zorbdata.old to ${DATA_FILE}" $0 0
    Delete "$INSTDIR\zorbdata.old"
  ${Else}
    ${Log} "no earlier ${DATA_FILE}: it keeps the times of its first piece"
  ${EndIf}
SectionEnd

Section "Shared components"
  SetOutPath "${SHARED_DIR}"
  File "${SAMPLE_DIR}\zorbtypes.tlb"
  File "${SAMPLE_DIR}\zorbserv.dll"
  !insertmacro Register "${SHARED_DIR}\zorbtypes.tlb"
  !insertmacro Register "${SHARED_DIR}\zorbserv.dll"
  !ifndef PER_USER
    !insertmacro RaiseCount "${SHARED_DIR}\zorbtypes.tlb"
    !insertmacro RaiseCount "${SHARED_DIR}\zorbserv.dll"
  !endif
SectionEnd

Section "Settings"
  ; The machine-wide defaults, the application's folder among them, copied to
  ; the user, whose applications are then marked unregistered so that they
  ; register on their first start.
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Settings" "Window" "maximized"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Settings" "Dialogs" "${CBF_FILE}"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Settings" "Folder" "$INSTDIR"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Apps\Editor" "Title" "ZORB Editor"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Apps\Editor\Setup" "CurrentlyRegistered" "1"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Apps\Viewer" "Title" "ZORB Viewer"
  WriteRegStr ${SCOPE_ROOT} "${REG_DEFAULTS}\Apps\Viewer\Setup" "CurrentlyRegistered" "1"
  ${SetupSup::CopyKey} ${SCOPE_ROOT} "${REG_DEFAULTS}" HKCU "${REG_USER}" $0
  ${Expect} "CopyKey ${SCOPE_ROOT}\${REG_DEFAULTS} to HKCU\${REG_USER}" $0 0
  ${SetupSup::UnregisterZORBApps} "${REG_USER}\Apps" $0
  ${Expect} "UnregisterZORBApps HKCU\${REG_USER}\Apps (marks reset)" $0 2
SectionEnd

Section "Font"
  ; The font's value is named after the font's own full name, read from the
  ; file; InstallFont copies it into the scope's fonts folder, adds it to the
  ; session, writes that value and tells running programs.
  File "/oname=$PLUGINSDIR\${FONT_FILE}" "${SAMPLE_DIR}\${FONT_FILE}"
  ${SetupSup::GetFontName} "$PLUGINSDIR\${FONT_FILE}" $1 $0
  ${Expect} "GetFontName ${FONT_FILE} ($1)" $0 0
  ${SetupSup::InstallFont} "$PLUGINSDIR\${FONT_FILE}" ${FONT_SCOPE} $0
  ${If} $0 == 1
    SetRebootFlag true
    ${Log} "InstallFont ${FONT_FILE} ${FONT_SCOPE}: 1 (an earlier copy is replaced at the next restart)"
  ${Else}
    ${Expect} "InstallFont ${FONT_FILE} ${FONT_SCOPE}" $0 0
  ${EndIf}
SectionEnd

Section "PATH"
  ; The application's folder at the end of the user's Path (no administrator
  ; needed, in either build); every other entry stays as it was.
  ${SetupSup::AddToPath} "$INSTDIR" 0 0 $0
  ${If} $0 == 1
    ${Log} "AddToPath $INSTDIR: 1 (already there)"
  ${Else}
    ${Expect} "AddToPath $INSTDIR" $0 0
  ${EndIf}
  ; The application finds its folder through ZORB_HOME, for the user.
  ${SetupSup::SetEnvironmentValue} "ZORB_HOME" "$INSTDIR" 0 $0
  ${Expect} "SetEnvironmentValue ZORB_HOME" $0 0
SectionEnd

Section "System facts and uninstaller"
  ${SetupSup::GetPhysRAM} $0
  ${SetupSup::GetVirtRAM} $1
  ${Log} "GetPhysRAM: $0 bytes; GetVirtRAM: $1 bytes"
  ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
  ${SetupSup::FormatDate} $3 $2 $1 $4 $0
  ${Log} "FormatDate $3-$2-$1: $0 characters, $4"
  ${SetupSup::QueryTerminalServer} $0
  ${Log} "QueryTerminalServer: $0"
  ${SetupSup::GetHostIPAddr} $1 $0
  ${Log} "GetHostIPAddr: $0, $1"
  ${SetupSup::GetSystemFont} $1 $0
  ${SetupSup::GetSystemFixedFont} $2 $0
  ${SetupSup::GetSystemCharset} $3
  ${Log} "GetSystemFont: $1; GetSystemFixedFont: $2; GetSystemCharset: $3"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr ${SCOPE_ROOT} "${REG_UNINSTALL}" "DisplayName" "${PRODUCT}"
  WriteRegStr ${SCOPE_ROOT} "${REG_UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  !insertmacro Finish "setup"
SectionEnd

Function .onInstFailed
  !insertmacro Finish "setup (aborted)"
FunctionEnd

; ---- Uninstaller ---------------------------------------------------------------

Function un.onInit
  ${SetupSup::Init}
  !insertmacro OpenLog
  ${Log} `== ${PRODUCT} uninstall from $INSTDIR`
  !insertmacro RefuseWhileRunning "uninstall"
FunctionEnd

Section "Uninstall"
  ${SetupSup::UninstallFont} "${FONT_INSTALLED}" ${FONT_SCOPE} $0
  ${If} $0 == 1
    SetRebootFlag true
    ${Log} "UninstallFont ${FONT_FILE} ${FONT_SCOPE}: 1 (the file is deleted at the next restart)"
  ${Else}
    ${Expect} "UninstallFont ${FONT_FILE} ${FONT_SCOPE}" $0 0
  ${EndIf}

  !ifdef PER_USER
    !insertmacro Unregister "${SHARED_DIR}\zorbserv.dll"
    !insertmacro Unregister "${SHARED_DIR}\zorbtypes.tlb"
    Delete "${SHARED_DIR}\zorbserv.dll"
    Delete "${SHARED_DIR}\zorbtypes.tlb"
  !else
    !insertmacro LowerCount "${SHARED_DIR}\zorbserv.dll" unregister
    !insertmacro LowerCount "${SHARED_DIR}\zorbtypes.tlb" unregister
    RMDir "${SHARED_DIR}"
  !endif

  ${SetupSup::DeleteEnvironmentValue} "ZORB_HOME" 0 $0
  ${If} $0 == 1
    ${Log} "DeleteEnvironmentValue ZORB_HOME: 1 (not there: an earlier uninstall took it)"
  ${Else}
    ${Expect} "DeleteEnvironmentValue ZORB_HOME" $0 0
  ${EndIf}
  ${SetupSup::RemoveFromPath} "$INSTDIR" 0 $0
  ${If} $0 == 1
    ${Log} "RemoveFromPath $INSTDIR: 1 (not there: an earlier uninstall took it)"
  ${Else}
    ${Expect} "RemoveFromPath $INSTDIR" $0 0
  ${EndIf}

  ; The dialog file stays for the user, emptied of the application's procs.
  ${SetupSup::TruncateCbf} "$INSTDIR\${CBF_FILE}" $0
  ${Expect} "TruncateCbf ${CBF_FILE}" $0 0

  Delete "$INSTDIR\${APP_EXE}"
  Delete "$INSTDIR\${DATA_FILE}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${REG_USER}"
  DeleteRegKey ${SCOPE_ROOT} "${REG_PRODUCT}"
  DeleteRegKey ${SCOPE_ROOT} "${REG_UNINSTALL}"
  ${SetupSup::IsRebootPending} $0
  ${Log} `IsRebootPending: $0 (1: the system has file operations or servicing waiting for a restart)`
  !insertmacro Finish "uninstall"
SectionEnd
