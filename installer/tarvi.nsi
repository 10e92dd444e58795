; Per-user installer of Tarvi (no administrator rights), built by
; scripts/build.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DBINDIR=<folder of the .exe>
;            -DREADME=<readme with BOM and CR LF> -DOUTFILE=<setup.exe> tarvi.nsi
;
; Command line: /S installs silently; /AUTOSTART selects "start at logon"
; (otherwise a silent install keeps whatever an earlier install chose);
; /D=<folder> chooses the folder and must come last, unquoted.
; The uninstaller's /S keeps the settings.

Unicode true
; The programs are x86-64 only; so is the installer (no WOW64 redirection).
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION | BINDIR | README | OUTFILE
  !error "VERSION, BINDIR, README and OUTFILE must be given with -D"
!endif

!define APP "Tarviメールチェッカー"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvi"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\VB and VBA Program Settings\tarvimon"
!define README_NAME "はじめにお読みください.txt"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tarvi"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "Tarvi ${VERSION}"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

; makensis works in this folder: the path is relative to it.
!define MUI_ICON "..\common\win32\res\tarvimon.ico"
!define MUI_UNICON "${MUI_ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\tarvimon.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\${README_NAME}"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Tarvi Mail Checker"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "Tarvi"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "Tarvi"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Tarvi Mail Checker setup"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"

; Ends the monitor and the settings program without a question. The
; monitor answers every polite request to end (WM_CLOSE, the end of the
; session) with 終了しますか？ unless the user turned that off, so it is
; terminated (taskkill /F, part of every Windows the programs run on and of
; Wine). That loses only the popup's last layout, and the tray icon stays
; until the mouse passes over it. It ends these programs wherever they were
; started from (a copy from the zip too). Files that stay locked for a moment
; after are handled by RemoveFile's retries.
!macro END_PROGRAMS un
  Function ${un}EndPrograms
    nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM tarvimon.exe'
    Pop $0
    nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM tarvicfg.exe'
    Pop $0
  FunctionEnd

  ; Deletes the file $0, retrying for up to ten seconds while a program
  ; that was just ended still holds it.
  Function ${un}RemoveFile
    StrCpy $1 0
    ${DoWhile} ${FileExists} $0
      Delete $0
      ${If} ${FileExists} $0
        IntOp $1 $1 + 1
        ${IfThen} $1 >= 40 ${|} ${ExitDo} ${|}
        Sleep 250
      ${EndIf}
    ${Loop}
  FunctionEnd
!macroend
!insertmacro END_PROGRAMS ""
!insertmacro END_PROGRAMS "un."

Section "${APP}" SecMain
  SectionIn RO
  Call EndPrograms
  StrCpy $0 "$INSTDIR\tarvimon.exe"
  Call RemoveFile
  StrCpy $0 "$INSTDIR\tarvicfg.exe"
  Call RemoveFile
  SetOutPath "$INSTDIR"
  File "${BINDIR}\tarvimon.exe"
  File "${BINDIR}\tarvicfg.exe"
  File "/oname=${README_NAME}" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tarvimon.exe"
  CreateShortcut "$SMPROGRAMS\${APP} 設定.lnk" "$INSTDIR\tarvicfg.exe"

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Tarvi"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\tarvimon.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "ログオン時に起動する" SecRun
SectionEnd

; The Run value follows the choice, on a first install and on a later one.
Section "-RunAtLogon"
  ${If} ${SectionIsSelected} ${SecRun}
    WriteRegStr HKCU "${RUN_KEY}" "Tarvi" '"$INSTDIR\tarvimon.exe"'
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "Tarvi"
  ${EndIf}
SectionEnd

Function .onInit
  ; Start at logon is preselected when /AUTOSTART is given or when an
  ; earlier install set it up.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Tarvi"
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/AUTOSTART" $2
  ${IfNot} ${Errors}
  ${OrIf} $0 != ""
    !insertmacro SelectSection ${SecRun}
  ${EndIf}
FunctionEnd

Section "un.${APP}" UnSecMain
  SectionIn RO
  Call un.EndPrograms
  StrCpy $0 "$INSTDIR\tarvimon.exe"
  Call un.RemoveFile
  StrCpy $0 "$INSTDIR\tarvicfg.exe"
  Call un.RemoveFile
  Delete "$INSTDIR\${README_NAME}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: the user may have chosen one with other files.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP} 設定.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Tarvi"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd

; Off unless ticked; a silent uninstall keeps the settings.
Section /o "un.設定（アカウントとパスワード）も削除する" UnSecSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\VB and VBA Program Settings"
SectionEnd
