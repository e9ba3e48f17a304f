; The Windows installer for both libraries, one script built twice:
; - ARCH=x64, TalvexDX-Setup-<version>-x64.exe, a 64-bit program for 64-bit Windows: the x64
;   DLLs go into the 64-bit system folder and the x86 DLLs into SysWOW64, so 64-bit and 32-bit
;   games and control panels both find the wheel;
; - ARCH=x86, TalvexDX-Setup-<version>-x86.exe, for 32-bit Windows: the x86 DLLs alone. On 64-bit
;   Windows it says to use the x64 installer and exits 4 having changed nothing.
; Each DLL's COM classes are written by the installer itself, in the registry view of the DLL's
; own bitness, from the table that DllRegisterServer's values are checked against, and read back:
; no library code runs at install time (a 64-bit installer could not load a 32-bit DLL anyway).
; It writes the wheel's registry data and an uninstaller that keeps the user's own settings
; (Amplify, calibration). Next to the uninstaller go the wheel check of each bitness,
; wheel-check.exe (x64, 64-bit Windows only) and wheel-check-32.exe (x86): one folder, so each
; finds the other by name, and a name per build, so what the checks and support scripts call them
; never depends on the machine. The Start-menu shortcut "Check the wheel" runs them in a console
; window that stays open.
;
; A failed installation undoes what it did (files it copied or replaced, classes and keys it
; created, its uninstaller) before it exits non-zero, so the machine is left as it was found.
; The uninstaller exits non-zero when a file or key it should remove is still there (3010 when
; the only files left are in use and go at the next restart). NSIS runs an uninstaller from a
; copy and returns at once unless it is started in place: `uninstall.exe /S _?=<its folder>`,
; which is what the quiet uninstall string says, so that exit code reaches the caller.
;
; makensis -DARCH=x64|x86 -DDIST=<folder with x64\ and x86\ DLLs and the generated .nsh files>
;   -DOUTFILE=<exe>
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Unicode true
!else
  !error "ARCH must be x64 or x86"
!endif
!if "${ARCH}" == "x64"
  !define X64
  !define NATIVE_VIEW 64
!else
  !define NATIVE_VIEW 32
!endif
!include x64.nsh
!include LogicLib.nsh
!include "${DIST}\version.nsh"
!include "${DIST}\wheel_data_defines.nsh"
!include "${DIST}\wheel_data_classes.nsh"

!define PRODUCT "Talvex DX Wheel Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvexDXWheel"
!define VELQUIN_CLSID "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}"
!define DRAVIK_CLSID "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}"
!define MENU_FOLDER "$SMPROGRAMS\Talvex DX"
!define CHECK_SHORTCUT "${MENU_FOLDER}\Check the wheel.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Talvex DX"
!else
  InstallDir "$PROGRAMFILES\Talvex DX"
!endif
ShowInstDetails show
AllowSkipFiles off

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup (${ARCH})"
VIAddVersionKey "CompanyName" "Talvex"
VIAddVersionKey "LegalCopyright" "Talvex"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles


; Each target's state before this run, for the undo after a failure: "file" (moved aside to
; <target>.previous and put back), "other" (something that is not ours, left alone), "none"
; (whatever is there afterwards came from this run) or empty (not reached, nothing to undo).
Var Prev64Dravik
Var Prev64Velquin
Var Prev32Dravik
Var Prev32Velquin
Var PrevUninstaller
Var PrevCheck64
Var PrevCheck32
Var PrevShortcut
; "1" when the thing existed before this run, so the undo leaves it.
Var HadInstDir
Var HadClass64Dravik
Var HadClass64Velquin
Var HadClass32Dravik
Var HadClass32Velquin
Var HadWheelData
Var HadListing

; Moves an existing file aside before it is overwritten, so a failure can put it back.
!macro SetAside PATH STATE
  ${If} ${FileExists} "${PATH}\*.*"
    StrCpy ${STATE} other
  ${ElseIf} ${FileExists} "${PATH}"
    Delete "${PATH}.previous"
    ClearErrors
    Rename "${PATH}" "${PATH}.previous"
    ${If} ${Errors}
      DetailPrint "Moving ${PATH} aside failed"
      SetErrorLevel 2
      Abort "Moving ${PATH} aside failed"
    ${EndIf}
    StrCpy ${STATE} file
  ${Else}
    StrCpy ${STATE} none
  ${EndIf}
!macroend

!macro PutBack PATH STATE
  ${If} ${STATE} == file
    Delete "${PATH}"
    Rename "${PATH}.previous" "${PATH}"
  ${ElseIf} ${STATE} == none
    Delete "${PATH}"
  ${EndIf}
!macroend

