; The Windows installer for both libraries. On 64-bit Windows it installs the x64 DLLs into
; the 64-bit system folder and the x86 DLLs into SysWOW64, each registered by the regsvr32 of
; its own bitness, so 64-bit and 32-bit games and control panels both find the wheel; on 32-bit
; Windows it installs the x86 DLLs alone. It writes the wheel's registry data and an
; uninstaller that keeps the user's own settings (Amplify, calibration).
;
; makensis -DDIST=<folder with x64\ and x86\ DLLs and the generated .nsh files> -DOUTFILE=<exe>
Unicode true
!include x64.nsh
!include LogicLib.nsh
!include "${DIST}\version.nsh"

!define PRODUCT "Talvex DX Wheel Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvexDXWheel"
!define VELQUIN_CLSID "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}"
!define DRAVIK_CLSID "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\Talvex DX"
ShowInstDetails show
AllowSkipFiles off

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "CompanyName" "Talvex"
VIAddVersionKey "LegalCopyright" "Talvex"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Registers one DLL with the given regsvr32 and checks that its class now points at it in the
; registry view of its bitness (regsvr32's exit code alone is not trusted); a failure ends the
; installation with exit code 3.
!macro Register REGSVR32 DLL VIEW CLSID
  ClearErrors
  ExecWait '"${REGSVR32}" /s "${DLL}"' $0
  SetRegView ${VIEW}
  ReadRegStr $1 HKCR "CLSID\${CLSID}\InProcServer32" ""
  SetRegView default
  ${If} ${Errors}
  ${OrIf} $0 != 0
  ${OrIf} $1 != "${DLL}"
    DetailPrint "Registering ${DLL} failed ($0, '$1')"
    SetErrorLevel 3
    Abort "Registering ${DLL} failed"
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
  ${If} ${RunningX64}
    StrCpy $INSTDIR "$PROGRAMFILES64\Talvex DX"
  ${EndIf}
FunctionEnd

Section "Install"
  ClearErrors
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro CheckErrors "Writing the uninstaller"

  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    SetOutPath "$WINDIR\System32"
    File "${DIST}\x64\dravik.dll"
    File "${DIST}\x64\velquin.dll"
    !insertmacro CheckErrors "Copying the 64-bit libraries"
    !insertmacro Register "$WINDIR\System32\regsvr32.exe" "$WINDIR\System32\dravik.dll" 64 ${DRAVIK_CLSID}
    !insertmacro Register "$WINDIR\System32\regsvr32.exe" "$WINDIR\System32\velquin.dll" 64 ${VELQUIN_CLSID}
    ${EnableX64FSRedirection}
    SetOutPath "$WINDIR\SysWOW64"
    File "${DIST}\x86\dravik.dll"
    File "${DIST}\x86\velquin.dll"
    !insertmacro CheckErrors "Copying the 32-bit libraries"
    !insertmacro Register "$WINDIR\SysWOW64\regsvr32.exe" "$WINDIR\SysWOW64\dravik.dll" 32 ${DRAVIK_CLSID}
    !insertmacro Register "$WINDIR\SysWOW64\regsvr32.exe" "$WINDIR\SysWOW64\velquin.dll" 32 ${VELQUIN_CLSID}
    SetRegView 64
  ${Else}
    SetOutPath "$SYSDIR"
    File "${DIST}\x86\dravik.dll"
    File "${DIST}\x86\velquin.dll"
    !insertmacro CheckErrors "Copying the libraries"
    !insertmacro Register "$SYSDIR\regsvr32.exe" "$SYSDIR\dravik.dll" 32 ${DRAVIK_CLSID}
    !insertmacro Register "$SYSDIR\regsvr32.exe" "$SYSDIR\velquin.dll" 32 ${VELQUIN_CLSID}
  ${EndIf}

  ClearErrors
  !include "${DIST}\wheel_data_install.nsh"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Talvex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro CheckErrors "Writing the registry"
  SetRegView default
SectionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

!macro RemoveClasses
  DeleteRegKey HKCR "CLSID\${VELQUIN_CLSID}"
  DeleteRegKey HKCR "CLSID\${DRAVIK_CLSID}"
!macroend

Section "Uninstall"
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    Delete /REBOOTOK "$WINDIR\System32\dravik.dll"
    Delete /REBOOTOK "$WINDIR\System32\velquin.dll"
    ${EnableX64FSRedirection}
    Delete /REBOOTOK "$WINDIR\SysWOW64\dravik.dll"
    Delete /REBOOTOK "$WINDIR\SysWOW64\velquin.dll"
    SetRegView 64
    !insertmacro RemoveClasses
    SetRegView 32
    !insertmacro RemoveClasses
    SetRegView 64
  ${Else}
    Delete /REBOOTOK "$SYSDIR\dravik.dll"
    Delete /REBOOTOK "$SYSDIR\velquin.dll"
    !insertmacro RemoveClasses
  ${EndIf}
  ; The wheel's own keys go; the user's Amplify and calibration values stay.
  !include "${DIST}\wheel_data_uninstall.nsh"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
