; The Windows installer: puts the module where the OBS Studio found loads
; plug-ins from outside its own folder, %ProgramData%\obs-studio\plugins\
; tavimore-free\bin\64bit and ...\data (OBS 29.0.2 and later, unless OBS runs
; in portable mode, where OBS 30 and later skip that folder); otherwise into
; OBS's own folder, in the layout of the zip (obs-plugins\64bit\
; tavimore-free.dll, data\obs-plugins\tavimore-free\...). A copy in the other
; place is removed, so that OBS never loads the module twice. Registers an
; uninstaller.
; Made by scripts/package-windows.sh:
;   makensis -DVERSION=... -DSTAGE=<the zip's files> -DOUTFILE=... installer.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WordFunc.nsh"

!define NAME "Tavimore Zoom for OBS Studio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavimore-free"
; OBS Studio's own installer writes this entry
!define OBS_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OBS Studio"
!define DATA "data\obs-plugins\tavimore-free"
; the plug-in folder outside OBS's, under %ProgramData%
!define SHARED "obs-studio\plugins\tavimore-free"
; the first OBS whose source (Debian's 29.0.2) shows it searching that folder
!define SHARED_SINCE "29.0.2"

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

; The version of the OBS in $INSTDIR: its obs64.exe's version resource, else
; the DisplayVersion of OBS's uninstall entry; "" when neither says
Function ObsVersion
	Push $0
	Push $1
	Push $2
	ClearErrors
	GetDLLVersion "$INSTDIR\bin\64bit\obs64.exe" $0 $1
	${IfNot} ${Errors}
		IntOp $2 $0 >> 16
		IntOp $0 $0 & 0xFFFF
		IntOp $1 $1 >> 16
		StrCpy $0 "$2.$0.$1"
	${Else}
		ReadRegStr $0 HKLM "${OBS_UNINSTALL_KEY}" "DisplayVersion"
	${EndIf}
	Pop $2
	Pop $1
	Exch $0
FunctionEnd

; Whether the OBS in $INSTDIR loads plug-ins from %ProgramData%: "1" or ""
Function ObsSearchesProgramData
	Push $0
	Push $1
	Call ObsVersion
	Pop $0
	StrCpy $1 ""
	${If} $0 != ""
		${VersionCompare} $0 "${SHARED_SINCE}" $1
		${If} $1 == 2
			StrCpy $1 ""
		${Else}
			StrCpy $1 "1"
		${EndIf}
	${EndIf}
	; a portable OBS (OBS's own marker files) keeps its plug-ins with it
	${If} ${FileExists} "$INSTDIR\portable_mode"
	${OrIf} ${FileExists} "$INSTDIR\obs_portable_mode"
	${OrIf} ${FileExists} "$INSTDIR\portable_mode.txt"
	${OrIf} ${FileExists} "$INSTDIR\obs_portable_mode.txt"
		StrCpy $1 ""
	${EndIf}
	Exch $1
	Exch
	Pop $0
FunctionEnd

Section "Install"
	SetRegView 64
	SetShellVarContext all
	Call ObsSearchesProgramData
	Pop $0
	${If} $0 == "1"
		StrCpy $1 "$APPDATA\${SHARED}"
		SetOutPath "$1\bin\64bit"
		File "${STAGE}\obs-plugins\64bit\tavimore-free.dll"
		SetOutPath "$1\data"
		File /r "${STAGE}\${DATA}\*"
		StrCpy $2 "$1\data"
		; an earlier copy in OBS's own folder would load as well
		Delete "$INSTDIR\obs-plugins\64bit\tavimore-free.dll"
		RMDir /r "$INSTDIR\${DATA}"
	${Else}
		StrCpy $1 "$INSTDIR"
		SetOutPath "$1\obs-plugins\64bit"
		File "${STAGE}\obs-plugins\64bit\tavimore-free.dll"
		SetOutPath "$1\${DATA}"
		File /r "${STAGE}\${DATA}\*"
		StrCpy $2 "$1\${DATA}"
		RMDir /r "$APPDATA\${SHARED}"
	${EndIf}
	WriteUninstaller "$2\uninstall.exe"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "tavimore-free developers"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$1"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$2\uninstall.exe"'
	WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$2\uninstall.exe" /S'
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The uninstaller sits in the module's data folder: $INSTDIR is that folder
Function un.onInit
	SetRegView 64
FunctionEnd

; $INSTDIR is the module's data folder: ...\tavimore-free\data beside
; bin\64bit under %ProgramData%, or OBS's data\obs-plugins\tavimore-free
Section "Uninstall"
	SetRegView 64
	Push $INSTDIR
	Call un.ParentFolder
	Pop $0
	${If} ${FileExists} "$0\bin\64bit\tavimore-free.dll"
		RMDir /r "$0"
	${Else}
		Push $0
		Call un.ParentFolder
		Call un.ParentFolder
		Pop $0
		Delete "$0\obs-plugins\64bit\tavimore-free.dll"
		RMDir /r "$0\${DATA}"
	${EndIf}
	DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
