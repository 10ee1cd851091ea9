; The Windows installer: the programs and their runtime under Program Files,
; Start menu entries for the window and the uninstaller, an entry in the
; list of installed programs, and (offered, chosen by default) the monitor
; raidmon as a Windows service that starts with the system and serves the
; window and raidctl on the pipe \\.\pipe\raidgui-raidmon. Made by scripts/package-windows.sh, which
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

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Stops the monitor service when it runs and waits (90 s at most) until it
; has stopped, so that its program file may be replaced or removed.
!macro StopMonitorService UN
  nsExec::ExecToLog 'sc.exe stop raidmon'
  Pop $0
  StrCpy $1 0
  wait_stopped:
    nsExec::ExecToStack 'sc.exe query raidmon'
    Pop $0 ; exit code: not 0 when there is no such service
    Pop $2 ; what it printed
    StrCmp $0 "0" 0 stopped
    Push $2
    Push "STOPPED"
    Call ${UN}StrContains
    Pop $3
    StrCmp $3 "" 0 stopped
    IntOp $1 $1 + 1
    IntCmp $1 90 stopped
    Sleep 1000
    Goto wait_stopped
  stopped:
!macroend

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RaidGui"
!define MENU "$SMPROGRAMS\RAID GUI"

Section "RAID GUI"
  SetRegView 64
  SetShellVarContext all
  ; An installed monitor service holds raidmon.exe open: stopped first (the
  ; service section starts it again).
  !insertmacro StopMonitorService ""
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

; The monitor as a service: as the system, started now and with every
; start of Windows, its day logs under ProgramData. The window and raidctl
; of any user show and ask it; changes need an administrator.
Section "Monitor service (raidmon)" ServiceSection
  SetRegView 64
  SetShellVarContext all
  CreateDirectory "$APPDATA\RAID GUI\logs"
  nsExec::ExecToLog 'sc.exe create raidmon binPath= "\"$INSTDIR\raidmon.exe\" --windows-service --listen \\.\pipe\raidgui-raidmon --log-dir \"$APPDATA\RAID GUI\logs\"" start= auto DisplayName= "RAID enclosure monitor"'
  Pop $0
  ; Installed before: it takes this installation's program.
  StrCmp $0 "0" created
  nsExec::ExecToLog 'sc.exe config raidmon binPath= "\"$INSTDIR\raidmon.exe\" --windows-service --listen \\.\pipe\raidgui-raidmon --log-dir \"$APPDATA\RAID GUI\logs\"" start= auto'
  Pop $0
  created:
  ; Started again after a failure (10 s later), as the Linux unit does.
  nsExec::ExecToLog 'sc.exe failure raidmon reset= 86400 actions= restart/10000/restart/10000/restart/10000'
  Pop $0
  nsExec::ExecToLog 'sc.exe description raidmon "Watches the RAID enclosures, writes their day log, mails their failures and serves the RAID GUI window and raidctl."'
  Pop $0
  nsExec::ExecToLog 'sc.exe start raidmon'
  Pop $0
SectionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  ; The service first (if it was installed): stopped, then removed, so its
  ; program file is free to go.
  !insertmacro StopMonitorService "un."
  nsExec::ExecToLog 'sc.exe delete raidmon'
  Pop $0
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

; Whether the text below the top of the stack holds the one on the top:
; leaves the match, or "" when there is none.
!macro DefineStrContains UN
Function ${UN}StrContains
  Exch $R0 ; needle
  Exch
  Exch $R1 ; haystack
  Push $R2
  Push $R3
  Push $R4
  StrLen $R2 $R0
  StrCpy $R3 0
  loop:
    StrCpy $R4 $R1 $R2 $R3
    StrCmp $R4 $R0 found
    StrCmp $R4 "" notfound
    IntOp $R3 $R3 + 1
    Goto loop
  found:
    StrCpy $R0 $R4
    Goto done
  notfound:
    StrCpy $R0 ""
  done:
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro DefineStrContains ""
!insertmacro DefineStrContains "un."
