; The wizard's installer: per user, no administrator rights. It writes the program folder
; and one Start-menu entry, nothing else (no registry, no other folders); the uninstaller
; in the program folder removes both.
;   makensis -INPUTCHARSET UTF8 -DICON=<.ico> -DFILES=<file list .nsh>
;            -DUNFILES=<removal list .nsh> -DOUT=<setup .exe> installer.nsi
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define NAME "ВЕРТАЛ-КП Визард"
!define VERSION "1.05"

Name "${NAME} ${VERSION}"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\ВЕРТАЛ-КП Визард"
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails show

VIProductVersion "1.5.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${NAME}"
VIAddVersionKey /LANG=0 "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "ВЕРТАЛ"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    !include "${FILES}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\vertal-wizard.exe" "" \
        "$INSTDIR\vertal-wizard.exe" 0
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\${NAME}.lnk"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$LOCALAPPDATA\Programs" ; made for us if it was not there; kept if anything is in it
SectionEnd
