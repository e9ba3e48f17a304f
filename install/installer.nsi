; The Windows installer for both libraries, one script built twice:
; - ARCH=x64, TalvexDX-Setup-<version>-x64.exe, a 64-bit program for 64-bit Windows: the x64
;   DLLs go into the 64-bit system folder and the x86 DLLs into SysWOW64, so 64-bit and 32-bit
;   games and control panels both find the wheel;
; - ARCH=x86, TalvexDX-Setup-<version>-x86.exe, for 32-bit Windows (and Windows 10 on ARM, which
;   runs x86 programs but no x64 ones): the x86 DLLs alone. On 64-bit Windows that runs x64
;   programs it says to use the x64 installer and exits 4 having changed nothing.
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
; A file in use (a DLL a game holds, the running uninstaller) is never scheduled for deletion by
; its own path, which a reinstall before the restart would fill again: it is renamed to a name
; of its own (<file>.<n>.old) and only that name goes at the restart (a running uninstaller that
; this Windows will not rename still goes by its path, with its folder). A restart operation still
; pending that would delete or replace one of the files an installation writes (an older
; uninstaller scheduled files by their paths) is taken off Windows' list once it has succeeded.
; Exit codes: 2 a file or registry write failed, 3 a registration could not be verified, 4 the
; x86 installer on 64-bit Windows, 5 a restart is pending for one of its files and Windows' list
; of them cannot be changed, 6 a newer version is installed and was kept, 7 another installer or
; uninstaller of the wheel software is running, 740 not started as an administrator.
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
!include WordFunc.nsh
!include "${DIST}\version.nsh"
!include "${DIST}\wheel_data_defines.nsh"
!include "${DIST}\wheel_data_classes.nsh"

!define PRODUCT "Talvex DX Wheel Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvexDXWheel"
!define VELQUIN_CLSID "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}"
!define DRAVIK_CLSID "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}"
!define MENU_FOLDER "$SMPROGRAMS\Talvex DX"
!define SESSION_MANAGER "SYSTEM\CurrentControlSet\Control\Session Manager"
!define CHECK_SHORTCUT "${MENU_FOLDER}\Check the wheel.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
; The compiled default; an earlier installation's folder (its listing's InstallLocation, read in
; the installer's own registry view) takes its place, and /D= takes the place of both.
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Talvex DX"
!else
  InstallDir "$PROGRAMFILES\Talvex DX"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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


; Each target's state before this run, for the undo after a failure: the name it was moved
; aside to (put back by the undo), "other" (something that is not ours, left alone), "none"
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
; The installation this one replaces, from its listing ("" when there is none).
Var PrevLocation
Var PrevVersion

; VAR = PATH.<n>.old for the smallest n not taken: a name of this file's own, which neither an
; earlier run's leftovers (still held, or waiting for a restart) nor anything installed uses.
!macro UniqueName PATH VAR
  StrCpy $R1 1
  ${DoWhile} ${FileExists} "${PATH}.$R1.old"
    IntOp $R1 $R1 + 1
  ${Loop}
  StrCpy ${VAR} "${PATH}.$R1.old"
!macroend

; Moves an existing file aside before it is overwritten, so a failure can put it back. A file in
; use can be renamed, though not deleted or overwritten.
!macro SetAside PATH STATE
  ${If} ${FileExists} "${PATH}\*.*"
    StrCpy ${STATE} other
  ${ElseIf} ${FileExists} "${PATH}"
    !insertmacro UniqueName "${PATH}" ${STATE}
    ClearErrors
    Rename "${PATH}" ${STATE}
    ${If} ${Errors}
      DetailPrint "Moving ${PATH} aside failed"
      SetErrorLevel 2
      Abort "Moving ${PATH} aside failed"
    ${EndIf}
  ${Else}
    StrCpy ${STATE} none
  ${EndIf}
!macroend

!macro PutBack PATH STATE
  ${If} ${STATE} == none
    Delete "${PATH}"
  ${ElseIf} ${STATE} != other
  ${AndIf} ${STATE} != ""
    Delete "${PATH}"
    Rename ${STATE} "${PATH}"
  ${EndIf}
!macroend

