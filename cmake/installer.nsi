; The Windows installer: puts the module into OBS Studio's own folder, in
; the layout of the zip (obs-plugins\64bit\tavimore-free.dll,
; data\obs-plugins\tavimore-free\...), and registers an uninstaller.
; Made by scripts/package-windows.sh:
;   makensis -DVERSION=... -DSTAGE=<the zip's files> -DOUTFILE=... installer.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define NAME "Tavimore Zoom for OBS Studio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavimore-free"
; OBS Studio's own installer writes this entry
!define OBS_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OBS Studio"
!define DATA "data\obs-plugins\tavimore-free"

Name "${NAME}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\obs-studio"
BrandingText "tavimore-free ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} installer"
VIAddVersionKey "LegalCopyright" "GPL-2.0-or-later"

!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs the filter into OBS Studio's folder, found from OBS Studio's own installation. Choose another folder only if OBS Studio is elsewhere."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\${DATA}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; OBS's folder: its uninstall entry's InstallLocation, else the folder of its
; UninstallString; without either, the default above
Function .onInit
	SetRegView 64
	ReadRegStr $0 HKLM "${OBS_UNINSTALL_KEY}" "InstallLocation"
	${If} $0 == ""
		ReadRegStr $0 HKLM "${OBS_UNINSTALL_KEY}" "UninstallString"
		${If} $0 != ""
			; "C:\...\obs-studio\uninstall.exe", quoted or not
			StrCpy $1 $0 1
			${If} $1 == '"'
				StrCpy $0 $0 "" 1
				StrCpy $0 $0 -1
			${EndIf}
			Push $0
			Call ParentFolder
			Pop $0
		${EndIf}
	${EndIf}
	${If} $0 != ""
		StrCpy $INSTDIR $0
	${EndIf}
FunctionEnd

; The folder part of a path: everything before its last backslash (one
; function for the installer, one for the uninstaller)
!macro PARENT_FOLDER un
Function ${un}ParentFolder
	Exch $0
	Push $1
	Push $2
	StrLen $1 $0
	${Do}
		IntOp $1 $1 - 1
		${If} $1 < 0
			StrCpy $0 ""
			${Break}
		${EndIf}
		StrCpy $2 $0 1 $1
		${If} $2 == "\"
			StrCpy $0 $0 $1
			${Break}
		${EndIf}
	${Loop}
	Pop $2
	Pop $1
	Exch $0
FunctionEnd
!macroend
!insertmacro PARENT_FOLDER ""
!insertmacro PARENT_FOLDER "un."

Section "Install"
	SetRegView 64
	SetOutPath "$INSTDIR\obs-plugins\64bit"
	File "${STAGE}\obs-plugins\64bit\tavimore-free.dll"
	SetOutPath "$INSTDIR\${DATA}"
	File /r "${STAGE}\${DATA}\*"
	WriteUninstaller "$INSTDIR\${DATA}\uninstall.exe"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "tavimore-free developers"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${DATA}\uninstall.exe"'
	WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${DATA}\uninstall.exe" /S'
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The uninstaller sits in the module's data folder: $INSTDIR is that folder
Function un.onInit
	SetRegView 64
FunctionEnd

Section "Uninstall"
	SetRegView 64
	ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
	${If} $0 == ""
		; the data folder is OBS's data\obs-plugins\tavimore-free
		Push $INSTDIR
		Call un.ParentFolder
		Call un.ParentFolder
		Call un.ParentFolder
		Pop $0
	${EndIf}
	Delete "$0\obs-plugins\64bit\tavimore-free.dll"
	RMDir /r "$0\${DATA}"
	DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
