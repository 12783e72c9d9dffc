; The per-user installer for Windows. It needs no administrator rights: the
; program goes into the user's own programs folder, where Config\Config.ini
; beside it stays writable. The uninstaller removes what was installed and
; keeps the settings file.
;
; The build (cmake/WindowsInstaller.cmake) passes:
;   RQ_VERSION_H   src/app/version.h: product name, version, maker
;   RQ_FILES_NSH   the macros RQ_INSTALL_FILES and RQ_REMOVE_FILES, made from
;                  the zip's file list
;   RQ_ICON        the program's icon
;   RQ_DEFAULT_MODEL  the model a first start selects
;   RQ_OUTFILE     the installer to write

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

Function StartProgram
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${PROGRAM}"'
FunctionEnd

Section "Install"
  SetShellVarContext current
  !insertmacro RQ_INSTALL_FILES

  ; A first start gets the model the window has commands for. A settings
  ; file already there (an update, or one kept by an uninstall) is the
  ; user's and stays as it is.
  IfFileExists "$INSTDIR\Config\Config.ini" settings_done
    CreateDirectory "$INSTDIR\Config"
    FileOpen $0 "$INSTDIR\Config\Config.ini" w
    FileWrite $0 "[Setting]$\r$\nMode=${RQ_DEFAULT_MODEL}$\r$\n"
    FileClose $0
  settings_done:

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The shortcut takes the output path as its working directory.
  SetOutPath "$INSTDIR"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

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
  ; Only the installed files: profiles of the user's own in Modes\ and the
  ; settings in Config\ stay, and so do their folders.
  !insertmacro RQ_REMOVE_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
