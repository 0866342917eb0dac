; setupsup.iss - the exports of setupsup.dll for Inno Setup's [Code] section.
;
;   [Setup]
;   ...                                  ; SetupArchitecture=x64: a 64-bit Setup
;   #include "setupsup.iss"              ; after [Setup], whose architecture it reads
;   [Files]
;   Source: "RELEASE\{#SetupSupArch}\setupsup.dll"; Flags: dontcopy   ; for setup
;   Source: "RELEASE\{#SetupSupArch}\setupsup.dll"; DestDir: "{app}"  ; for the uninstaller
;
; RELEASE is the library's release folder. SetupSupArch is x64 when the
; [Setup] section says SetupArchitecture=x64 (Inno Setup 7's 64-bit Setup,
; which cannot load a 32-bit DLL), else x86 (every 32-bit Setup, whatever
; its install mode: a 32-bit Setup in 64-bit install mode still loads the
; 32-bit DLL). Both DLLs export the same names, so the declarations below
; serve both.
;
; Setup calls the exports by their own names (MergeCbfW, CopyKeyW, ...): the
; DLL is extracted to {tmp} at the first call ("files:", setuponly). The
; uninstaller calls the same exports with the prefix Un (UnMergeCbfW, ...),
; from the copy in {app} (uninstallonly); call UnloadDLL(ExpandConstant('{app}\setupsup.dll'))
; before the uninstaller deletes that copy. Both sets load the DLL at their first
; call (delayload), so a script that never calls one never needs the DLL.
;
; Every export that takes or returns text is declared twice, as the DLL
; exports it: NAMEW with String parameters and NAME with AnsiString ones. Use
; the W declarations: String is Inno Setup's own UTF-16 text and reaches the
; DLL unchanged, while an AnsiString is converted to the system's ANSI code
; page and loses every character outside it (a folder named in Polish,
; Cyrillic or CJK on a Western system is then not found). The AnsiString
; declarations remain for scripts written before the W exports. An export
; that writes a string (a face name, a date, an address, a language name)
; writes into the string it is given: make it with SetupSupBufferW (for a W
; export) or SetupSupBuffer, and read the result with SetupSupTextW or
; SetupSupText. Exports without text have one declaration. Registry roots
; are the SETUPSUP_HK* constants below (the handles the system predefines,
; without the view bits Inno Setup may add to its own HKLM).
;
; These declarations are not compiled here (no Inno Setup compiler runs on
; the build machine): a test checks each of them against the DLL's export
; table and the header: every export once per set, by its exact name, with
; its arguments' number and kinds (String for a W export, AnsiString for its
; ANSI twin).

; A registry root is a handle: 32 bits in a 32-bit Setup, 64 in a 64-bit one,
; where the predefined roots are the 32-bit values sign-extended.
#if LowerCase(SetupSetting("SetupArchitecture")) == "x64"
  #define SetupSupArch "x64"
  #define SetupSupRoot "NativeInt"
  #define SetupSupHKCR "-2147483648"
  #define SetupSupHKCU "-2147483647"
  #define SetupSupHKLM "-2147483646"
  #define SetupSupHKU "-2147483645"
#else
  #define SetupSupArch "x86"
  #define SetupSupRoot "Cardinal"
  #define SetupSupHKCR "$80000000"
  #define SetupSupHKCU "$80000001"
  #define SetupSupHKLM "$80000002"
  #define SetupSupHKU "$80000003"
#endif

