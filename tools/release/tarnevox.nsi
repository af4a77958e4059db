; The Tarnevox setup program: puts vis_tarnevox.dll where the player (Winamp, or WACUP,
; which loads the same plug-ins) loads visualization plug-ins from, registers an
; uninstaller in the system's list of programs, and can make Tarnevox the player's
; visualization. tools/release/package.sh compiles it:
;   makensis -DTARGET=x86-unicode -DVERSION=... -DDLL=... -DLICENSE=... -DOUTFILE=...
;            -DPUBLISHER=... -DCOPYRIGHT=... tarnevox.nsi
; The release is the 32-bit program (x86-unicode) with the 32-bit plug-in. The 64-bit build
; makes an amd64-unicode one with its 64-bit plug-in, to test this script where 32-bit
; programs cannot run.
;
; Switches: /S silent, /D=FOLDER the player's folder (last, unquoted), /ACTIVATE make
; Tarnevox the player's visualization in silent mode too.
; Exit codes: 0 installed, 1 cancelled by the user, 2 no winamp.exe or wacup.exe in the
; folder, 3 a player is running, 4 the plug-in folder cannot be written. A failure
; changes nothing.

Target ${TARGET}
Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define WINAMP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define WACUP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\WACUP"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnevox"
; The main window's class of both players (WACUP is reported to keep Winamp's).
!define PLAYER_CLASS "Winamp v1.x"
!define PLUGIN "vis_tarnevox.dll"
!define UNINSTALLER "uninstall-tarnevox.exe"

!define EXIT_NO_PLAYER 2
!define EXIT_PLAYER_RUNNING 3
!define EXIT_CANNOT_WRITE 4

Name "Tarnevox ${VERSION}"
Caption "Tarnevox ${VERSION} Setup"
UninstallCaption "Tarnevox ${VERSION} Uninstall"
OutFile "${OUTFILE}"
BrandingText "Tarnevox ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "Tarnevox"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "Tarnevox ${VERSION} setup"
VIAddVersionKey LegalCopyright "${COPYRIGHT}"
VIAddVersionKey CompanyName "${PUBLISHER}"

Var PluginFolder
Var SettingsFile
Var Activate
Var PlayerName
Var OtherPlayer
Var FolderPageText

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!define MUI_PAGE_HEADER_TEXT "Choose the player"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the Winamp or WACUP that Tarnevox is to be installed into."
!define MUI_DIRECTORYPAGE_TEXT_TOP $FolderPageText
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp or WACUP folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE checkPlayerFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Make Tarnevox $PlayerName's visualization"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION activateVisualization
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Stops with an exit code and a message (a box unless silent); nothing is written after it.
!macro FAIL code text
  SetErrorLevel ${code}
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  Abort "${text}"
!macroend

; A running player holds its plug-ins and rewrites its settings when it closes.
!macro WAIT_FOR_PLAYER_TO_CLOSE
  ${Do}
    FindWindow $0 "${PLAYER_CLASS}"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Winamp or WACUP is running. Close it, then click Retry; Cancel leaves everything as it is." /SD IDCANCEL IDCANCEL`
      !insertmacro FAIL ${EXIT_PLAYER_RUNNING} "Winamp or WACUP is running; nothing was changed."
    ${EndIf}
  ${Loop}
!macroend

; $1 made absolute: a path without a drive or a share is taken from the folder in $0.
!macro ABSOLUTE_PATH_FUNCTION prefix
Function ${prefix}absolutePath
  Push $2
  StrCpy $2 $1 1 1
  ${If} $1 != ""
  ${AndIf} $2 != ":"
    StrCpy $2 $1 2
    ${If} $2 != "\\"
      StrCpy $1 "$0\$1"
    ${EndIf}
  ${EndIf}
  Pop $2
FunctionEnd
!macroend
!insertmacro ABSOLUTE_PATH_FUNCTION ""
!insertmacro ABSOLUTE_PATH_FUNCTION "un."