; The old file goes now, or (still in use) at the next restart, under its own set-aside name.
!macro DropAside PATH STATE
  ${If} ${STATE} != none
  ${AndIf} ${STATE} != other
  ${AndIf} ${STATE} != ""
    Delete /REBOOTOK ${STATE}
  ${EndIf}
!macroend

; Classes go where the installer writes them, the machine's own (HKEY_CLASSES_ROOT would also
; show, and delete, a user's entry for the same CLSID).
!define CLASSES "Software\Classes\CLSID"

; Sets VAR to 1 when the class key exists in the registry view VIEW, else 0.
!macro HasClass VIEW CLSID VAR
  SetRegView ${VIEW}
  ClearErrors
  EnumRegKey $0 HKLM "${CLASSES}\${CLSID}" 0
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
    DeleteRegKey HKLM "${CLASSES}\${CLSID}"
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

; The restart operations Windows has pending (MoveFileEx's, kept as a REG_MULTI_SZ of
; source/target pairs of "\??\"-prefixed paths, a target "!"-prefixed when it may replace a file,
; an empty target for a deletion). One that would delete or replace a file this installation
; writes is taken off once the installation has succeeded; if the list cannot be changed, the
; installer refuses to start.
Var PfKey
Var PfBuffer
Var PfOut
Var PfSize
Var PfRead
Var PfEnd
Var PfWrite
Var PfNext
Var PfFound
Var PfError

; $R3 = 1 when the path in $R9 (as the list holds it) is one of this installation's files.
Function IsTarget
  StrCpy $R3 $R9 1
  ${If} $R3 == "!"
    StrCpy $R9 $R9 "" 1
  ${EndIf}
  StrCpy $R3 $R9 4
  ${If} $R3 == "\??\"
    StrCpy $R9 $R9 "" 4
  ${EndIf}
  StrCpy $R3 0
!ifdef X64
  ${If} $R9 == "$SYSDIR\dravik.dll"
  ${OrIf} $R9 == "$SYSDIR\velquin.dll"
  ${OrIf} $R9 == "$WINDIR\SysWOW64\dravik.dll"
  ${OrIf} $R9 == "$WINDIR\SysWOW64\velquin.dll"
  ${OrIf} $R9 == "$INSTDIR\wheel-check.exe"
!else
  ${If} $R9 == "$SYSDIR\dravik.dll"
  ${OrIf} $R9 == "$SYSDIR\velquin.dll"
!endif
  ${OrIf} $R9 == "$INSTDIR\wheel-check-32.exe"
  ${OrIf} $R9 == "$INSTDIR\uninstall.exe"
  ${OrIf} $R9 == "${CHECK_SHORTCUT}"
    StrCpy $R3 1
  ${EndIf}
FunctionEnd

; Reads the string at $PfRead into $R9 and sets $PfNext past it. Its length is Windows' own, so a
; string longer than an NSIS string is stepped over whole; it is not read (it would be cut short)
; and stands as "|", which is no path of ours.
Function ReadPendingString
  System::Call 'kernel32::lstrlenW(p $PfRead) i .R3'
  IntOp $R9 ${NSIS_MAX_STRLEN} - 1
  ${If} $R3 < $R9
    System::Call '*$PfRead(&w${NSIS_MAX_STRLEN} .R9)'
  ${Else}
    StrCpy $R9 "|"
  ${EndIf}
  IntOp $R3 $R3 + 1
  IntOp $R3 $R3 * 2
  IntPtrOp $PfNext $PfRead + $R3
FunctionEnd

