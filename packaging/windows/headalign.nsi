; SPDX-License-Identifier: Apache-2.0
; Windows installer of headalign.exe (NSIS 3, built by `cmake --build build/windows --target installer`).
; makensis is given: -DVERSION=1.72 -DVERSION_QUAD=1.72.0.0 -DEXE=<headalign.exe> -DICON=<.ico>
; -DOUTFILE=<setup.exe> -DLICENSE=<LICENSE>.
;
; Installs for the current user without administrator rights (FOLDERID_UserProgramFiles,
; %LOCALAPPDATA%\Programs\headalign, uninstall entry under HKCU) or, run as administrator, for
; all users (Program Files, HKLM). Silently: /S, with /CurrentUser or /AllUsers to choose, and
; /D=folder last. Besides the program, a Start-menu shortcut and the uninstall entry, nothing is
; registered: no file types, no PATH, no run-at-login.

Unicode true
; headalign.exe is 64-bit only: a 64-bit installer sees the native Program Files and registry.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define APP headalign
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP}"
; The uninstaller and a later installer find the mode and folder of the installation in its
; own uninstall entry, so there is no other key to leave behind.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh

Name "headalign ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "headalign ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "headalign"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "headalign ${VERSION} Setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "headalign developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\headalign.exe"
!define MUI_FINISHPAGE_NOAUTOCLOSE

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

Var GivenDir

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "headalign needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; /D= has set $INSTDIR before this function; MultiUser would replace it with its default.
  StrCpy $GivenDir $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $GivenDir != ""
    StrCpy $INSTDIR $GivenDir
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "headalign"
  SetOutPath "$INSTDIR"
  File "/oname=headalign.exe" "${EXE}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; SetShellVarContext (chosen by MultiUser) picks the user's or everyone's Start menu.
  CreateShortcut "$SMPROGRAMS\headalign.lnk" "$INSTDIR\headalign.exe" "" "$INSTDIR\headalign.exe" 0

  ; SHCTX is HKCU for the current user, HKLM for all users.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "headalign"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "headalign"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\headalign.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: the folder may have been chosen by the user (/D=) and
  ; the operator's log folder (C:\PrinterLog) is theirs to keep.
  Delete "$SMPROGRAMS\headalign.lnk"
  Delete "$INSTDIR\headalign.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
