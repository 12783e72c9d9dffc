; uninstall.exe in the installation folder. An NSIS uninstaller started
; without _?= copies itself to a temporary folder, starts the copy and ends
; at once with status 0, so `uninstall.exe /S` could never report that the
; program was running (status 2). This small program is no uninstaller and
; copies nothing: it runs the real one (Setup\remove.exe, from a temporary
; copy, so that it can remove the folder), waits for it and ends with its
; status. This file cannot go while it runs (the runtime keeps it open
; without delete sharing), so after an uninstall a copy of it in the
; temporary folder, started with /RQ_LEFTOVER=FOLDER, deletes it once it has
; ended and removes the folder when nothing else is left in it.
;
; The build (cmake/WindowsInstaller.cmake) passes RQ_VERSION_H, RQ_ICON and
; RQ_OUTFILE.

Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!searchparse /file "${RQ_VERSION_H}" '#define RQ_PRODUCT_NAME "' PRODUCT '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_MAKER_NAME "' MAKER '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_MAKER_NOTICE "' NOTICE '"'
!searchparse /file "${RQ_VERSION_H}" '#define RQ_VERSION_TEXT "' VERSION '"'

Name "${PRODUCT}"
OutFile "${RQ_OUTFILE}"
Icon "${RQ_ICON}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${NOTICE}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} uninstaller"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define LEFTOVER_SWITCH "/RQ_LEFTOVER="

; It shows nothing of its own: it ends in .onInit, before any page.
Function .onInit
  ; Out of the folder to remove: a process's working folder cannot go.
  SetOutPath "$TEMP"
  ${GetParameters} $R0
  StrLen $R2 "${LEFTOVER_SWITCH}"
  StrCpy $R1 $R0 $R2
  ${If} $R1 == "${LEFTOVER_SWITCH}"
    ; The folder is the rest of the line, spaces and all.
    StrCpy $R1 $R0 "" $R2
    StrCpy $R3 0
    ${Do}
      Delete "$R1\uninstall.exe"
      ${IfNot} ${FileExists} "$R1\uninstall.exe"
        ${Break}
      ${EndIf}
      ; At most a minute: the caller may be slow to let it go.
      ${If} $R3 >= 600
        ${Break}
      ${EndIf}
      IntOp $R3 $R3 + 1
      Sleep 100
    ${Loop}
    RMDir "$R1"
    SetErrorLevel 0
    Quit
  ${EndIf}

  InitPluginsDir
  ClearErrors
  CopyFiles /SILENT "$EXEDIR\Setup\remove.exe" "$PLUGINSDIR\remove.exe"
  ${If} ${Errors}
    SetErrorLevel 1
    Quit
  ${EndIf}
  StrCpy $1 ""
  ${If} ${Silent}
    StrCpy $1 "/S "
  ${EndIf}
  ; _?= last and unquoted: the uninstaller reads the rest of the line as the
  ; folder, spaces and all, and then runs in place without copying itself.
  ClearErrors
  ExecWait '"$PLUGINSDIR\remove.exe" $1_?=$EXEDIR' $0
  ${If} ${Errors}
    StrCpy $0 1
  ${EndIf}
  ; Uninstalled (the uninstaller proper removed itself): this file goes too.
  ${IfNot} ${FileExists} "$EXEDIR\Setup\remove.exe"
    GetTempFileName $R0
    Delete "$R0"
    CreateDirectory "$R0"
    ClearErrors
    CopyFiles /SILENT "$EXEPATH" "$R0\uninstall.exe"
    ${IfNot} ${Errors}
      Exec '"$R0\uninstall.exe" ${LEFTOVER_SWITCH}$EXEDIR'
    ${EndIf}
  ${EndIf}
  SetErrorLevel $0
  Quit
FunctionEnd

Section
SectionEnd