; Loads the list with the key opened for ACCESS (1 query, 3 query and set): $PfBuffer and
; $PfSize, or $PfBuffer 0 when there is none; $PfError is the registry's error code (2 when
; there is no list). $PfKey stays open for the caller to close.
Function LoadPending
  Pop $R4
  StrCpy $PfBuffer 0
  StrCpy $PfSize 0
  ; HKEY_LOCAL_MACHINE, sign-extended as a handle is.
  System::Call 'advapi32::RegOpenKeyExW(p -2147483646, w "${SESSION_MANAGER}", i 0, i R4, *p .s) i .R3'
  Pop $PfKey
  StrCpy $PfError $R3
  ${If} $R3 != 0
    StrCpy $PfKey 0
    Return
  ${EndIf}
  ; The list grows whenever a program schedules an operation, this installer among them: read
  ; with the size it has now, and again with the new one for as long as it has outgrown the
  ; buffer (ERROR_MORE_DATA).
  ${Do}
    System::Call 'advapi32::RegQueryValueExW(p $PfKey, w "PendingFileRenameOperations", p 0, *i .R4, p 0, *i 0 R5) i .R3'
    StrCpy $PfError $R3
    ${If} $R3 != 0
      Return
    ${EndIf}
    ${If} $R4 != 7
      StrCpy $PfError 13
      Return
    ${EndIf}
    ; Zeroed, with room past the end for one read of the longest string: a list written
    ; without its terminators still ends there.
    IntOp $R6 ${NSIS_MAX_STRLEN} * 2
    IntOp $R6 $R6 + $R5
    IntOp $R6 $R6 + 8
    System::Alloc $R6
    Pop $PfBuffer
    System::Call 'advapi32::RegQueryValueExW(p $PfKey, w "PendingFileRenameOperations", p 0, p 0, p $PfBuffer, *i R5 R5) i .R3'
    StrCpy $PfError $R3
    ${If} $R3 == 0
      ${Break}
    ${EndIf}
    System::Free $PfBuffer
    StrCpy $PfBuffer 0
  ${LoopWhile} $R3 == 234
  StrCpy $PfSize $R5
  IntPtrOp $PfEnd $PfBuffer + $PfSize
FunctionEnd

Function ClosePending
  ${If} $PfBuffer != 0
    System::Free $PfBuffer
    StrCpy $PfBuffer 0
  ${EndIf}
  ${If} $PfKey != 0
    System::Call 'advapi32::RegCloseKey(p $PfKey)'
    StrCpy $PfKey 0
  ${EndIf}
FunctionEnd

; $PfFound = the first of this installation's files that the list names, or "".
Function FindPendingTarget
  StrCpy $PfFound ""
  Push 1
  Call LoadPending
  ${If} $PfBuffer != 0
    StrCpy $PfRead $PfBuffer
    ${DoWhile} $PfRead P< $PfEnd
      Call ReadPendingString
      StrCpy $PfRead $PfNext
      StrCpy $R8 $R9
      Call IsTarget
      ${If} $R3 == 1
        StrCpy $PfFound $R9
        ${Break}
      ${EndIf}
    ${Loop}
  ${EndIf}
  Call ClosePending
FunctionEnd

; Writes the list back without the pairs that name one of this installation's files.
Function DropPendingTargets
  Push 3
  Call LoadPending
  ${If} $PfBuffer == 0
    ${If} $PfError != 2
      DetailPrint "Could not read Windows' list of restart operations ($PfError)"
    ${EndIf}
    Call ClosePending
    Return
  ${EndIf}
  IntOp $R6 $PfSize + 4
  System::Alloc $R6
  Pop $PfOut
  StrCpy $PfWrite $PfOut
  StrCpy $PfRead $PfBuffer
  StrCpy $R7 0
  ${DoWhile} $PfRead P< $PfEnd
    StrCpy $R8 $PfRead
    Call ReadPendingString
    ; An empty source is the list's closing terminator.
    ${If} $R9 == ""
      ${Break}
    ${EndIf}
    Call IsTarget
    StrCpy $R2 $R3
    StrCpy $PfRead $PfNext
    ${If} $PfRead P< $PfEnd
      Call ReadPendingString
      Call IsTarget
      ${If} $R3 == 1
        StrCpy $R2 1
      ${EndIf}
      StrCpy $PfRead $PfNext
    ${EndIf}
    ${If} $R2 == 1
      IntOp $R7 $R7 + 1
    ${Else}
      IntPtrOp $R3 $PfRead - $R8
      System::Call 'kernel32::RtlMoveMemory(p $PfWrite, p R8, p R3)'
      IntPtrOp $PfWrite $PfWrite + $R3
    ${EndIf}
  ${Loop}
  ${If} $R7 != 0
    ${If} $PfWrite == $PfOut
      System::Call 'advapi32::RegDeleteValueW(p $PfKey, w "PendingFileRenameOperations") i .R3'
    ${Else}
      ; The closing terminator (the buffer is zeroed).
      IntPtrOp $PfWrite $PfWrite + 2
      IntPtrOp $R6 $PfWrite - $PfOut
      System::Call 'advapi32::RegSetValueExW(p $PfKey, w "PendingFileRenameOperations", i 0, i 7, p $PfOut, i R6) i .R3'
    ${EndIf}
    ${If} $R3 == 0
      DetailPrint "Took $R7 restart operations on this installation's files off Windows' list"
    ${Else}
      ; The next restart would take files just installed: not a success.
      DetailPrint "Could not rewrite Windows' list of restart operations ($R3): $R7 of them would remove this installation's files at the next restart"
      SetErrorLevel 5
    ${EndIf}
  ${EndIf}
  System::Free $PfOut
  Call ClosePending