!macro DropAside PATH STATE
  ${If} ${STATE} == file
    Delete /REBOOTOK "${PATH}.previous"
  ${EndIf}
!macroend

; Sets VAR to 1 when the class key exists in the registry view VIEW, else 0.
!macro HasClass VIEW CLSID VAR
  SetRegView ${VIEW}
  ClearErrors
  EnumRegKey $0 HKCR "CLSID\${CLSID}" 0
  ${If} ${Errors}
    StrCpy ${VAR} 0
  ${Else}
    StrCpy ${VAR} 1
  ${EndIf}
  SetRegView default
!macroend

!macro DropClass VIEW CLSID HAD
  ${If} ${HAD} == 0
    SetRegView ${VIEW}
    DeleteRegKey HKCR "CLSID\${CLSID}"
    SetRegView default
  ${EndIf}
!macroend

; Writes the classes of one bitness into the registry view VIEW, pointing at the DLLs given,
; and reads every value back (a write that reported success is not trusted); a failure ends the
; installation with exit code 3.
!macro Register VIEW DRAVIK VELQUIN
  SetRegView ${VIEW}
  StrCpy $R9 0
  ClearErrors
  !insertmacro WheelWriteClasses "${DRAVIK}" "${VELQUIN}"
  ${If} ${Errors}
    IntOp $R9 $R9 + 1
  ${EndIf}
  !insertmacro WheelCheckClasses "${DRAVIK}" "${VELQUIN}"
  SetRegView default
  ${If} $R9 != 0
    DetailPrint "Registering the ${VIEW}-bit classes failed"
    SetErrorLevel 3
    Abort "Registering the ${VIEW}-bit classes failed"
  ${EndIf}
!macroend

; Any failed file or registry write so far ends the installation with exit code 2.
!macro CheckErrors WHAT
  ${If} ${Errors}
    DetailPrint "${WHAT} failed"
    SetErrorLevel 2
    Abort "${WHAT} failed"
  ${EndIf}
!macroend

Function .onInit
  ; The shortcut is for every user of the machine, like the libraries.
  SetShellVarContext all
!if "${ARCH}" == "x86"
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This installer is for 32-bit Windows; on 64-bit Windows run TalvexDX-Setup-${VERSION}-x64.exe." /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
!endif
FunctionEnd

Section "Install"
  ; What is there before anything changes.
  StrCpy $HadInstDir 0
  ${If} ${FileExists} "$INSTDIR\*.*"
    StrCpy $HadInstDir 1
  ${EndIf}
  StrCpy $HadListing 0
  StrCpy $HadWheelData 0
  SetRegView ${NATIVE_VIEW}
  ClearErrors
  EnumRegKey $0 HKLM "${UNINSTALL_KEY}" 0
  ${IfNot} ${Errors}
    StrCpy $HadListing 1
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${WHEEL_FF_KEY}" "CLSID"
  ${IfNot} ${Errors}
    StrCpy $HadWheelData 1
  ${EndIf}
  SetRegView default
  StrCpy $Prev64Dravik ""
  StrCpy $Prev64Velquin ""
  StrCpy $Prev32Dravik ""
  StrCpy $Prev32Velquin ""
  StrCpy $PrevUninstaller ""
  StrCpy $PrevCheck64 ""
  StrCpy $PrevCheck32 ""
  StrCpy $PrevShortcut ""
!ifdef X64
  !insertmacro HasClass 64 ${DRAVIK_CLSID} $HadClass64Dravik
  !insertmacro HasClass 64 ${VELQUIN_CLSID} $HadClass64Velquin
!endif
  !insertmacro HasClass 32 ${DRAVIK_CLSID} $HadClass32Dravik
  !insertmacro HasClass 32 ${VELQUIN_CLSID} $HadClass32Velquin

  ClearErrors
  SetOutPath "$INSTDIR"
  !insertmacro SetAside "$INSTDIR\uninstall.exe" $PrevUninstaller
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro CheckErrors "Writing the uninstaller"
!ifdef X64
  !insertmacro SetAside "$INSTDIR\wheel-check.exe" $PrevCheck64
  File "${DIST}\x64\wheel-check.exe"
!endif
  !insertmacro SetAside "$INSTDIR\wheel-check-32.exe" $PrevCheck32
  File "/oname=wheel-check-32.exe" "${DIST}\x86\wheel-check.exe"
  !insertmacro CheckErrors "Copying the wheel check"

  ; This installer is a program of the Windows it is for, so no file system redirection applies:
  ; $SYSDIR is the system folder of its own bitness.
