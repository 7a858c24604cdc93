; The setup program of VARNListenFix: a 64-bit NSIS installer for all users, in Simplified
; Chinese. scripts/release (scripts/lib/release.sh) runs makensis with:
;   /DVERSION=7.3.0.0  /DSTAGE=<folder with the two exe files>  /DOUTFILE=<setup.exe>  /DICON=<app.ico>
; and -INPUTCHARSET UTF8, as this file is UTF-8.
;
; Uninstaller switches: /S (silent) keeps the user's settings and logs; /PURGE deletes them too,
; as the uninstaller's check box does.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; Installed files keep the time stamps of the staged files, which the release script sets to
; the commit's time: the same commit gives the same setup program, byte for byte.
SetDateSave on

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh

!ifndef VERSION | STAGE | OUTFILE | ICON
  !error "makensis needs /DVERSION, /DSTAGE, /DOUTFILE and /DICON"
!endif

!define PRODUCT "VARNListenFix"
!define TITLE "泽沃尼亚音频无损转换器桥接软件"
!define PUBLISHER "泽沃尼亚音频"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SETTINGS_KEY "Software\${PRODUCT}"
!define WINDOW_CLASS "VARNListenFixWindow"
; The tray menu's "退出": the program's own orderly exit (its main window only hides on WM_CLOSE).
!define EXIT_COMMAND 205
!define TASK_NAME "VARN Audio Bridge Startup"
!define SHORTCUT "$SMPROGRAMS\${TITLE}.lnk"
!define LOG_NAME "VARNListenFix.log"

!searchparse /noerrors "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "."
Name "${TITLE} V${VERSION_MAJOR}.${VERSION_MINOR}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An earlier installation's folder, unless /D= names another. This setup is a 64-bit program,
; so the key is read in the 64-bit view, where it writes it.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${TITLE}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${TITLE} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\VARNListenFix.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.UserDataPage un.UserDataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

LangString MsgNeedAdmin 2052 "需要管理员权限。请右键点击本程序，选择“以管理员身份运行”。"
LangString MsgRunning 2052 "${TITLE} 正在运行。$\r$\n$\r$\n点击“确定”关闭它并继续，点击“取消”退出。"
LangString MsgStillRunning 2052 "${TITLE} 没有退出。$\r$\n$\r$\n请从托盘菜单选择“退出”后点击“重试”，或点击“取消”退出。"
LangString MsgFileBusy 2052 "文件正被使用，无法替换或删除：$\r$\n$R0$\r$\n$\r$\n请关闭 ${TITLE}（所有用户的）后点击“重试”，或点击“取消”退出。"
LangString MsgCancelled 2052 "已取消：${TITLE} 仍在运行，未做任何更改。"
LangString MsgNotRemoved 2052 "有文件未能删除，卸载没有完成：$\r$\n$R0$\r$\n$\r$\n请关闭占用它的程序后再次卸载。"
LangString UserDataTitle 2052 "设置和日志"
LangString UserDataSubtitle 2052 "选择是否同时删除你的设置和日志。"
LangString UserDataText 2052 "默认保留你的通道选择等设置（注册表 HKEY_CURRENT_USER\${SETTINGS_KEY}）和程序日志（${LOG_NAME} 及其旧日志），重新安装后可以继续使用。"
LangString UserDataCheckbox 2052 "同时删除我的设置和日志"
LangString DetailTaskDeleted 2052 "已删除开机自启计划任务“${TASK_NAME}”"
LangString DetailNoTask 2052 "没有开机自启计划任务“${TASK_NAME}”需要删除（schtasks 返回 "
LangString DetailFolderKept 2052 "程序文件夹中还有其他文件，保留文件夹："

Var PurgeCheckbox
Var PurgeUserData  ; "1": the user's settings and logs go too

; Closes a running copy through its own exit command after asking (silently: without asking),
; and waits for its window to go. Gives up with Abort when the user cancels or it does not go.
!macro CLOSE_RUNNING_COPY un
Function ${un}CloseRunningCopy
  FindWindow $0 "${WINDOW_CLASS}"
  ${If} $0 == 0
    Return
  ${EndIf}
  MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "$(MsgRunning)" /SD IDOK IDOK close
  DetailPrint "$(MsgCancelled)"
  Abort "$(MsgCancelled)"
close:
  DetailPrint "正在关闭 ${TITLE}…"
  SendMessage $0 ${WM_COMMAND} ${EXIT_COMMAND} 0 /TIMEOUT=5000
  ; The program ends its routes' work and its worker before the window goes: allow 20 s.
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 80
      ${Break}
    ${EndIf}
    Sleep 250
  ${Loop}
  MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$(MsgStillRunning)" /SD IDCANCEL IDRETRY close
  DetailPrint "$(MsgCancelled)"
  Abort "$(MsgCancelled)"
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPY ""
!insertmacro CLOSE_RUNNING_COPY "un."

