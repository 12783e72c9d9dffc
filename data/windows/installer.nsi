; The per-user installer for Windows. It needs no administrator rights: the
; program goes into the user's own programs folder, where Config\Config.ini
; beside it stays writable. The uninstaller removes what was installed and
; keeps the settings file.
;
; The build (cmake/WindowsInstaller.cmake) passes:
;   RQ_VERSION_H   src/platform/version.h: product name, version, maker
;   RQ_FILES_NSH   the macros RQ_INSTALL_FILES and RQ_REMOVE_FILES, made from
;                  the zip's file list
;   RQ_ICON        the program's icon
;   RQ_DEFAULT_MODEL  the model a first start selects
;   RQ_OUTFILE     the installer to write
;   RQ_LAUNCHER    uninstall.exe, made from uninstall-launcher.nsi

; 64-bit, like the program: Wine and Windows run it without a 32-bit layer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!searchparse /file "${RQ_VERSION_H}" '#define RQ_PRODUCT_NAME "' PRODUCT '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_MAKER_NAME "' MAKER '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_MAKER_NOTICE "' NOTICE '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_VERSION_TEXT "' VERSION '"'
!include "${RQ_FILES_NSH}"

!define PROGRAM "rq-m4x-led-test.exe"
!define UNINSTALLER "uninstall.exe"
; The entry in the user's list of installed programs.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\rq-m4x-led-test"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The program against the simulated controller and its sign (rq-m4x-try.exe).
!define TRY_SHORTCUT "$SMPROGRAMS\Try without hardware.lnk"
; The named mutex held by the window, rq-m4x-send, rq-m4x-sim and rq-m4x-try
; while they run (src/platform/running_mark.h).
!define RUNNING_MARK "RQ-M4x-LED-Test.Running"
; What the installer keeps for the next update and the uninstall: the list of
; files it installed, and the bundled profiles as it installed them.
!define SETUP_DIR "$INSTDIR\Setup"
!define FILE_LIST "${SETUP_DIR}\installed-files.txt"
!define REMOVER "${SETUP_DIR}\remove.exe"

Name "${PRODUCT}"
OutFile "${RQ_OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An update goes where the last installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
BrandingText "${PRODUCT} ${VERSION}"
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${NOTICE}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "TextFunc.nsh"

!define MUI_ICON "${RQ_ICON}"
!define MUI_UNICON "${RQ_ICON}"
!define MUI_ABORTWARNING
; The program reads Modes\, img\, locale\ and Config\ from its working
; directory, so it is started in the installation folder.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The languages the program speaks; Windows' own language picks one.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString ProgramRunning ${LANG_ENGLISH} "${PRODUCT} is running. Close its window, then choose Retry."
LangString ProgramRunning ${LANG_SIMPCHINESE} "${PRODUCT} 正在运行。请关闭它的窗口，然后选择“重试”。"
LangString ProfileKept ${LANG_ENGLISH} "Kept your edited profile Modes\$R7; the new one is Modes\$R7.new"
LangString ProfileKept ${LANG_SIMPCHINESE} "保留了您修改过的配置文件 Modes\$R7；新版本的配置文件为 Modes\$R7.new"

; Neither the installer nor the uninstaller touches a running program's
; files: Windows would refuse to replace the executable, and a half-done
; update or removal is worse than none. Silent, they end with status 2.
; A mark made by a copy started as administrator exists but may not be
; opened (ERROR_ACCESS_DENIED, 5): that copy is running too.
!macro RQ_WAIT_UNTIL_CLOSED
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MARK}") p .r0 ?e'
    Pop $1
    ${If} $0 P= 0
    ${AndIf} $1 <> 5
      ${Break}
    ${EndIf}
    ${If} $0 P<> 0
      System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
    ${If} ${Silent}
      SetErrorLevel 2
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ProgramRunning)" IDRETRY +2
    Quit
  ${Loop}
!macroend

; $R0 = 1 when the profile $R1 is there and is not the one installed ($R2,
; missing for installations older than this list): the user's own then.
!macro RQ_PROFILE_IS_USERS UN
Function ${UN}ProfileIsUsers
  StrCpy $R0 0
  ${IfNot} ${FileExists} "$R1"
    Return
  ${EndIf}
  StrCpy $R0 1
  ${IfNot} ${FileExists} "$R2"
    Return
  ${EndIf}
  FileOpen $R3 "$R1" r
  FileOpen $R4 "$R2" r
  ${Do}
    ClearErrors
    FileReadByte $R3 $R5
    ${If} ${Errors}
      ClearErrors
      FileReadByte $R4 $R6
      ${If} ${Errors}
        StrCpy $R0 0
      ${EndIf}
      ${Break}
    ${EndIf}
    FileReadByte $R4 $R6
    ${If} ${Errors}
    ${OrIf} $R5 != $R6
      ${Break}
    ${EndIf}
  ${Loop}
  FileClose $R3
  FileClose $R4