FunctionEnd

; $R0 = the identity of the file named on the stack (its volume and file index), "" when it
; cannot be opened.
Function FileIdentity
  Exch $R1
  StrCpy $R0 ""
  System::Alloc 52
  Pop $R3
  System::Call 'kernel32::CreateFileW(w R1, i 0x80, i 7, p 0, i 3, i 0x02000000, p 0) p .R2'
  System::Call 'kernel32::GetFileInformationByHandle(p R2, p R3) i .R4'
  ${If} $R4 != 0
    ; BY_HANDLE_FILE_INFORMATION: dwVolumeSerialNumber at 28, nFileIndexHigh and Low at 44.
    System::Call '*$R3(i, i, i, i, i, i, i, i .R4, i, i, i, i .R5, i .R6)'
    StrCpy $R0 "$R4:$R5:$R6"
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p R2)'
  System::Free $R3
  Pop $R1
FunctionEnd

; One installer or uninstaller at a time, of either build: two at once would each undo or remove
; what the other has just written. The mutex is held until the process ends; a second one exits
; 7 having changed nothing.
!macro OneAtATime
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Global\TalvexDXWheelSetup") p .R0 ?e'
  Pop $R1
  ${If} $R0 == 0
  ${OrIf} $R1 == 183
    MessageBox MB_OK|MB_ICONSTOP "The wheel software is being installed or removed by another program. Let it finish, then try again." /SD IDOK
    SetErrorLevel 7
    Quit
  ${EndIf}
!macroend

Function .onInit
  ; The shortcut is for every user of the machine, like the libraries.
  SetShellVarContext all
!if "${ARCH}" == "x86"
  ; 64-bit Windows that runs x64 programs has the x64 installer. Windows 10 on ARM runs x86
  ; programs but no x64 ones: there the x86 libraries are all a game can load, and this installer
  ; puts them where x86 programs look (the system folder and registry view of a 32-bit program,
  ; which Windows redirects to SysWOW64 and the 32-bit view). Windows 11 on ARM runs x64
  ; programs, and says so through GetMachineTypeAttributes, which Windows 10 lacks.
  ${If} ${RunningX64}
    StrCpy $R1 0
    ${If} ${IsNativeARM64}
      System::Call 'kernel32::GetMachineTypeAttributes(i 0x8664, *i 0 R1) i .R0'
      ${If} $R0 != 0
        StrCpy $R1 0
      ${EndIf}
      IntOp $R1 $R1 & 1
      ${If} $R1 == 0
        StrCpy $R1 arm
      ${EndIf}
    ${EndIf}
    ${If} $R1 != arm
      MessageBox MB_OK|MB_ICONSTOP "This installer is for 32-bit Windows; on 64-bit Windows run TalvexDX-Setup-${VERSION}-x64.exe." /SD IDOK
      SetErrorLevel 4
      Quit
    ${EndIf}
  ${EndIf}
