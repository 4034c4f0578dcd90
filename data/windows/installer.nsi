; The Windows installer of Zindle Beacon Setup, built by `make windows` with makensis. The defines come from
; the build: ZB_VERSION (e.g. 2.0), ZB_PROGRAM_DIR (the folder of programs and libraries to install),
; ZB_ICON (the program's icon file) and ZB_OUTFILE (the installer to write).
;
; The operator chooses an install for everyone (Program Files, needs administrator rights) or for
; himself only (his own programs folder, no rights needed); /AllUsers or /CurrentUser choose on the
; command line, /S installs without questions. The installer puts a Start-menu entry and an uninstaller
; (Uninstall.exe beside the program, which the program takes as the sign of an installed copy: its
; settings then live in the operator's application-data folder, never beside the program).
; A 64-bit installer, like the program it installs: it needs no 32-bit subsystem (Wine without one runs it).
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define ZB_NAME "Zindle Beacon Setup"
!define ZB_KEY "ZindleBeaconSetup"
!define ZB_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${ZB_KEY}"
!define ZB_SETTINGS_KEY "Software\${ZB_KEY}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${ZB_NAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${ZB_SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallFolder"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${ZB_SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh
!include x64.nsh

Name "${ZB_NAME}"
OutFile "${ZB_OUTFILE}"
BrandingText "${ZB_NAME} ${ZB_VERSION}"
VIProductVersion "${ZB_VERSION}.0.0"
VIAddVersionKey "ProductName" "${ZB_NAME}"
VIAddVersionKey "ProductVersion" "${ZB_VERSION}"
VIAddVersionKey "FileDescription" "${ZB_NAME} installer"
VIAddVersionKey "FileVersion" "${ZB_VERSION}"
VIAddVersionKey "CompanyName" "Zindle Beacon Setup developers"
VIAddVersionKey "LegalCopyright" "Zindle Beacon Setup developers"

!define MUI_ICON "${ZB_ICON}"
!define MUI_UNICON "${ZB_ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\ZBeacon.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${ZB_NAME}"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_OK|MB_ICONSTOP "${ZB_NAME} needs 64-bit Windows."
        Abort
    ${EndIf}
    SetRegView 64
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    SetRegView 64
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File /r "${ZB_PROGRAM_DIR}/*.*"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${ZB_NAME}.lnk" "$INSTDIR\ZBeacon.exe" "" "$INSTDIR\ZBeacon.exe" 0

    ; What Settings > Apps shows and how it removes the program; SHCTX is HKLM for everyone, HKCU for one.
    WriteRegStr SHCTX "${ZB_SETTINGS_KEY}" "InstallFolder" "$INSTDIR"
    WriteRegStr SHCTX "${ZB_SETTINGS_KEY}" "InstallMode" "$MultiUser.InstallMode"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "DisplayName" "${ZB_NAME}"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "DisplayVersion" "${ZB_VERSION}"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "Publisher" "Zindle Beacon Setup developers"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZBeacon.exe,0"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${ZB_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${ZB_UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${ZB_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The uninstaller removes what the installer put there and nothing else: the operator's settings,
; command files and the beacon's backups in his own folders stay.
Section "Uninstall"
    Delete "$SMPROGRAMS\${ZB_NAME}.lnk"
    !include "${ZB_UNINSTALL_LIST}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${ZB_UNINSTALL_KEY}"
    DeleteRegKey SHCTX "${ZB_SETTINGS_KEY}"
SectionEnd