FunctionEnd
!macroend
!insertmacro RQ_PROFILE_IS_USERS ""
!insertmacro RQ_PROFILE_IS_USERS "un."

; A bundled profile: replaced when the user left it as installed, otherwise
; kept, with the new one beside it as NAME.new.
!macro RQ_INSTALL_PROFILE NAME SOURCE
  StrCpy $R7 "${NAME}"
  StrCpy $R1 "$INSTDIR\Modes\${NAME}"
  StrCpy $R2 "${SETUP_DIR}\${NAME}"
  Call ProfileIsUsers
  ${If} $R0 == 1
    File "/oname=$INSTDIR\Modes\${NAME}.new" "${SOURCE}"
    DetailPrint "$(ProfileKept)"
  ${Else}
    File "/oname=$INSTDIR\Modes\${NAME}" "${SOURCE}"
  ${EndIf}
  CreateDirectory "${SETUP_DIR}"
  File "/oname=${SETUP_DIR}\${NAME}" "${SOURCE}"
!macroend

; Removed only when the user left it as installed; a new one set beside an
; edited one goes.
!macro RQ_REMOVE_PROFILE NAME
  StrCpy $R1 "$INSTDIR\Modes\${NAME}"
  StrCpy $R2 "${SETUP_DIR}\${NAME}"
  Call un.ProfileIsUsers
  ${If} $R0 == 0
    Delete "$R1"
  ${EndIf}
  Delete "$R1.new"
  Delete "$R2"
!macroend

Function .onInit
  !insertmacro RQ_WAIT_UNTIL_CLOSED
FunctionEnd

Function un.onInit
  !insertmacro RQ_WAIT_UNTIL_CLOSED
FunctionEnd

; Files the previous version installed go before this version's come, so
; that none it no longer has stays behind. Profiles are left to
; RQ_INSTALL_PROFILE; the settings were never in the list.
Function RemovePreviousFiles
  ClearErrors
  FileOpen $R3 "${FILE_LIST}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  ${Do}
    ClearErrors
    FileRead $R3 $R4
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} "$R4" $R4
    StrCpy $R5 $R4 6
    ${If} $R4 != ""
    ${AndIf} $R5 != "Modes\"
      Delete "$INSTDIR\$R4"
    ${EndIf}
  ${Loop}
  FileClose $R3
FunctionEnd

Function StartProgram
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${PROGRAM}"'
FunctionEnd

Section "Install"
  SetShellVarContext current
  ; Again, now: the program may have been started while the pages were open,
  ; and nothing is removed while it runs.
  !insertmacro RQ_WAIT_UNTIL_CLOSED
  Call RemovePreviousFiles
  !insertmacro RQ_INSTALL_FILES
  CreateDirectory "${SETUP_DIR}"
  FileOpen $0 "${FILE_LIST}" w
  !insertmacro RQ_WRITE_FILE_LIST
  FileClose $0

  ; A first start gets the model the window has commands for. A settings
  ; file already there (an update, or one kept by an uninstall) is the
  ; user's and stays as it is.
  IfFileExists "$INSTDIR\Config\Config.ini" settings_done
    CreateDirectory "$INSTDIR\Config"
    FileOpen $0 "$INSTDIR\Config\Config.ini" w
    FileWrite $0 "[Setting]$\r$\nMode=${RQ_DEFAULT_MODEL}$\r$\n"
    ; On a Chinese Windows the window starts in Chinese (the program's 46).
    ${If} $LANGUAGE == ${LANG_SIMPCHINESE}
      FileWrite $0 "lang=46$\r$\n"
    ${EndIf}
    FileClose $0
  settings_done:

  ; The uninstaller proper, and the program that runs it and waits for it
  ; (data/windows/uninstall-launcher.nsi).
  WriteUninstaller "${REMOVER}"
  SetOutPath "$INSTDIR"
  File "/oname=${UNINSTALLER}" "${RQ_LAUNCHER}"

  ; The shortcut takes the output path as its working directory.
  SetOutPath "$INSTDIR"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0
  CreateShortcut "${TRY_SHORTCUT}" "$INSTDIR\rq-m4x-try.exe" "" "$INSTDIR\${PROGRAM}" 0 SW_SHOWNORMAL "" \
    "${PRODUCT} with a simulated controller and its sign"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "${SHORTCUT}"
  Delete "${TRY_SHORTCUT}"
  ; Only the installed files: profiles of the user's own in Modes\ and the
  ; settings in Config\ stay, and so do their folders.
  !insertmacro RQ_REMOVE_FILES
  Delete "${FILE_LIST}"
  ; This runs from a temporary copy; the installed one can go.
  Delete "${REMOVER}"
  RMDir "${SETUP_DIR}"
  ; uninstall.exe, which waits for this to end, is deleted by a copy of its
  ; own once it has ended, and the folder with it when it is empty
  ; (uninstall-launcher.nsi).
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
