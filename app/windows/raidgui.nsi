; The Windows installer: the programs and their runtime under Program Files,
; Start menu entries for the window and the uninstaller, and an entry in the
; list of installed programs. Made by scripts/package-windows.sh, which
; defines VERSION, STAGE (the installed programs), FILES (the uninstaller's
; list of what it removes) and OUTFILE.
; A 64-bit installer, as the programs are (it also runs under wine64 alone).
Target amd64-unicode
SetCompressor /SOLID lzma
Name "RAID GUI ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\RAID GUI"
InstallDirRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\RaidGui" "InstallLocation"
; The programs open the disks and write HKEY_LOCAL_MACHINE.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RaidGui"
!define MENU "$SMPROGRAMS\RAID GUI"

Section "RAID GUI"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU}"
  CreateShortcut "${MENU}\RAID GUI.lnk" "$INSTDIR\raidgui.exe" "" "$INSTDIR\raidgui.exe" 0
  CreateShortcut "${MENU}\Uninstall RAID GUI.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "RAID GUI"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\raidgui.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  ; Only the files the installer put there (a folder the user chose may hold
  ; others); the day logs beside the programs and the mail settings in the
  ; registry are kept.
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${MENU}\RAID GUI.lnk"
  Delete "${MENU}\Uninstall RAID GUI.lnk"
  RMDir "${MENU}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
