; The Windows installer: both programs and the Czech catalog into Program Files, Start-menu
; shortcuts with the program's icon (the main window, and the station window alone), and an
; uninstaller registered in Add/Remove Programs.
; makensis -DVERSION=1.5.6 -DSTAGE=<folder with the files> -DICON=<.ico> -DOUTFILE=<setup.exe> ostraloader.nsi
; Silent install and uninstall: setup.exe /S, uninstall.exe /S.
Target amd64-unicode  ; a 64-bit installer for the 64-bit programs
!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Ostraloader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostraloader"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Czech"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "the Ostraloader developers"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Ostraloader"
  SetOutPath "$INSTDIR"
  File "${STAGE}/ostraloader.exe"
  File "${STAGE}/ostraloader-cli.exe"
  File "${STAGE}/README.md"
  SetOutPath "$INSTDIR\locale\cs\LC_MESSAGES"
  File "${STAGE}/locale/cs/LC_MESSAGES/ostraloader.mo"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ostraloader.exe" "" "$INSTDIR\ostraloader.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT} Station.lnk" "$INSTDIR\ostraloader.exe" "--station" "$INSTDIR\ostraloader.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Ostraloader developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostraloader.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT} Station.lnk"
  Delete "$INSTDIR\ostraloader.exe"
  Delete "$INSTDIR\ostraloader-cli.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\locale\cs\LC_MESSAGES\ostraloader.mo"
  RMDir "$INSTDIR\locale\cs\LC_MESSAGES"
  RMDir "$INSTDIR\locale\cs"
  RMDir "$INSTDIR\locale"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