[Code]
const
  SETUPSUP_HKCR = {#SetupSupHKCR};
  SETUPSUP_HKCU = {#SetupSupHKCU};
  SETUPSUP_HKLM = {#SetupSupHKLM};
  SETUPSUP_HKU = {#SetupSupHKU};
  { Output buffer sizes in characters (AnsiChar for an ANSI export, Char for a W one), the NUL included. }
  SETUPSUP_FACE_NAME_SIZE = 32;
  SETUPSUP_DATE_SIZE = 49;
  SETUPSUP_ADDRESS_SIZE = 16;
  SETUPSUP_LANGUAGE_NAME_SIZE = 12;

{ An AnsiString of Size NUL characters for an export to write into. }
function SetupSupBuffer(Size: Integer): AnsiString;
var
  I: Integer;
begin
  SetLength(Result, Size);
  for I := 1 to Size do
    Result[I] := #0;
end;

{ The text an export wrote into Buffer: up to the first NUL. }
function SetupSupText(const Buffer: AnsiString): String;
var
  Len: Integer;
begin
  Len := Pos(#0, Buffer);
  if Len = 0 then
    Result := String(Buffer)
  else
    Result := String(Copy(Buffer, 1, Len - 1));
end;

{ A String of Size NUL characters for a W export to write into. }
function SetupSupBufferW(Size: Integer): String;
var
  I: Integer;
begin
  SetLength(Result, Size);
  for I := 1 to Size do
    Result[I] := #0;
end;

{ The text a W export wrote into Buffer: up to the first NUL. }
function SetupSupTextW(const Buffer: String): String;
var
  Len: Integer;
begin
  Len := Pos(#0, Buffer);
  if Len = 0 then
    Result := Buffer
  else
    Result := Copy(Buffer, 1, Len - 1);
end;

// ---- Setup: the DLL packed into the installer ----

{ CBF dialog files }
function MergeCbf(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'MergeCbf@files:setupsup.dll stdcall delayload setuponly';
function MergeCbfW(SourcePath: String; TargetPath: String): Integer;
  external 'MergeCbfW@files:setupsup.dll stdcall delayload setuponly';
function PruneCbf(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'PruneCbf@files:setupsup.dll stdcall delayload setuponly';
function PruneCbfW(SourcePath: String; TargetPath: String): Integer;
  external 'PruneCbfW@files:setupsup.dll stdcall delayload setuponly';
function TruncateCbf(TargetPath: AnsiString): Integer;
  external 'TruncateCbf@files:setupsup.dll stdcall delayload setuponly';
function TruncateCbfW(TargetPath: String): Integer;
  external 'TruncateCbfW@files:setupsup.dll stdcall delayload setuponly';

{ Split files, time stamps, version language }
function UnsplitFile(TargetPath: AnsiString; PiecePath: AnsiString): Integer;
  external 'UnsplitFile@files:setupsup.dll stdcall delayload setuponly';
function UnsplitFileW(TargetPath: String; PiecePath: String): Integer;
  external 'UnsplitFileW@files:setupsup.dll stdcall delayload setuponly';
function MatchFileDate(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'MatchFileDate@files:setupsup.dll stdcall delayload setuponly';
function MatchFileDateW(SourcePath: String; TargetPath: String): Integer;
  external 'MatchFileDateW@files:setupsup.dll stdcall delayload setuponly';
function GetFileLanguage(Path: AnsiString; var LowByte: Integer; var HighByte: Integer; Name: AnsiString): Integer;
  external 'GetFileLanguage@files:setupsup.dll stdcall delayload setuponly';
function GetFileLanguageW(Path: String; var LowByte: Integer; var HighByte: Integer; Name: String): Integer;
  external 'GetFileLanguageW@files:setupsup.dll stdcall delayload setuponly';

{ Component registration and shared-DLL counts }
function SelfRegisterFile(Path: AnsiString): Integer;
  external 'SelfRegisterFile@files:setupsup.dll stdcall delayload setuponly';
function SelfRegisterFileW(Path: String): Integer;
  external 'SelfRegisterFileW@files:setupsup.dll stdcall delayload setuponly';
function SelfUnregisterFile(Path: AnsiString): Integer;
  external 'SelfUnregisterFile@files:setupsup.dll stdcall delayload setuponly';
function SelfUnregisterFileW(Path: String): Integer;
  external 'SelfUnregisterFileW@files:setupsup.dll stdcall delayload setuponly';
function SelfRegisterFileForUser(Path: AnsiString): Integer;
  external 'SelfRegisterFileForUser@files:setupsup.dll stdcall delayload setuponly';
function SelfRegisterFileForUserW(Path: String): Integer;
  external 'SelfRegisterFileForUserW@files:setupsup.dll stdcall delayload setuponly';
function SelfUnregisterFileForUser(Path: AnsiString): Integer;
  external 'SelfUnregisterFileForUser@files:setupsup.dll stdcall delayload setuponly';
function SelfUnregisterFileForUserW(Path: String): Integer;
  external 'SelfUnregisterFileForUserW@files:setupsup.dll stdcall delayload setuponly';
function GetFileRefCount(FileName: AnsiString): Integer;
  external 'GetFileRefCount@files:setupsup.dll stdcall delayload setuponly';
function GetFileRefCountW(FileName: String): Integer;
  external 'GetFileRefCountW@files:setupsup.dll stdcall delayload setuponly';
function SetFileRefCount(FileName: AnsiString; Count: Integer): Integer;
  external 'SetFileRefCount@files:setupsup.dll stdcall delayload setuponly';
function SetFileRefCountW(FileName: String; Count: Integer): Integer;
  external 'SetFileRefCountW@files:setupsup.dll stdcall delayload setuponly';

{ Registry maintenance }
function CopyKey(SourceRoot: {#SetupSupRoot}; SourcePath: AnsiString; TargetRoot: {#SetupSupRoot}; TargetPath: AnsiString): Integer;
  external 'CopyKey@files:setupsup.dll stdcall delayload setuponly';
function CopyKeyW(SourceRoot: {#SetupSupRoot}; SourcePath: String; TargetRoot: {#SetupSupRoot}; TargetPath: String): Integer;
  external 'CopyKeyW@files:setupsup.dll stdcall delayload setuponly';
function UnregisterZORBApps(StartPath: AnsiString): Integer;
  external 'UnregisterZORBApps@files:setupsup.dll stdcall delayload setuponly';
function UnregisterZORBAppsW(StartPath: String): Integer;
  external 'UnregisterZORBAppsW@files:setupsup.dll stdcall delayload setuponly';

{ Running instances }
function IsZORBRunning: Integer;
  external 'IsZORBRunning@files:setupsup.dll stdcall delayload setuponly';
function IsZORBAppRunning(ExeName: AnsiString): Integer;
  external 'IsZORBAppRunning@files:setupsup.dll stdcall delayload setuponly';
function IsZORBAppRunningW(ExeName: String): Integer;
  external 'IsZORBAppRunningW@files:setupsup.dll stdcall delayload setuponly';

{ Processes of an executable, and the users of a file }
function CountProcesses(Image: AnsiString; Scope: Cardinal): Integer;
  external 'CountProcesses@files:setupsup.dll stdcall delayload setuponly';
function CountProcessesW(Image: String; Scope: Cardinal): Integer;
  external 'CountProcessesW@files:setupsup.dll stdcall delayload setuponly';
function CloseProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'CloseProcesses@files:setupsup.dll stdcall delayload setuponly';
function CloseProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'CloseProcessesW@files:setupsup.dll stdcall delayload setuponly';
function TerminateProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'TerminateProcesses@files:setupsup.dll stdcall delayload setuponly';
function TerminateProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'TerminateProcessesW@files:setupsup.dll stdcall delayload setuponly';
function WaitForProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'WaitForProcesses@files:setupsup.dll stdcall delayload setuponly';
function WaitForProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'WaitForProcessesW@files:setupsup.dll stdcall delayload setuponly';
function FindFileUsers(Path: AnsiString; Users: AnsiString; Room: Cardinal): Integer;
  external 'FindFileUsers@files:setupsup.dll stdcall delayload setuponly';
function FindFileUsersW(Path: String; Users: String; Room: Cardinal): Integer;
  external 'FindFileUsersW@files:setupsup.dll stdcall delayload setuponly';
{ Files in use and restarts }
function DeleteInUseFile(Path: AnsiString): Integer;
  external 'DeleteInUseFile@files:setupsup.dll stdcall delayload setuponly';
function DeleteInUseFileW(Path: String): Integer;
  external 'DeleteInUseFileW@files:setupsup.dll stdcall delayload setuponly';
function ReplaceInUseFile(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'ReplaceInUseFile@files:setupsup.dll stdcall delayload setuponly';
function ReplaceInUseFileW(SourcePath: String; TargetPath: String): Integer;
  external 'ReplaceInUseFileW@files:setupsup.dll stdcall delayload setuponly';
function IsRebootPending: Integer;
  external 'IsRebootPending@files:setupsup.dll stdcall delayload setuponly';
{ Fonts installed for good; Scope: 0 the calling user, 1 the machine }
function InstallFont(Path: AnsiString; Scope: Cardinal): Integer;
  external 'InstallFont@files:setupsup.dll stdcall delayload setuponly';
function InstallFontW(Path: String; Scope: Cardinal): Integer;
  external 'InstallFontW@files:setupsup.dll stdcall delayload setuponly';
function UninstallFont(Path: AnsiString; Scope: Cardinal): Integer;
  external 'UninstallFont@files:setupsup.dll stdcall delayload setuponly';
function UninstallFontW(Path: String; Scope: Cardinal): Integer;
  external 'UninstallFontW@files:setupsup.dll stdcall delayload setuponly';
{ Path and environment; Scope: 0 the calling user, 1 the machine; Where: 0 at the end, 1 at the front }
function AddToPath(Folder: AnsiString; Scope: Cardinal; Where: Cardinal): Integer;
  external 'AddToPath@files:setupsup.dll stdcall delayload setuponly';
function AddToPathW(Folder: String; Scope: Cardinal; Where: Cardinal): Integer;
  external 'AddToPathW@files:setupsup.dll stdcall delayload setuponly';
function RemoveFromPath(Folder: AnsiString; Scope: Cardinal): Integer;
  external 'RemoveFromPath@files:setupsup.dll stdcall delayload setuponly';
function RemoveFromPathW(Folder: String; Scope: Cardinal): Integer;
  external 'RemoveFromPathW@files:setupsup.dll stdcall delayload setuponly';
function SetEnvironmentValue(Name: AnsiString; Value: AnsiString; Scope: Cardinal): Integer;
  external 'SetEnvironmentValue@files:setupsup.dll stdcall delayload setuponly';
function SetEnvironmentValueW(Name: String; Value: String; Scope: Cardinal): Integer;
  external 'SetEnvironmentValueW@files:setupsup.dll stdcall delayload setuponly';
function DeleteEnvironmentValue(Name: AnsiString; Scope: Cardinal): Integer;
  external 'DeleteEnvironmentValue@files:setupsup.dll stdcall delayload setuponly';
function DeleteEnvironmentValueW(Name: String; Scope: Cardinal): Integer;
  external 'DeleteEnvironmentValueW@files:setupsup.dll stdcall delayload setuponly';

{ Fonts and shell }
function AddFont(FontPath: AnsiString): Integer;
  external 'AddFont@files:setupsup.dll stdcall delayload setuponly';
function AddFontW(FontPath: String): Integer;
  external 'AddFontW@files:setupsup.dll stdcall delayload setuponly';
function RemoveFont(FontPath: AnsiString): Integer;
  external 'RemoveFont@files:setupsup.dll stdcall delayload setuponly';
function RemoveFontW(FontPath: String): Integer;
  external 'RemoveFontW@files:setupsup.dll stdcall delayload setuponly';
function GooseFont(FontPath: AnsiString): Integer;
  external 'GooseFont@files:setupsup.dll stdcall delayload setuponly';
function GooseFontW(FontPath: String): Integer;
  external 'GooseFontW@files:setupsup.dll stdcall delayload setuponly';
function ShellExecuteSimple(FileName: AnsiString; Parameters: AnsiString; Directory: AnsiString; ShowCommand: Integer): Integer;
  external 'ShellExecuteSimple@files:setupsup.dll stdcall delayload setuponly';
function ShellExecuteSimpleW(FileName: String; Parameters: String; Directory: String; ShowCommand: Integer): Integer;
  external 'ShellExecuteSimpleW@files:setupsup.dll stdcall delayload setuponly';
function GetSystemFont(FaceName: AnsiString): Integer;
  external 'GetSystemFont@files:setupsup.dll stdcall delayload setuponly';
function GetSystemFontW(FaceName: String): Integer;
  external 'GetSystemFontW@files:setupsup.dll stdcall delayload setuponly';
function GetSystemFixedFont(FaceName: AnsiString): Integer;
  external 'GetSystemFixedFont@files:setupsup.dll stdcall delayload setuponly';
function GetSystemFixedFontW(FaceName: String): Integer;
  external 'GetSystemFixedFontW@files:setupsup.dll stdcall delayload setuponly';
function GetSystemCharset: Integer;
  external 'GetSystemCharset@files:setupsup.dll stdcall delayload setuponly';
function GetFontName(Path: AnsiString; Name: AnsiString; Room: Cardinal): Integer;
  external 'GetFontName@files:setupsup.dll stdcall delayload setuponly';
function GetFontNameW(Path: String; Name: String; Room: Cardinal): Integer;
  external 'GetFontNameW@files:setupsup.dll stdcall delayload setuponly';

{ System information }
function GetPhysRAM: Integer;
  external 'GetPhysRAM@files:setupsup.dll stdcall delayload setuponly';
function GetVirtRAM: Integer;
  external 'GetVirtRAM@files:setupsup.dll stdcall delayload setuponly';
function FormatDate(Year: Integer; Month: Integer; Day: Integer; Buffer: AnsiString): Integer;
  external 'FormatDate@files:setupsup.dll stdcall delayload setuponly';
function FormatDateW(Year: Integer; Month: Integer; Day: Integer; Buffer: String): Integer;
  external 'FormatDateW@files:setupsup.dll stdcall delayload setuponly';
function QueryTerminalServer: Integer;
  external 'QueryTerminalServer@files:setupsup.dll stdcall delayload setuponly';
function GetHostIPAddr(Address: AnsiString): Integer;
  external 'GetHostIPAddr@files:setupsup.dll stdcall delayload setuponly';
function GetHostIPAddrW(Address: String): Integer;
  external 'GetHostIPAddrW@files:setupsup.dll stdcall delayload setuponly';
// ---- Uninstaller: the DLL installed in the application folder ----

{ CBF dialog files }
function UnMergeCbf(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'MergeCbf@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnMergeCbfW(SourcePath: String; TargetPath: String): Integer;
  external 'MergeCbfW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnPruneCbf(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'PruneCbf@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnPruneCbfW(SourcePath: String; TargetPath: String): Integer;
  external 'PruneCbfW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnTruncateCbf(TargetPath: AnsiString): Integer;
  external 'TruncateCbf@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnTruncateCbfW(TargetPath: String): Integer;
  external 'TruncateCbfW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Split files, time stamps, version language }
function UnUnsplitFile(TargetPath: AnsiString; PiecePath: AnsiString): Integer;
  external 'UnsplitFile@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnUnsplitFileW(TargetPath: String; PiecePath: String): Integer;
  external 'UnsplitFileW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnMatchFileDate(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'MatchFileDate@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnMatchFileDateW(SourcePath: String; TargetPath: String): Integer;
  external 'MatchFileDateW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFileLanguage(Path: AnsiString; var LowByte: Integer; var HighByte: Integer; Name: AnsiString): Integer;
  external 'GetFileLanguage@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFileLanguageW(Path: String; var LowByte: Integer; var HighByte: Integer; Name: String): Integer;
  external 'GetFileLanguageW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Component registration and shared-DLL counts }
function UnSelfRegisterFile(Path: AnsiString): Integer;
  external 'SelfRegisterFile@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfRegisterFileW(Path: String): Integer;
  external 'SelfRegisterFileW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfUnregisterFile(Path: AnsiString): Integer;
  external 'SelfUnregisterFile@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfUnregisterFileW(Path: String): Integer;
  external 'SelfUnregisterFileW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfRegisterFileForUser(Path: AnsiString): Integer;
  external 'SelfRegisterFileForUser@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfRegisterFileForUserW(Path: String): Integer;
  external 'SelfRegisterFileForUserW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfUnregisterFileForUser(Path: AnsiString): Integer;
  external 'SelfUnregisterFileForUser@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSelfUnregisterFileForUserW(Path: String): Integer;
  external 'SelfUnregisterFileForUserW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFileRefCount(FileName: AnsiString): Integer;
  external 'GetFileRefCount@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFileRefCountW(FileName: String): Integer;
  external 'GetFileRefCountW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSetFileRefCount(FileName: AnsiString; Count: Integer): Integer;
  external 'SetFileRefCount@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSetFileRefCountW(FileName: String; Count: Integer): Integer;
  external 'SetFileRefCountW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Registry maintenance }
function UnCopyKey(SourceRoot: {#SetupSupRoot}; SourcePath: AnsiString; TargetRoot: {#SetupSupRoot}; TargetPath: AnsiString): Integer;
  external 'CopyKey@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnCopyKeyW(SourceRoot: {#SetupSupRoot}; SourcePath: String; TargetRoot: {#SetupSupRoot}; TargetPath: String): Integer;
  external 'CopyKeyW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnUnregisterZORBApps(StartPath: AnsiString): Integer;
  external 'UnregisterZORBApps@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnUnregisterZORBAppsW(StartPath: String): Integer;
  external 'UnregisterZORBAppsW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Running instances }
function UnIsZORBRunning: Integer;
  external 'IsZORBRunning@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnIsZORBAppRunning(ExeName: AnsiString): Integer;
  external 'IsZORBAppRunning@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnIsZORBAppRunningW(ExeName: String): Integer;
  external 'IsZORBAppRunningW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Processes of an executable, and the users of a file }
function UnCountProcesses(Image: AnsiString; Scope: Cardinal): Integer;
  external 'CountProcesses@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnCountProcessesW(Image: String; Scope: Cardinal): Integer;
  external 'CountProcessesW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnCloseProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'CloseProcesses@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnCloseProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'CloseProcessesW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnTerminateProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'TerminateProcesses@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnTerminateProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'TerminateProcessesW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnWaitForProcesses(Image: AnsiString; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'WaitForProcesses@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnWaitForProcessesW(Image: String; Scope: Cardinal; TimeoutMs: Cardinal): Integer;
  external 'WaitForProcessesW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnFindFileUsers(Path: AnsiString; Users: AnsiString; Room: Cardinal): Integer;
  external 'FindFileUsers@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnFindFileUsersW(Path: String; Users: String; Room: Cardinal): Integer;
  external 'FindFileUsersW@{app}\setupsup.dll stdcall delayload uninstallonly';
{ Files in use and restarts }
function UnDeleteInUseFile(Path: AnsiString): Integer;
  external 'DeleteInUseFile@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnDeleteInUseFileW(Path: String): Integer;
  external 'DeleteInUseFileW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnReplaceInUseFile(SourcePath: AnsiString; TargetPath: AnsiString): Integer;
  external 'ReplaceInUseFile@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnReplaceInUseFileW(SourcePath: String; TargetPath: String): Integer;
  external 'ReplaceInUseFileW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnIsRebootPending: Integer;
  external 'IsRebootPending@{app}\setupsup.dll stdcall delayload uninstallonly';
{ Fonts installed for good; Scope: 0 the calling user, 1 the machine }
function UnInstallFont(Path: AnsiString; Scope: Cardinal): Integer;
  external 'InstallFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnInstallFontW(Path: String; Scope: Cardinal): Integer;
  external 'InstallFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnUninstallFont(Path: AnsiString; Scope: Cardinal): Integer;
  external 'UninstallFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnUninstallFontW(Path: String; Scope: Cardinal): Integer;
  external 'UninstallFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
{ Path and environment; Scope: 0 the calling user, 1 the machine; Where: 0 at the end, 1 at the front }
function UnAddToPath(Folder: AnsiString; Scope: Cardinal; Where: Cardinal): Integer;
  external 'AddToPath@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnAddToPathW(Folder: String; Scope: Cardinal; Where: Cardinal): Integer;
  external 'AddToPathW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnRemoveFromPath(Folder: AnsiString; Scope: Cardinal): Integer;
  external 'RemoveFromPath@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnRemoveFromPathW(Folder: String; Scope: Cardinal): Integer;
  external 'RemoveFromPathW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSetEnvironmentValue(Name: AnsiString; Value: AnsiString; Scope: Cardinal): Integer;
  external 'SetEnvironmentValue@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnSetEnvironmentValueW(Name: String; Value: String; Scope: Cardinal): Integer;
  external 'SetEnvironmentValueW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnDeleteEnvironmentValue(Name: AnsiString; Scope: Cardinal): Integer;
  external 'DeleteEnvironmentValue@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnDeleteEnvironmentValueW(Name: String; Scope: Cardinal): Integer;
  external 'DeleteEnvironmentValueW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ Fonts and shell }
function UnAddFont(FontPath: AnsiString): Integer;
  external 'AddFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnAddFontW(FontPath: String): Integer;
  external 'AddFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnRemoveFont(FontPath: AnsiString): Integer;
  external 'RemoveFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnRemoveFontW(FontPath: String): Integer;
  external 'RemoveFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGooseFont(FontPath: AnsiString): Integer;
  external 'GooseFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGooseFontW(FontPath: String): Integer;
  external 'GooseFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnShellExecuteSimple(FileName: AnsiString; Parameters: AnsiString; Directory: AnsiString; ShowCommand: Integer): Integer;
  external 'ShellExecuteSimple@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnShellExecuteSimpleW(FileName: String; Parameters: String; Directory: String; ShowCommand: Integer): Integer;
  external 'ShellExecuteSimpleW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetSystemFont(FaceName: AnsiString): Integer;
  external 'GetSystemFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetSystemFontW(FaceName: String): Integer;
  external 'GetSystemFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetSystemFixedFont(FaceName: AnsiString): Integer;
  external 'GetSystemFixedFont@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetSystemFixedFontW(FaceName: String): Integer;
  external 'GetSystemFixedFontW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetSystemCharset: Integer;
  external 'GetSystemCharset@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFontName(Path: AnsiString; Name: AnsiString; Room: Cardinal): Integer;
  external 'GetFontName@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetFontNameW(Path: String; Name: String; Room: Cardinal): Integer;
  external 'GetFontNameW@{app}\setupsup.dll stdcall delayload uninstallonly';

{ System information }
function UnGetPhysRAM: Integer;
  external 'GetPhysRAM@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetVirtRAM: Integer;
  external 'GetVirtRAM@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnFormatDate(Year: Integer; Month: Integer; Day: Integer; Buffer: AnsiString): Integer;
  external 'FormatDate@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnFormatDateW(Year: Integer; Month: Integer; Day: Integer; Buffer: String): Integer;
  external 'FormatDateW@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnQueryTerminalServer: Integer;
  external 'QueryTerminalServer@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetHostIPAddr(Address: AnsiString): Integer;
  external 'GetHostIPAddr@{app}\setupsup.dll stdcall delayload uninstallonly';
function UnGetHostIPAddrW(Address: String): Integer;
  external 'GetHostIPAddrW@{app}\setupsup.dll stdcall delayload uninstallonly';