; The settings file of the player in $0: winamp.ini in the folder that paths.ini there
; names ({26} is the user's application-data folder); else, for WACUP (wacup.exe in $0),
; %APPDATA%\WACUP\winamp.ini when it exists; else winamp.ini in the player's own folder.
; (Winamp without paths.ini reads the one beside winamp.exe, whatever %APPDATA%\Winamp
; holds.)
!macro SETTINGS_FILE_FUNCTION prefix
Function ${prefix}findSettingsFile
  Push $1
  ReadINIStr $1 "$0\paths.ini" "Winamp" "inidir"
  ${WordReplace} $1 "{26}" $APPDATA "+" $1
  Call ${prefix}absolutePath
  ${If} $1 == ""
  ${AndIf} ${FileExists} "$0\wacup.exe"
  ${AndIf} ${FileExists} "$APPDATA\WACUP\winamp.ini"
    StrCpy $1 "$APPDATA\WACUP"
  ${EndIf}
  ${If} $1 == ""
    StrCpy $1 $0
  ${EndIf}
  StrCpy $SettingsFile "$1\winamp.ini"
  Pop $1
FunctionEnd
!macroend
!insertmacro SETTINGS_FILE_FUNCTION ""
!insertmacro SETTINGS_FILE_FUNCTION "un."

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ACTIVATE" $1
  ${IfNot} ${Errors}
    StrCpy $Activate 1
  ${EndIf}
  StrCpy $FolderPageText "Setup will put Tarnevox among the visualization plug-ins of the player in the folder below. To use another Winamp or WACUP, click Browse and choose the folder that holds its winamp.exe or wacup.exe."
  ; /D= sets the folder before this runs; otherwise what the players' installers left tells.
  ${If} $INSTDIR == ""
    Call findPlayer
  ${EndIf}
  ${If} $OtherPlayer != ""
    StrCpy $0 $OtherPlayer
    Call playerName
    StrCpy $FolderPageText "$FolderPageText$\r$\n$\r$\nSetup also found $1 in $OtherPlayer."
  ${EndIf}
FunctionEnd

; $1: the player whose folder is $0 (WACUP when wacup.exe is there), or "" for none.
Function playerName
  StrCpy $1 ""
  ${If} ${FileExists} "$0\wacup.exe"
    StrCpy $1 "WACUP"
  ${ElseIf} ${FileExists} "$0\winamp.exe"
    StrCpy $1 "Winamp"
  ${EndIf}
FunctionEnd

; $0 without the quotes around it, if any.
Function unquote
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    ${WordFind} $0 '"' "+1" $0
  ${EndIf}
FunctionEnd

; The folder in $0 (quoted or not, with or without a last backslash) when it holds a
; player: the first such one becomes $INSTDIR, the first other one $OtherPlayer.
Function considerFolder
  Call unquote
  StrCpy $1 $0 1 -1
  ${If} $1 == "\"
    StrCpy $0 $0 -1
  ${EndIf}
  ${If} $0 == ""
    Return
  ${EndIf}
  Call playerName
  ${If} $1 == ""
    Return
  ${ElseIf} $INSTDIR == ""
    StrCpy $INSTDIR $0
  ${ElseIf} $OtherPlayer == ""
  ${AndIf} $0 != $INSTDIR
    StrCpy $OtherPlayer $0
  ${EndIf}
FunctionEnd

; The folder of the uninstaller in $0 (quoted or not).
Function considerUninstallerFolder
  ${If} $0 != ""
    Call unquote
    ${GetParent} $0 $0
    Call considerFolder
  ${EndIf}
FunctionEnd

; The player's folder, from what the players' installers leave, in this order: Winamp's
; entry in the list of programs, Winamp's own key, WACUP's entry, the usual folders.
; None holding a player: the usual folder of Winamp, which the folder page then refuses.
Function findPlayer
  ReadRegStr $0 HKLM "${WINAMP_KEY}" "InstallLocation"
  Call considerFolder
  ReadRegStr $0 HKLM "${WINAMP_KEY}" "UninstallString"
  Call considerUninstallerFolder
  ReadRegStr $0 HKCU "Software\Winamp" ""
  Call considerFolder
  ReadRegStr $0 HKLM "${WACUP_KEY}" "InstallLocation"
  Call considerFolder
  ReadRegStr $0 HKLM "${WACUP_KEY}" "UninstallString"
  Call considerUninstallerFolder
  StrCpy $0 "$PROGRAMFILES\Winamp"
  Call considerFolder
  StrCpy $0 "$PROGRAMFILES\WACUP"
  Call considerFolder
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
  ${EndIf}
FunctionEnd

Function checkPlayerFolderPage
  StrCpy $0 $INSTDIR
  Call playerName
  ${If} $1 == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "There is no winamp.exe or wacup.exe in $INSTDIR. Choose the folder that Winamp or WACUP is installed in."
    Abort
  ${EndIf}
FunctionEnd

; Where the player loads visualization plug-ins from: the folder that its settings name
; as VisDir when that folder exists, else its Plugins folder.
Function findPluginFolder
  StrCpy $0 $INSTDIR
  Call findSettingsFile
  ReadINIStr $1 $SettingsFile "Winamp" "VisDir"
  Call absolutePath
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\*.*"
    StrCpy $PluginFolder $1
  ${Else}
    StrCpy $PluginFolder "$INSTDIR\Plugins"
  ${EndIf}
FunctionEnd

Function activateVisualization
  WriteINIStr $SettingsFile "Winamp" "visplugin_name" "${PLUGIN}"
  WriteINIStr $SettingsFile "Winamp" "visplugin_num" "0"
FunctionEnd

Section "Tarnevox"
  SectionIn RO
  StrCpy $0 $INSTDIR
  Call playerName
  StrCpy $PlayerName $1
  ${If} $PlayerName == ""
    !insertmacro FAIL ${EXIT_NO_PLAYER} "There is no winamp.exe or wacup.exe in $INSTDIR; nothing was changed."
  ${EndIf}
  !insertmacro WAIT_FOR_PLAYER_TO_CLOSE
  Call findPluginFolder
  DetailPrint "$PlayerName in $INSTDIR, settings in $SettingsFile"
  DetailPrint "Plug-in folder: $PluginFolder"

  ; The new plug-in is written beside the old one under another name and then moved over
  ; it in one step, so the old one stays whole or the new one is complete.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${PLUGIN}" "${DLL}"
  CreateDirectory $PluginFolder
  System::Call 'kernel32::CopyFileW(w "$PLUGINSDIR\${PLUGIN}", w "$PluginFolder\${PLUGIN}.new", i 0) i .r0'
  ${If} $0 = 0
    !insertmacro FAIL ${EXIT_CANNOT_WRITE} "Setup cannot write to $PluginFolder; nothing was changed."
  ${EndIf}
  ; A plug-in that another program holds could not be replaced.
  ${If} ${FileExists} "$PluginFolder\${PLUGIN}"
    System::Call 'kernel32::CreateFileW(w "$PluginFolder\${PLUGIN}", i 0xC0010000, i 0, p 0, i 3, i 0x80, p 0) p .r0'
    ${If} $0 = -1
      Delete "$PluginFolder\${PLUGIN}.new"
      !insertmacro FAIL ${EXIT_CANNOT_WRITE} "$PluginFolder\${PLUGIN} is in use by another program; nothing was changed."
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  ${If} ${FileExists} "$PluginFolder\${UNINSTALLER}"
    StrCpy $R9 1
  ${Else}
    StrCpy $R9 0
  ${EndIf}
  ClearErrors
  WriteUninstaller "$PluginFolder\${UNINSTALLER}"
  ${If} ${Errors}
    Delete "$PluginFolder\${PLUGIN}.new"
    ${If} $R9 = 0
      Delete "$PluginFolder\${UNINSTALLER}"
    ${EndIf}
    !insertmacro FAIL ${EXIT_CANNOT_WRITE} "Setup cannot write to $PluginFolder; nothing was changed."
  ${EndIf}
  ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
  System::Call 'kernel32::MoveFileExW(w "$PluginFolder\${PLUGIN}.new", w "$PluginFolder\${PLUGIN}", i 9) i .r0'
  ${If} $0 = 0
    Delete "$PluginFolder\${PLUGIN}.new"
    ${If} $R9 = 0
      Delete "$PluginFolder\${UNINSTALLER}"
    ${EndIf}
    !insertmacro FAIL ${EXIT_CANNOT_WRITE} "Setup cannot replace $PluginFolder\${PLUGIN}; nothing was changed."
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tarnevox visualization for Winamp"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$PluginFolder"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$PluginFolder\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$PluginFolder\${UNINSTALLER}" /S'
  ; Where the uninstaller finds the player's settings again (the name is older than WACUP).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "WinampFolder" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$PluginFolder" "/M=${PLUGIN} /S=0K /G=0" $0 $1 $2
  ${GetSize} "$PluginFolder" "/M=${UNINSTALLER} /S=0K /G=0" $3 $1 $2
  IntOp $0 $0 + $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} ${Silent}
  ${AndIf} $Activate == 1
    Call activateVisualization
  ${EndIf}
SectionEnd

Section "Uninstall"
  !insertmacro WAIT_FOR_PLAYER_TO_CLOSE
  ; The player goes on without a visualization rather than looking for a missing one;
  ; one that the user chose since is left alone.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "WinampFolder"
  ${If} $0 != ""
    Call un.findSettingsFile
    ReadINIStr $1 $SettingsFile "Winamp" "visplugin_name"
    ${If} $1 == "${PLUGIN}"
      WriteINIStr $SettingsFile "Winamp" "visplugin_name" ""
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\${PLUGIN}"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