; $R0: a file that is about to be replaced or deleted. A program that is still ending (or a copy
; in another user's session) keeps its exe open; waits up to 10 s for it, then asks. Without
; this check a locked file would stop the installer half-way or be skipped.
!macro ENSURE_FILE_FREE un
Function ${un}EnsureFileFree
  ${IfNot} ${FileExists} "$R0"
    Return
  ${EndIf}
  StrCpy $1 0
retry:
  ClearErrors
  FileOpen $0 "$R0" a
  ${IfNot} ${Errors}
    FileClose $0
    Return
  ${EndIf}
  IntOp $1 $1 + 1
  ${If} $1 <= 40
    Sleep 250
    Goto retry
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$(MsgFileBusy)" /SD IDCANCEL IDRETRY retry
  DetailPrint "$(MsgCancelled)"
  Abort "$(MsgCancelled)"
FunctionEnd
!macroend
!insertmacro ENSURE_FILE_FREE ""
!insertmacro ENSURE_FILE_FREE "un."

; With UAC off, or run by a standard user who cannot elevate, the manifest alone does not give
; administrator rights: stop with a message (exit code 740, "elevation required") before a
; page suggests that Program Files could be written.
!macro REQUIRE_ADMIN
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "$(MsgNeedAdmin)" /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro REQUIRE_ADMIN
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  Call CloseRunningCopy
  StrCpy $R0 "$INSTDIR\VARNListenFix.exe"
  Call EnsureFileFree
  StrCpy $R0 "$INSTDIR\SoundVolumeView.exe"
  Call EnsureFileFree

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}\VARNListenFix.exe"
  File "${STAGE}\SoundVolumeView.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\VARNListenFix.exe" "" "$INSTDIR\VARNListenFix.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE} V${VERSION_MAJOR}.${VERSION_MINOR}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VARNListenFix.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Our three files only: the folder may also hold logs or files of the user's.
  StrCpy $2 0
  ${GetSize} "$INSTDIR" "/M=VARNListenFix.exe /S=0K /G=0" $0 $1 $1
  IntOp $2 $2 + $0
  ${GetSize} "$INSTDIR" "/M=SoundVolumeView.exe /S=0K /G=0" $0 $1 $1
  IntOp $2 $2 + $0
  ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0K /G=0" $0 $1 $1
  IntOp $2 $2 + $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $2
SectionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMIN
  SetRegView 64
  SetShellVarContext all
  StrCpy $PurgeUserData 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    StrCpy $PurgeUserData 1
  ${EndIf}
FunctionEnd

Function un.UserDataPage
  !insertmacro MUI_HEADER_TEXT "$(UserDataTitle)" "$(UserDataSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 40u "$(UserDataText)"
  Pop $0
  ${NSD_CreateCheckbox} 0 48u 100% 12u "$(UserDataCheckbox)"
  Pop $PurgeCheckbox
  ${If} $PurgeUserData == 1
    ${NSD_Check} $PurgeCheckbox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.UserDataPageLeave
  ${NSD_GetState} $PurgeCheckbox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $PurgeUserData 1
  ${Else}
    StrCpy $PurgeUserData 0
  ${EndIf}
FunctionEnd

; Deletes one file; a file that stays names itself in $R0 and sets $R1 to 1.
!macro DELETE_OR_NOTE path
  Delete "${path}"
  ${If} ${FileExists} "${path}"
    StrCpy $R0 "${path}"
    StrCpy $R1 1
  ${EndIf}
!macroend

; The program's log and its older generations, in one folder.
!macro DELETE_LOGS folder
  Delete "${folder}\${LOG_NAME}"
  Delete "${folder}\${LOG_NAME}.1"
  Delete "${folder}\${LOG_NAME}.2"
  Delete "${folder}\${LOG_NAME}.3"
  Delete "${folder}\${LOG_NAME}.4"
  Delete "${folder}\${LOG_NAME}.5"
!macroend

Section "Uninstall"
  Call un.CloseRunningCopy
  StrCpy $R0 "$INSTDIR\VARNListenFix.exe"
  Call un.EnsureFileFree

  ; The logon task starts the program from this folder: it goes first, so that a failure later
  ; never leaves a task pointing at a missing program. The 64-bit system folder's schtasks.exe,
  ; by its full path, never one found on the search path.
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  ${If} $0 == 0
    DetailPrint "$(DetailTaskDeleted)"
  ${Else}
    DetailPrint "$(DetailNoTask)$0）"
  ${EndIf}

  StrCpy $R1 0
  !insertmacro DELETE_OR_NOTE "$INSTDIR\VARNListenFix.exe"
  !insertmacro DELETE_OR_NOTE "$INSTDIR\SoundVolumeView.exe"
  Delete "${SHORTCUT}"
  ${If} $R1 == 1
    ; The entry in Programs and Features stays, so that the user can run this again.
    MessageBox MB_OK|MB_ICONSTOP "$(MsgNotRemoved)" /SD IDOK
    Abort "$(MsgNotRemoved)"
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"

  ${If} $PurgeUserData == 1
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    !insertmacro DELETE_LOGS "$INSTDIR"
    ; The program's fallback log folder when its own folder could not be written: the current
    ; user's, not the all-users folder this context names.
    SetShellVarContext current
    !insertmacro DELETE_LOGS "$LOCALAPPDATA\VARN"
    RMDir "$LOCALAPPDATA\VARN"
    SetShellVarContext all
  ${EndIf}

  ; Never recursive: the folder may be one the user chose and filled.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    DetailPrint "$(DetailFolderKept)$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