!ifdef X64
  SetOutPath "$SYSDIR"
  !insertmacro SetAside "$SYSDIR\dravik.dll" $Prev64Dravik
  File "${DIST}\x64\dravik.dll"
  !insertmacro SetAside "$SYSDIR\velquin.dll" $Prev64Velquin
  File "${DIST}\x64\velquin.dll"
  !insertmacro CheckErrors "Copying the 64-bit libraries"
  SetOutPath "$WINDIR\SysWOW64"
  !insertmacro SetAside "$WINDIR\SysWOW64\dravik.dll" $Prev32Dravik
  File "${DIST}\x86\dravik.dll"
  !insertmacro SetAside "$WINDIR\SysWOW64\velquin.dll" $Prev32Velquin
  File "${DIST}\x86\velquin.dll"
  !insertmacro CheckErrors "Copying the 32-bit libraries"
  !insertmacro Register 64 "$SYSDIR\dravik.dll" "$SYSDIR\velquin.dll"
  !insertmacro Register 32 "$WINDIR\SysWOW64\dravik.dll" "$WINDIR\SysWOW64\velquin.dll"
!else
  SetOutPath "$SYSDIR"
  !insertmacro SetAside "$SYSDIR\dravik.dll" $Prev32Dravik
  File "${DIST}\x86\dravik.dll"
  !insertmacro SetAside "$SYSDIR\velquin.dll" $Prev32Velquin
  File "${DIST}\x86\velquin.dll"
  !insertmacro CheckErrors "Copying the libraries"
  !insertmacro Register 32 "$SYSDIR\dravik.dll" "$SYSDIR\velquin.dll"
!endif

  ClearErrors
  SetRegView ${NATIVE_VIEW}
  !include "${DIST}\wheel_data_install.nsh"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Talvex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro CheckErrors "Writing the registry"
  SetRegView default

  ; The shortcut comes last, when nothing else can fail: making one starts helpers (Wine's menu
  ; builder among them) that keep the output folder as their current folder for a while, and the
  ; undo of a failure must be able to remove $INSTDIR. The check starts in $INSTDIR.
  ClearErrors
  SetOutPath "$INSTDIR"
  CreateDirectory "${MENU_FOLDER}"
  !insertmacro SetAside "${CHECK_SHORTCUT}" $PrevShortcut
!ifdef X64
  CreateShortCut "${CHECK_SHORTCUT}" "$SYSDIR\cmd.exe" \
    '/k ""$INSTDIR\wheel-check.exe" & "$INSTDIR\wheel-check-32.exe""' "" "" SW_SHOWNORMAL "" \
    "Checks whether the wheel will rumble in games, and says why not"
!else
  CreateShortCut "${CHECK_SHORTCUT}" "$SYSDIR\cmd.exe" '/k ""$INSTDIR\wheel-check-32.exe""' \
    "" "" SW_SHOWNORMAL "" "Checks whether the wheel will rumble in games, and says why not"
!endif
  !insertmacro CheckErrors "Creating the Start-menu shortcut"

  ; Done: what was moved aside is no longer needed.
  !insertmacro DropAside "$INSTDIR\uninstall.exe" $PrevUninstaller
  !insertmacro DropAside "$INSTDIR\wheel-check.exe" $PrevCheck64
  !insertmacro DropAside "$INSTDIR\wheel-check-32.exe" $PrevCheck32
  !insertmacro DropAside "${CHECK_SHORTCUT}" $PrevShortcut
!ifdef X64
  !insertmacro DropAside "$SYSDIR\dravik.dll" $Prev64Dravik
  !insertmacro DropAside "$SYSDIR\velquin.dll" $Prev64Velquin
  !insertmacro DropAside "$WINDIR\SysWOW64\dravik.dll" $Prev32Dravik
  !insertmacro DropAside "$WINDIR\SysWOW64\velquin.dll" $Prev32Velquin
!else
  !insertmacro DropAside "$SYSDIR\dravik.dll" $Prev32Dravik
  !insertmacro DropAside "$SYSDIR\velquin.dll" $Prev32Velquin
!endif
SectionEnd

; A failed installation (an Abort above, or a file NSIS could not write) undoes what this run
; did, newest first. The exit code set at the failure stays.
Function .onInstFailed
  ; Out of $INSTDIR, which may be this process's current folder and could not be removed then.
  SetOutPath "$TEMP"
  SetRegView ${NATIVE_VIEW}
  ClearErrors
  ${If} $HadListing == 0
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} $HadWheelData == 0
    !include "${DIST}\wheel_data_uninstall.nsh"
  ${EndIf}
  SetRegView default
