; The Windows installer: the folder that `cmake --install` fills for Windows
; (packaging/windows/CMakeLists.txt), put in Program Files\VelmoScreen, with
; a Start-menu entry and an entry with an uninstaller in Windows' list of
; installed programs. scripts/windows.sh builds it:
;   makensis -INPUTCHARSET UTF8 -DVERSION=5 -DSTAGE=folder -DFILES=files.nsh \
;            -DOUTFILE=setup.exe VelmoScreen.nsi
; FILES names every file of the folder but the settings, one
; `!insertmacro ProgramFile "FOLDER" "PATH"` line each (FOLDER is PATH's
; folder, empty at the top); scripts/windows.sh writes it from the folder.
; /S installs (and uninstalls) silently. An installation over an earlier one
; replaces the program but keeps its VelmoScreen.ini, which the administrator
; may have set to a unit.
;
; The chosen folder may hold other programs' files: the installer writes the
; names of those it put there into VelmoScreen-files.txt, and only files
; named there are removed, by the next installer (before it puts its own in
; place) and by the uninstaller, and a folder only once it is empty. Earlier
; installers wrote no such list; what they installed, their uninstall.exe
; included, is in installed-without-list.txt (which therefore never changes),
; used where an earlier version is registered in the chosen folder and no
; list is there.
;
; Windows cannot replace or delete the files of a running program: while the
; client runs (it holds the mutex below, app/clientmutex.cpp) nothing is
; changed, the user is asked to close it, and a silent run ends with exit
; status 2. So does a file that cannot be removed or written.

Unicode true
; 64-bit programs, installed by a 64-bit installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; A file that cannot be written stops the installation (or is retried) rather
; than being skipped.
AllowSkipFiles off

!include "LogicLib.nsh"
!include "MUI2.nsh"

!define APP "VelmoScreen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define CLIENT_MUTEX "VelmoScreenClient"
!define FILE_LIST "VelmoScreen-files.txt"
; Named after the program, so that it does not replace another program's
; uninstall.exe in a shared folder.
!define UNINSTALLER "VelmoScreen-uninstall.exe"
!define ABORTED 2

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

LangString clientRuns ${LANG_RUSSIAN} "VelmoScreen запущен. Закройте его и нажмите «Повтор»."
LangString cannotDelete ${LANG_RUSSIAN} "Не удалось удалить $INSTDIR\$R1. Закройте программу, которая его использует, и нажмите «Повтор»."
LangString cannotWrite ${LANG_RUSSIAN} "Не удалось записать $INSTDIR\$R1."
LangString notOurs ${LANG_RUSSIAN} "Пропущена строка списка установленных файлов, которая не называет файл в $INSTDIR: $R1"
LangString folderKept ${LANG_RUSSIAN} "В папке $INSTDIR остались другие файлы: она не удалена."

Var list

