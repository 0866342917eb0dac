; example.iss - the ZORB sample application's installer for Inno Setup: it
; does what nsis/example.nsi does, with setupsup.dll through setupsup.iss.
; It calls the W exports (String parameters, Inno Setup 6 being Unicode only),
; so the application folder may be named in any script.
; SampleDir names the folder that holds the sample's files (the build stages
; them in build/x86/bin/example, and the 64-bit build's in
; build/x64/bin/example); with SetupArchitecture=x64 (Inno Setup 7) this
; script makes a 64-bit Setup, which takes the 64-bit build's files. Not
; compiled on the build machine.
;
; Every call and its result goes to %TEMP%\zorbsample-setup.log (and to
; setup's own log when it runs with /LOG). Setup refuses to start,
; changing nothing, while the ZORB shell or zorbapp.exe runs.

[Setup]
AppName=ZORB Sample
AppVersion=1.0
DefaultDirName={autopf}\ZORB Sample
PrivilegesRequired=admin
OutputBaseFilename=zorbsample-setup
Uninstallable=yes

; After [Setup], whose architecture it reads (SetupSupArch).
#include "setupsup.iss"

#ifndef SampleDir
  #define SampleDir "..\build\" + SetupSupArch + "\bin\example"
#endif

[Files]
Source: "{#SampleDir}\..\setupsup.dll"; Flags: dontcopy
Source: "{#SampleDir}\..\setupsup.dll"; DestDir: "{app}"
Source: "{#SampleDir}\zorbapp.exe"; DestDir: "{app}"
Source: "{#SampleDir}\ZORBDLG.CBF"; DestDir: "{app}"; Flags: onlyifdoesntexist uninsneveruninstall
Source: "{#SampleDir}\update.cbf"; Flags: dontcopy
Source: "{#SampleDir}\obsolete.cbf"; Flags: dontcopy
Source: "{#SampleDir}\zorbdata.001"; Flags: dontcopy
Source: "{#SampleDir}\zorbdata.002"; Flags: dontcopy
Source: "{#SampleDir}\zorbdata.003"; Flags: dontcopy
Source: "{#SampleDir}\zorbtypes.tlb"; DestDir: "{commoncf}\ZORB Shared"; Flags: uninsneveruninstall
Source: "{#SampleDir}\zorbserv.dll"; DestDir: "{commoncf}\ZORB Shared"; Flags: uninsneveruninstall
Source: "{#SampleDir}\zorbsans.ttf"; Flags: dontcopy

[Registry]
Root: HKLM; Subkey: "Software\ZorbSample"; Flags: uninsdeletekey
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Settings"; ValueType: string; ValueName: "Window"; ValueData: "maximized"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Settings"; ValueType: string; ValueName: "Dialogs"; ValueData: "ZORBDLG.CBF"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Settings"; ValueType: string; ValueName: "Folder"; ValueData: "{app}"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Apps\Editor"; ValueType: string; ValueName: "Title"; ValueData: "ZORB Editor"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Apps\Editor\Setup"; ValueType: string; ValueName: "CurrentlyRegistered"; ValueData: "1"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Apps\Viewer"; ValueType: string; ValueName: "Title"; ValueData: "ZORB Viewer"
Root: HKLM; Subkey: "Software\ZorbSample\Defaults\Apps\Viewer\Setup"; ValueType: string; ValueName: "CurrentlyRegistered"; ValueData: "1"
Root: HKCU; Subkey: "Software\ZorbSample"; Flags: uninsdeletekey dontcreatekey

[Code]
const
  SHAREDDLLS = 'Software\Microsoft\Windows\CurrentVersion\SharedDLLs';
  FONT_FILE = 'zorbsans.ttf';
  FONT_FOR_MACHINE = 1;
  { GetFontName's room: a name of this many characters or fewer. }
  FONT_NAME_ROOM = 256;

var
  Failures: Integer;

procedure LogLine(const Line: String);
begin
  Log(Line);
  SaveStringToFile(ExpandConstant('{%TEMP}\zorbsample-setup.log'), Line + #13#10, True);
end;

procedure Expect(const What: String; Code, Expected: Integer);
begin
  if Code = Expected then
    LogLine(Format('%s: %d', [What, Code]))
  else begin
    LogLine(Format('%s: %d (FAILED, expected %d)', [What, Code, Expected]));
    Failures := Failures + 1;
  end;
end;

function InitializeSetup(): Boolean;
var
  Shell, App: Integer;
begin
  Shell := IsZORBRunning();
  App := IsZORBAppRunningW('zorbapp.exe');
  LogLine(Format('IsZORBRunning: %d; IsZORBAppRunning zorbapp.exe: %d', [Shell, App]));
  Result := (Shell = 0) and (App = 0);
  if not Result then begin
    LogLine('setup refused: the ZORB shell or zorbapp.exe is running; nothing was changed');
    SuppressibleMsgBox('Please close ZORB and zorbapp.exe, then run setup again.', mbCriticalError, MB_OK, IDOK);
  end;
end;

procedure RaiseCount(const Path: String);
var
  Count: Integer;
begin
  Count := GetFileRefCountW(Path);
  LogLine(Format('GetFileRefCount %s: %d', [Path, Count]));
  if Count = 10002 then begin
    { A fresh system has no SharedDLLs key: the first count creates it. }
    RegWriteDWordValue(HKEY_LOCAL_MACHINE, SHAREDDLLS, Path, 0);
    Count := 0;
  end else if Count = 10001 then
    Count := 0;
  Expect(Format('SetFileRefCount %s %d', [Path, Count + 1]), SetFileRefCountW(Path, Count + 1), 0);
end;

procedure InstallWithLibrary();
var
  App, Shared, Data, Old, Name, Buffer: String;
  LowByte, HighByte, Code, Day, Month, Year: Integer;
begin
  App := ExpandConstant('{app}');
  Shared := ExpandConstant('{commoncf}\ZORB Shared');

  ExtractTemporaryFile('update.cbf');
  ExtractTemporaryFile('obsolete.cbf');
  Expect('MergeCbf update.cbf into ZORBDLG.CBF', MergeCbfW(ExpandConstant('{tmp}\update.cbf'), App + '\ZORBDLG.CBF'), 0);
  Expect('PruneCbf obsolete.cbf from ZORBDLG.CBF', PruneCbfW(ExpandConstant('{tmp}\obsolete.cbf'), App + '\ZORBDLG.CBF'), 0);

  Name := SetupSupBufferW(SETUPSUP_LANGUAGE_NAME_SIZE);
  Code := GetFileLanguageW(App + '\zorbapp.exe', LowByte, HighByte, Name);
  Expect(Format('GetFileLanguage zorbapp.exe (low byte %d, high byte %d, %s)', [LowByte, HighByte, SetupSupTextW(Name)]), Code, 0);

  { The data file is joined from its pieces; an earlier one's times are kept. }
  Data := App + '\zorbdata.bin';
  Old := App + '\zorbdata.old';
  DeleteFile(Old);
  if FileExists(Data) then
    RenameFile(Data, Old);
  ExtractTemporaryFile('zorbdata.001');
  ExtractTemporaryFile('zorbdata.002');
  ExtractTemporaryFile('zorbdata.003');
  FileCopy(ExpandConstant('{tmp}\zorbdata.001'), Data, False);
  Expect('UnsplitFile zorbdata.bin + zorbdata.002', UnsplitFileW(Data, ExpandConstant('{tmp}\zorbdata.002')), 0);
  Expect('UnsplitFile zorbdata.bin + zorbdata.003', UnsplitFileW(Data, ExpandConstant('{tmp}\zorbdata.003')), 0);
  if FileExists(Old) then begin
    Expect('MatchFileDate zorbdata.old to zorbdata.bin', MatchFileDateW(Old, Data), 0);
    DeleteFile(Old);
  end;

  Expect('SelfRegisterFile zorbtypes.tlb', SelfRegisterFileW(Shared + '\zorbtypes.tlb'), 0);
  Expect('SelfRegisterFile zorbserv.dll', SelfRegisterFileW(Shared + '\zorbserv.dll'), 0);
  RaiseCount(Shared + '\zorbtypes.tlb');
  RaiseCount(Shared + '\zorbserv.dll');

  Expect('CopyKey HKLM\Software\ZorbSample\Defaults to HKCU\Software\ZorbSample',
    CopyKeyW(SETUPSUP_HKLM, 'Software\ZorbSample\Defaults', SETUPSUP_HKCU, 'Software\ZorbSample'), 0);
  Expect('UnregisterZORBApps HKCU\Software\ZorbSample\Apps (marks reset)',
    UnregisterZORBAppsW('Software\ZorbSample\Apps'), 2);

  { The font's value is named after the font's own name, read from the file;
    InstallFont copies it into the Fonts folder, adds it to the session,
    writes that value and tells running programs. }
  ExtractTemporaryFile(FONT_FILE);
  Name := SetupSupBufferW(FONT_NAME_ROOM);
  Code := GetFontNameW(ExpandConstant('{tmp}\') + FONT_FILE, Name, FONT_NAME_ROOM);
  Expect(Format('GetFontName %s (%s)', [FONT_FILE, SetupSupTextW(Name)]), Code, 0);
  Expect(Format('InstallFont %s %d', [FONT_FILE, FONT_FOR_MACHINE]),
    InstallFontW(ExpandConstant('{tmp}\') + FONT_FILE, FONT_FOR_MACHINE), 0);

  LogLine(Format('GetPhysRAM: %d bytes; GetVirtRAM: %d bytes', [GetPhysRAM(), GetVirtRAM()]));
  Buffer := SetupSupBufferW(SETUPSUP_DATE_SIZE);
  Year := StrToInt(GetDateTimeString('yyyy', #0, #0));
  Month := StrToInt(GetDateTimeString('mm', #0, #0));
  Day := StrToInt(GetDateTimeString('dd', #0, #0));
  Code := FormatDateW(Year, Month, Day, Buffer);
  LogLine(Format('FormatDate %d-%d-%d: %d characters, %s', [Year, Month, Day, Code, SetupSupTextW(Buffer)]));
  LogLine(Format('QueryTerminalServer: %d', [QueryTerminalServer()]));
  Buffer := SetupSupBufferW(SETUPSUP_ADDRESS_SIZE);
  Code := GetHostIPAddrW(Buffer);
  LogLine(Format('GetHostIPAddr: %d, %s', [Code, SetupSupTextW(Buffer)]));
  Buffer := SetupSupBufferW(SETUPSUP_FACE_NAME_SIZE);
  GetSystemFontW(Buffer);
  LogLine('GetSystemFont: ' + SetupSupTextW(Buffer) + Format('; GetSystemCharset: %d', [GetSystemCharset()]));
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssPostInstall then begin
    InstallWithLibrary();
    if Failures = 0 then
      LogLine('setup finished')
    else
      LogLine(Format('setup finished with %d failed step(s)', [Failures]));
  end;
end;

{ ---- Uninstaller ---- }

procedure LowerCount(const Path: String);
var
  Count: Integer;
begin
  Count := UnGetFileRefCountW(Path);
  LogLine(Format('GetFileRefCount %s: %d', [Path, Count]));
  if Count >= 10001 then
    Count := 1;
  Count := Count - 1;
  if Count > 0 then
    Expect(Format('SetFileRefCount %s %d (still shared)', [Path, Count]), UnSetFileRefCountW(Path, Count), 0)
  else begin
    RegDeleteValue(HKEY_LOCAL_MACHINE, SHAREDDLLS, Path);
    { The component's registration goes with it; a file another program
      holds is deleted at the next restart. }
    Expect(Format('SelfUnregisterFile %s', [Path]), UnSelfUnregisterFileW(Path), 0);
    Expect(Format('count of %s reached 0: count removed, DeleteInUseFile', [Path]), UnDeleteInUseFileW(Path), 0);
  end;
end;

function InitializeUninstall(): Boolean;
begin
  Result := (UnIsZORBRunning() = 0) and (UnIsZORBAppRunningW('zorbapp.exe') = 0);
  if not Result then
    LogLine('uninstall refused: the ZORB shell or zorbapp.exe is running; nothing was changed');
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Shared: String;
begin
  if CurUninstallStep <> usUninstall then
    exit;
  Shared := ExpandConstant('{commoncf}\ZORB Shared');
  Expect(Format('UninstallFont %s %d', [FONT_FILE, FONT_FOR_MACHINE]),
    UnUninstallFontW(ExpandConstant('{autofonts}\') + FONT_FILE, FONT_FOR_MACHINE), 0);
  LowerCount(Shared + '\zorbserv.dll');
  LowerCount(Shared + '\zorbtypes.tlb');
  RemoveDir(Shared);
  { The dialog file stays for the user, emptied of the application's procs. }
  Expect('TruncateCbf ZORBDLG.CBF', UnTruncateCbfW(ExpandConstant('{app}\ZORBDLG.CBF')), 0);
  DeleteFile(ExpandConstant('{app}\zorbdata.bin'));
  UnloadDLL(ExpandConstant('{app}\setupsup.dll'));
  LogLine('uninstall finished');
end;
