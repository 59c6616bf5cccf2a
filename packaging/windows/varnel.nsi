; Varnel's installer: installs for the current user only, without administrator rights, into
; %LOCALAPPDATA%\Programs\Varnel, with a Start menu shortcut and an entry in the list of installed
; programs. "setup.exe /S" installs and "uninstall.exe /S" uninstalls without asking anything.
; Its texts are English or Japanese, following the user's Windows language.
;
; Built by CMake (packaging/windows/CMakeLists.txt, target varnel_setup), which defines VERSION,
; VERSION4 (four numbers), COMPANY, COPYRIGHT, STAGE (the folder with varnel.exe, README.txt and
; LICENSE.txt), ICON and OUTFILE. The file is UTF-8 (makensis -INPUTCHARSET UTF8).

; A 64-bit installer for a 64-bit program: it also runs where Windows (or Wine) has no 32-bit part.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel"

Name "Varnel"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Varnel"
; An update goes where the last installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Varnel ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\varnel.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one used where the user's language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString SHORTCUT_DESCRIPTION ${LANG_ENGLISH} "Clipboard slots for Japanese text"
LangString SHORTCUT_DESCRIPTION ${LANG_JAPANESE} "日本語テキストのクリップボード スロット"
LangString WRITE_FAILED ${LANG_ENGLISH} "Varnel could not be installed completely: a file, the shortcut or the registry entry could not be written. If Varnel is running, close it and run the installer again."
LangString WRITE_FAILED ${LANG_JAPANESE} "Varnel を完全にはインストールできませんでした。ファイル、ショートカット、またはレジストリ項目を書き込めませんでした。Varnel が実行中の場合は、終了してからもう一度インストーラーを実行してください。"
LangString STILL_RUNNING ${LANG_ENGLISH} "Varnel is running. Close it, then uninstall again."
LangString STILL_RUNNING ${LANG_JAPANESE} "Varnel が実行中です。Varnel を終了してから、もう一度アンインストールしてください。"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Varnel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Varnel ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright ${COPYRIGHT}"

Section "Varnel"
    SetShellVarContext current
    ; Whatever cannot be written (the program may be running) ends the installation with a message
    ; and exit status 2; a silent installation would otherwise skip a file it cannot replace.
    ClearErrors
    SetOutPath "$INSTDIR"
    File "${STAGE}/varnel.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Varnel.lnk" "$INSTDIR\varnel.exe" "" "$INSTDIR\varnel.exe" 0 SW_SHOWNORMAL "" "$(SHORTCUT_DESCRIPTION)"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Varnel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnel.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    IfErrors 0 +3
        MessageBox MB_ICONSTOP|MB_OK "$(WRITE_FAILED)" /SD IDOK
        Abort "$(WRITE_FAILED)"
    ; The size shown in the list of installed programs, in KiB (GetSize clears the error flag).
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    ; The program first: while it runs it cannot be deleted, and then nothing else is removed.
    ClearErrors
    Delete "$INSTDIR\varnel.exe"
    IfErrors 0 +3
        MessageBox MB_ICONSTOP|MB_OK "$(STILL_RUNNING)" /SD IDOK
        Abort "$(STILL_RUNNING)"
    ; Only what the installer put there: the folder goes only when nothing else is left in it.
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Varnel.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