; The installer and the uninstaller each need their own copy of a function
; (the uninstaller's named un.*).
!macro SharedFunctions un
    ; Ends the run, changing nothing further.
    Function ${un}Fail
        SetErrorLevel ${ABORTED}
        Abort
    FunctionEnd

    ; Sets $0 to 1 when a client holds the mutex named on the stack: one
    ; that cannot be opened for want of rights (another user's) counts.
    Function ${un}MutexHeld
        Exch $1
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w r1) p .r0 ?e'
        Pop $1
        ${If} $0 P<> 0
            System::Call 'kernel32::CloseHandle(p r0)'
            StrCpy $0 1
        ${ElseIf} $1 = 5
            StrCpy $0 1
        ${Else}
            StrCpy $0 0
        ${EndIf}
        Pop $1
    FunctionEnd

    Function ${un}RefuseWhileClientRuns
        ${Do}
            Push "${CLIENT_MUTEX}"
            Call ${un}MutexHeld
            ${If} $0 = 0
                Push "Global\${CLIENT_MUTEX}"
                Call ${un}MutexHeld
            ${EndIf}
            ${If} $0 = 0
                Return
            ${EndIf}
            DetailPrint "$(clientRuns)"
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(clientRuns)" /SD IDCANCEL IDRETRY +2
            Call ${un}Fail
        ${Loop}
    FunctionEnd

    ; Removes the file $R1 (relative to $INSTDIR) and then each of its
    ; folders that this leaves empty.
    Function ${un}RemoveInstalledFile
        ${Do}
            ClearErrors
            Delete "$INSTDIR\$R1"
            ${IfNot} ${Errors}
                ${Break}
            ${EndIf}
            DetailPrint "$(cannotDelete)"
            MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$(cannotDelete)" /SD IDCANCEL IDRETRY +2
            Call ${un}Fail
        ${Loop}
        StrLen $R3 $R1
        ${DoWhile} $R3 > 0
            IntOp $R3 $R3 - 1
            StrCpy $R4 $R1 1 $R3
            ${If} $R4 == "\"
                StrCpy $R4 $R1 $R3
                ; Fails, as it should, while other files are in the folder.
                RMDir "$INSTDIR\$R4"
            ${EndIf}
        ${Loop}
        ClearErrors
    FunctionEnd

    ; Sets $R2 to 1 when the list line $R1 names a file inside $INSTDIR, else
    ; to 0: a damaged or altered list may hold a wildcard, a drive or a way
    ; up, which Delete would follow to other programs' files.
    Function ${un}IsFileInFolder
        StrCpy $R2 1
        StrCpy $R4 $R1 1
        ${IfThen} $R4 == "\" ${|} StrCpy $R2 0 ${|}
        StrLen $R3 $R1
        ${DoWhile} $R3 > 0
            IntOp $R3 $R3 - 1
            StrCpy $R4 $R1 1 $R3
            ${If} $R4 == "*"
            ${OrIf} $R4 == "?"
            ${OrIf} $R4 == ":"
            ${OrIf} $R4 == "/"
                StrCpy $R2 0
            ${EndIf}
            StrCpy $R4 $R1 2 $R3
            ${IfThen} $R4 == ".." ${|} StrCpy $R2 0 ${|}
        ${Loop}
    FunctionEnd

    ; Removes every file named in the list $R0, a line each.
    Function ${un}RemoveListedFiles
        ClearErrors
        FileOpen $R0 $R0 r
        ${IfThen} ${Errors} ${|} Return ${|}
        ${Do}
            FileRead $R0 $R1
            ${If} ${Errors}
                ${Break}
            ${EndIf}
            ${Do}
                StrCpy $R2 $R1 1 -1
                ${If} $R2 != "$\r"
                ${AndIf} $R2 != "$\n"
                    ${Break}
                ${EndIf}
                StrCpy $R1 $R1 -1
            ${Loop}
            ${If} $R1 != ""
                Call ${un}IsFileInFolder
                ${If} $R2 == 1
                    Call ${un}RemoveInstalledFile
                ${Else}
                    DetailPrint "$(notOurs)"
                ${EndIf}
            ${EndIf}
        ${Loop}
        FileClose $R0
        ClearErrors
    FunctionEnd

    ; The files an earlier installation in $INSTDIR put there.
    Function ${un}RemoveInstalledFiles
        ${If} ${FileExists} "$INSTDIR\${FILE_LIST}"
            StrCpy $R0 "$INSTDIR\${FILE_LIST}"
        ${Else}
            ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
            ${If} $R0 != $INSTDIR
                Return
            ${EndIf}
            InitPluginsDir
            File "/oname=$PLUGINSDIR\installed-without-list.txt" "installed-without-list.txt"
            StrCpy $R0 "$PLUGINSDIR\installed-without-list.txt"
        ${EndIf}
        Call ${un}RemoveListedFiles
    FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; After writing the file $R1 (relative to $INSTDIR): ends the run if that failed.
!macro FailUnlessWritten
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "$(cannotWrite)" /SD IDOK
        Call Fail
    ${EndIf}
!macroend

; Puts one file of the staged folder in place and adds it to the list.
!macro ProgramFile folder path
    SetOutPath "$INSTDIR\${folder}"
    File "${STAGE}\${path}"
    FileWrite $list "${path}$\r$\n"
!macroend

Function .onInit
    SetRegView 64
    Call RefuseWhileClientRuns
FunctionEnd

Function un.onInit
    SetRegView 64
    Call un.RefuseWhileClientRuns
FunctionEnd

Section "${APP}"
    SetShellVarContext all
    ; Again: the client may have been started since the installer was.
    Call RefuseWhileClientRuns
    Call RemoveInstalledFiles

    CreateDirectory "$INSTDIR"
    StrCpy $R1 "${FILE_LIST}"
    ClearErrors
    FileOpen $list "$INSTDIR\$R1" w
    !insertmacro FailUnlessWritten
    !include "${FILES}"
    FileClose $list

    ; The template only where there are no settings yet.
    SetOutPath "$INSTDIR"
    SetOverwrite off
    File "${STAGE}\VelmoScreen.ini"
    SetOverwrite on

    StrCpy $R1 "${UNINSTALLER}"
    ClearErrors
    WriteUninstaller "$INSTDIR\$R1"
    !insertmacro FailUnlessWritten
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\VelmoScreen.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "VelmoScreen developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VelmoScreen.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Call un.RefuseWhileClientRuns
    Call un.RemoveInstalledFiles
    StrCpy $R1 "VelmoScreen.ini"
    Call un.RemoveInstalledFile
    StrCpy $R1 "${FILE_LIST}"
    Call un.RemoveInstalledFile
    ; Run in place (_?=) it cannot remove itself, and the folder stays.
    Delete "$INSTDIR\${UNINSTALLER}"
    ClearErrors
    RMDir "$INSTDIR"
    ${If} ${Errors}
        DetailPrint "$(folderKept)"
    ${EndIf}
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
