; Every macro of setupsup.nsh in the installer and in the uninstaller, built
; for the NSIS target named by -DTARGET= (x86-unicode, x86-ansi, amd64-unicode):
; the include must compile for each.
; Compiled only; the example installer runs the macros for real.
Target ${TARGET}
!include "${NSH_DIR}\setupsup.nsh"
OutFile "${OUTFILE}"
RequestExecutionLevel user

!macro EveryMacro
  ${SetupSup::Init}
  ${SetupSup::MergeCbf} "$TEMP\update.cbf" "$TEMP\ZORBDLG.CBF" $0
  ${SetupSup::PruneCbf} "$TEMP\obsolete.cbf" "$TEMP\ZORBDLG.CBF" $0
  ${SetupSup::TruncateCbf} "$TEMP\ZORBDLG.CBF" $0
  ${SetupSup::UnsplitFile} "$TEMP\data.bin" "$TEMP\data.002" $0
  ${SetupSup::MatchFileDate} "$TEMP\old.bin" "$TEMP\data.bin" $0
  ${SetupSup::GetFileLanguage} "$TEMP\app.exe" $1 $2 $3 $0
  ${SetupSup::SelfRegisterFile} "$TEMP\server.dll" $0
  ${SetupSup::SelfUnregisterFile} "$TEMP\server.dll" $0
  ${SetupSup::SelfRegisterFileForUser} "$TEMP\server.dll" $0
  ${SetupSup::SelfUnregisterFileForUser} "$TEMP\server.dll" $0
  ${SetupSup::GetFileRefCount} "$TEMP\server.dll" $0
  ${SetupSup::SetFileRefCount} "$TEMP\server.dll" 2 $0
  ${SetupSup::CopyKey} HKLM "Software\A" HKCU "Software\B" $0
  ${SetupSup::CopyKey} HKEY_USERS ".DEFAULT\Software\A" $R1 "Software\B" $0
  ${SetupSup::UnregisterZORBApps} "Software\B" $0
  ${SetupSup::IsZORBRunning} $0
  ${SetupSup::IsZORBAppRunning} "app.exe" $0
  ${SetupSup::CountProcesses} "app.exe" 0 $0
  ${SetupSup::CloseProcesses} "$INSTDIR\app.exe" 1 5000 $0
  ${SetupSup::TerminateProcesses} "app.exe" 2 2000 $0
  ${SetupSup::WaitForProcesses} "app.exe" 0 1000 $0
  ${SetupSup::FindFileUsers} "$INSTDIR" $1 $0
  ${SetupSup::AddFont} "$FONTS\a.ttf" $0
  ${SetupSup::RemoveFont} "$FONTS\a.ttf" $0
  ${SetupSup::GooseFont} "$FONTS\a.ttf" $0
  ${SetupSup::ShellExecuteSimple} "$TEMP\readme.txt" "" "$TEMP" 1 $0
  ${SetupSup::GetSystemFont} $1 $0
  ${SetupSup::GetSystemFixedFont} $1 $0
  ${SetupSup::GetSystemCharset} $0
  ${SetupSup::GetFontName} "$FONTS\a.ttf" $1 $0
  ${SetupSup::GetPhysRAM} $0
  ${SetupSup::GetVirtRAM} $0
  ${SetupSup::FormatDate} 2001 12 31 $1 $0
  ${SetupSup::QueryTerminalServer} $0
  ${SetupSup::GetHostIPAddr} $1 $0
  ${SetupSup::DeleteInUseFile} "$INSTDIR\old.dll" $0
  ${SetupSup::ReplaceInUseFile} "$PLUGINSDIR\app.dll" "$INSTDIR\app.dll" $0
  ${SetupSup::IsRebootPending} $0
  ${SetupSup::InstallFont} "$PLUGINSDIR\app.ttf" 0 $0
  ${SetupSup::UninstallFont} "$LOCALAPPDATA\Microsoft\Windows\Fonts\app.ttf" 0 $0
  ${SetupSup::AddToPath} "$INSTDIR\bin" 0 0 $0
  ${SetupSup::RemoveFromPath} "$INSTDIR\bin" 0 $0
  ${SetupSup::SetEnvironmentValue} "APP_HOME" "$INSTDIR" 0 $0
  ${SetupSup::DeleteEnvironmentValue} "APP_HOME" 0 $0
  ${SetupSup::Unload}
!macroend

Section
  !insertmacro EveryMacro
  WriteUninstaller "$TEMP\uninstall.exe"
SectionEnd

Section Uninstall
  !insertmacro EveryMacro
SectionEnd