!endif
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "Installing the wheel software needs an administrator: right-click the installer and choose $\"Run as administrator$\"." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  !insertmacro OneAtATime

  ; An installation already there: its version decides whether this one may replace it (its
  ; folder is used through InstallDirRegKey).
  SetRegView ${NATIVE_VIEW}
  ReadRegStr $PrevLocation HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $PrevVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  SetRegView default
  ${If} $PrevVersion != ""
    ${VersionCompare} $PrevVersion "${VERSION}" $0
    ${If} $0 == 1
      MessageBox MB_YESNO|MB_ICONQUESTION "A newer version of the wheel software ($PrevVersion) is installed. Replace it with version ${VERSION}?" /SD IDNO IDYES replace
      SetErrorLevel 6
      Quit
      replace:
    ${EndIf}
  ${EndIf}

  ; A restart pending that would delete one of the files about to be written: the operation is
  ; taken off the list after a successful installation, so the list must be writable.
  Call FindPendingTarget
  ${If} $PfFound != ""
    Push 3
    Call LoadPending
    StrCpy $R0 $PfKey
    Call ClosePending
    ${If} $R0 == 0
      MessageBox MB_OK|MB_ICONSTOP "Windows has yet to finish removing $PfFound at a restart. Restart Windows first, then run the installer again." /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
  ${EndIf}

!ifdef X64
  ${If} ${IsNativeARM64}
    MessageBox MB_OK|MB_ICONINFORMATION "This is Windows on ARM: x64 and x86 games will find the wheel's force feedback, but the Game Controllers control panel cannot show the wheel's property sheet here." /SD IDOK
  ${EndIf}
!else
  ${If} ${IsNativeARM64}
    MessageBox MB_OK|MB_ICONINFORMATION "This is Windows on ARM: x86 games will find the wheel's force feedback, but the Game Controllers control panel cannot show the wheel's property sheet here." /SD IDOK
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
  ; The folder by its long name (/D= may give it in 8.3 form), as the listing and the shortcut
  ; should name it and as the comparisons with other paths below expect.
  System::Call 'kernel32::GetLongPathNameW(w "$INSTDIR", w .R0, i ${NSIS_MAX_STRLEN}) i .R1'
  ${If} $R1 > 0
  ${AndIf} $R1 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $R0
  ${EndIf}
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
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SYSDIR\velquin.dll,0"
  ; In KiB: every file this installer puts on the disk (measured when it was built).
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${ESTIMATED_KB}
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

  ; Nothing a restart has pending may take what was just written.
  Call DropPendingTargets

  ; Installed into another folder (/D=) than the one before: the old folder's uninstaller and
  ; wheel checks would be orphans of the one listing, so they go. A folder has more than one
  ; name (8.3, other letter case, a link), so "another" means that its uninstaller is another
  ; file than the one just written, never merely another string.
  ${If} $PrevLocation != ""
  ${AndIf} $PrevLocation != $INSTDIR
  ${AndIf} ${FileExists} "$PrevLocation\uninstall.exe"
    Push "$INSTDIR\uninstall.exe"
    Call FileIdentity
    StrCpy $R7 $R0
    Push "$PrevLocation\uninstall.exe"
    Call FileIdentity
    ${If} $R0 != ""
    ${AndIf} $R7 != ""
    ${AndIf} $R0 != $R7
      Delete /REBOOTOK "$PrevLocation\uninstall.exe"
      Delete /REBOOTOK "$PrevLocation\wheel-check.exe"
      Delete /REBOOTOK "$PrevLocation\wheel-check-32.exe"
      RMDir "$PrevLocation"
    ${EndIf}
  ${EndIf}
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
  !insertmacro OneAtATime
  SetRegView ${NATIVE_VIEW}
  StrCpy $Failed 0
  StrCpy $Pending 0
FunctionEnd

; Deletes a file now or, when it is in use, renames it to a name of its own and has only that
; name deleted at the next restart; counts what is left. Something else in its place (a folder)
; is not ours to remove.
!macro RemoveFile PATH
  Delete "${PATH}"
  ${If} ${FileExists} "${PATH}\*.*"
    DetailPrint "Could not remove ${PATH}"
    IntOp $Failed $Failed + 1
  ${ElseIf} ${FileExists} "${PATH}"
    !insertmacro UniqueName "${PATH}" $R0
    ClearErrors
    Rename "${PATH}" $R0
    ${If} ${Errors}
      DetailPrint "Could not remove ${PATH}"
      IntOp $Failed $Failed + 1
    ${Else}
      Delete /REBOOTOK $R0
      ${If} ${FileExists} $R0
        DetailPrint "${PATH} is in use: it goes at the next restart"
        IntOp $Pending $Pending + 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