!ifdef X64
  !insertmacro DropClass 32 ${VELQUIN_CLSID} $HadClass32Velquin
  !insertmacro DropClass 32 ${DRAVIK_CLSID} $HadClass32Dravik
  !insertmacro DropClass 64 ${VELQUIN_CLSID} $HadClass64Velquin
  !insertmacro DropClass 64 ${DRAVIK_CLSID} $HadClass64Dravik
  !insertmacro PutBack "$WINDIR\SysWOW64\velquin.dll" $Prev32Velquin
  !insertmacro PutBack "$WINDIR\SysWOW64\dravik.dll" $Prev32Dravik
  !insertmacro PutBack "$SYSDIR\velquin.dll" $Prev64Velquin
  !insertmacro PutBack "$SYSDIR\dravik.dll" $Prev64Dravik
!else
  !insertmacro DropClass 32 ${VELQUIN_CLSID} $HadClass32Velquin
  !insertmacro DropClass 32 ${DRAVIK_CLSID} $HadClass32Dravik
  !insertmacro PutBack "$SYSDIR\velquin.dll" $Prev32Velquin
  !insertmacro PutBack "$SYSDIR\dravik.dll" $Prev32Dravik
!endif
  !insertmacro PutBack "${CHECK_SHORTCUT}" $PrevShortcut
  RMDir "${MENU_FOLDER}"
  !insertmacro PutBack "$INSTDIR\wheel-check-32.exe" $PrevCheck32
  !insertmacro PutBack "$INSTDIR\wheel-check.exe" $PrevCheck64
  !insertmacro PutBack "$INSTDIR\uninstall.exe" $PrevUninstaller
  ${If} $HadInstDir == 0
    RMDir "$INSTDIR"
  ${EndIf}
FunctionEnd

; What the uninstaller could not remove: Failed counts files and keys that are still there,
; Pending files that are in use and go at the next restart.
Var Failed
Var Pending

Function un.onInit
  SetShellVarContext all
  SetRegView ${NATIVE_VIEW}
  StrCpy $Failed 0
  StrCpy $Pending 0
FunctionEnd

; Deletes a file, now or (when it is in use) at the next restart, and counts what is left.
!macro RemoveFile PATH
  SetRebootFlag false
  Delete /REBOOTOK "${PATH}"
  ${If} ${FileExists} "${PATH}"
    ${If} ${RebootFlag}
      IntOp $Pending $Pending + 1
    ${Else}
      DetailPrint "Could not remove ${PATH}"
      IntOp $Failed $Failed + 1
    ${EndIf}
  ${EndIf}
!macroend

!macro RemoveClasses
  DeleteRegKey HKCR "CLSID\${VELQUIN_CLSID}"
  DeleteRegKey HKCR "CLSID\${DRAVIK_CLSID}"
  !insertmacro KeyGone HKCR "CLSID\${VELQUIN_CLSID}"
  !insertmacro KeyGone HKCR "CLSID\${DRAVIK_CLSID}"
!macroend

!macro KeyGone ROOT KEY
  ClearErrors
  EnumRegKey $0 ${ROOT} "${KEY}" 0
  ${IfNot} ${Errors}
    DetailPrint "Could not remove ${ROOT}\${KEY}"
    IntOp $Failed $Failed + 1
  ${EndIf}
!macroend

Section "Uninstall"
!ifdef X64
  !insertmacro RemoveFile "$SYSDIR\dravik.dll"
  !insertmacro RemoveFile "$SYSDIR\velquin.dll"
  !insertmacro RemoveFile "$WINDIR\SysWOW64\dravik.dll"
  !insertmacro RemoveFile "$WINDIR\SysWOW64\velquin.dll"
  SetRegView 64
  !insertmacro RemoveClasses
  SetRegView 32
  !insertmacro RemoveClasses
  SetRegView 64
!else
  !insertmacro RemoveFile "$SYSDIR\dravik.dll"
  !insertmacro RemoveFile "$SYSDIR\velquin.dll"
  !insertmacro RemoveClasses
!endif
  ; The wheel's own keys go; the user's Amplify and calibration values stay.
  !include "${DIST}\wheel_data_uninstall.nsh"
  !include "${DIST}\wheel_data_uninstall_check.nsh"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  !insertmacro KeyGone HKLM "${UNINSTALL_KEY}"
  !insertmacro RemoveFile "$INSTDIR\wheel-check.exe"
  !insertmacro RemoveFile "$INSTDIR\wheel-check-32.exe"
  !insertmacro RemoveFile "${CHECK_SHORTCUT}"
  RMDir "${MENU_FOLDER}"
  ; Started in place, the uninstaller is the running program: it and its folder go at the next
  ; restart. Started from NSIS's copy, both go now.
  ${If} $EXEDIR == $INSTDIR
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    !insertmacro RemoveFile "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
  ${If} $Pending != 0
    SetRebootFlag true
  ${EndIf}
  ${If} $Failed != 0
    SetErrorLevel 2
  ${ElseIf} $Pending != 0
    SetErrorLevel 3010
  ${EndIf}
SectionEnd
