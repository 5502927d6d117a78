; The Windows installer: the folder that `cmake --install` fills for Windows
; (packaging/windows/CMakeLists.txt), put in Program Files\VelmoScreen, with
; a Start-menu entry and an entry with an uninstaller in Windows' list of
; installed programs. scripts/windows.sh builds it:
;   makensis -DVERSION=5 -DSTAGE=folder -DOUTFILE=setup.exe VelmoScreen.nsi
; /S installs (and uninstalls) silently. An installation over an earlier one
; replaces the program but keeps its VelmoScreen.ini, which the administrator
; may have set to a unit; uninstalling removes everything.

Unicode true
; 64-bit programs, installed by a 64-bit installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"

!define APP "VelmoScreen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_FINISHPAGE_RUN "$INSTDIR\VelmoScreen.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; Everything the installer puts in the folder but the settings, so that an
; upgrade leaves nothing of the old version behind.
!macro RemoveProgramFiles
    Delete "$INSTDIR\*.exe"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\qt.conf"
    RMDir /r "$INSTDIR\platforms"
    RMDir /r "$INSTDIR\styles"
    RMDir /r "$INSTDIR\translations"
    RMDir /r "$INSTDIR\licences"
!macroend

Function .onInit
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "${APP}"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !insertmacro RemoveProgramFiles
    File /r /x VelmoScreen.ini "${STAGE}/*"
    ; The template only where there are no settings yet.
    SetOverwrite off
    File "${STAGE}/VelmoScreen.ini"
    SetOverwrite on

    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\VelmoScreen.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "VelmoScreen developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VelmoScreen.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !insertmacro RemoveProgramFiles
    Delete "$INSTDIR\VelmoScreen.ini"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