!macro RemoveClasses
  DeleteRegKey HKLM "${CLASSES}\${VELQUIN_CLSID}"
  DeleteRegKey HKLM "${CLASSES}\${DRAVIK_CLSID}"
  !insertmacro KeyGone HKLM "${CLASSES}\${VELQUIN_CLSID}"
  !insertmacro KeyGone HKLM "${CLASSES}\${DRAVIK_CLSID}"
!macroend

!macro KeyGone ROOT KEY
  ClearErrors
  EnumRegKey $0 ${ROOT} "${KEY}" 0
  ${IfNot} ${Errors}
    DetailPrint "Could not remove ${ROOT}\${KEY}"
    IntOp $Failed $Failed + 1
  ${EndIf}
!macroend

; The interactive uninstaller says when a restart is needed.
Function un.onUninstSuccess
  ${If} $Pending != 0
    MessageBox MB_OK|MB_ICONINFORMATION "Some files were in use. They will be removed when Windows restarts." /SD IDOK
  ${EndIf}
FunctionEnd

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
  ; Started in place, the uninstaller is the running program: it moves itself out of the folder
  ; (Windows renames a running program, though it does not delete one) and goes at the next
  ; restart under that name, so the folder can go now. Where it cannot be moved, it and the
  ; folder go at the restart by their own names, as they always did (an installation before
  ; then takes those operations off Windows' list). Started from NSIS's copy, it is an ordinary
  ; file.
  SetOutPath "$TEMP"
  StrCpy $R5 ""
  ${If} $EXEDIR == $INSTDIR
    GetTempFileName $R0 "$TEMP"
    Delete $R0
    ClearErrors
    Rename "$EXEPATH" $R0
    ${If} ${Errors}
      StrCpy $R5 self
      Delete /REBOOTOK "$EXEPATH"
    ${Else}
      Delete /REBOOTOK $R0
    ${EndIf}
  ${Else}
    !insertmacro RemoveFile "$INSTDIR\uninstall.exe"
  ${EndIf}
  ; A folder that another program holds (a "Check the wheel" window open in it) goes at the next
  ; restart and says so; one that still has something else in it is left, silently.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    StrCpy $R4 ""
    FindFirst $R2 $R3 "$INSTDIR\*.*"
    ${DoWhile} $R3 != ""
      ${If} $R3 != "."
      ${AndIf} $R3 != ".."
      ${AndIf} "$R5$R3" != "selfuninstall.exe"
        StrCpy $R4 $R3
      ${EndIf}
      FindNext $R2 $R3
    ${Loop}
    FindClose $R2
    ; Held: the folder itself is open elsewhere (a current folder is), so it cannot be opened
    ; without sharing (ERROR_SHARING_VIOLATION). Without the uninstaller in it, failing to
    ; remove it empty says as much.
    StrCpy $R6 1
    ${If} $R5 == self
      System::Call 'kernel32::CreateFileW(w "$INSTDIR", i 0x80000000, i 0, p 0, i 3, i 0x02000000, p 0) p .R7 ?e'
      Pop $R6
      ${If} $R6 == 32
        StrCpy $R6 1
      ${Else}
        System::Call 'kernel32::CloseHandle(p R7)'
        StrCpy $R6 0
      ${EndIf}
    ${EndIf}
    ${If} $R4 != ""
      ; Another program's files: the folder is theirs too, and is no failure of ours.
      DetailPrint "$INSTDIR holds other files ($R4): it stays"
    ${Else}
      ClearErrors
      RMDir /REBOOTOK "$INSTDIR"
      ${If} ${Errors}
        DetailPrint "Could not remove $INSTDIR"
        IntOp $Failed $Failed + 1
      ${ElseIf} $R6 == 1
        DetailPrint "$INSTDIR is in use: it goes at the next restart"
        IntOp $Pending $Pending + 1
      ${EndIf}
    ${EndIf}
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
