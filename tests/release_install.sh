#!/usr/bin/env bash
# The setup program in the test prefix, silently, as an administrator would run it: install,
# install again over the running program, start the installed program on a simulated world,
# uninstall (the way Programs and Features does, keeping settings and logs), then install and
# uninstall once more with /PURGE. The packages are made by scripts/lib/release.sh from this
# build's program and our own sound tool, which reaches the simulated world through the fake
# Core Audio server's policy object, as it would reach Windows'. Needs VARN_BUILD_DIR, Xvfb (DISPLAY) and the prefix, as under
# scripts/test. Prints one line per check; exits 1 when any failed.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${VARN_BUILD_DIR:?VARN_BUILD_DIR is not set}"
source "$root/scripts/lib/wine-env.sh"
source "$root/scripts/lib/release.sh"
wine_prepare_prefix || exit 1

work="$VARN_BUILD_DIR/release-install"
instdir="$WINEPREFIX/drive_c/Program Files/VARNListenFix"
win_instdir='C:\Program Files\VARNListenFix'
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/泽沃尼亚音频无损转换器桥接软件.lnk"
fallback_logs="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/VARN"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VARNListenFix'
settings_key='HKCU\Software\VARNListenFix'
task='VARN Audio Bridge Startup'
failures=0

check() {  # check <what> <command...>
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# A Wine program with its output in a file, never a pipe; the exit code is the program's.
run_wine() { wine "$@" </dev/null >>"$work/wine.out" 2>&1; }
wait_for() {  # wait_for <seconds> <command...>: polls every 0.2 s
  local deadline=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
reg_query() { wine reg query "$@" </dev/null >/dev/null 2>&1; }
# The data of a value as the key's export shows it (UTF-16, so Chinese survives, unlike reg
# query's console output): a string unescaped, a DWORD as 0x followed by eight hex digits.
reg_value() {  # reg_value <key> <name>
  rm -f "$work/value.reg"
  wine reg export "$1" "$(winpath "$work/value.reg")" /y </dev/null >/dev/null 2>&1 || return 1
  iconv -f UTF-16LE -t UTF-8 "$work/value.reg" | tr -d '\r' | sed -n "s/^\"$2\"=//p" |
    sed -e 's/^dword:/0x/' -e 's/^"\(.*\)"$/\1/' -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}
value_is() { [ "$(reg_value "$1" "$2")" = "$3" ]; }
key_gone() { ! reg_query "$1"; }
log_count() { cat "$instdir/VARNListenFix.log" 2>/dev/null | grep -c -F "$1"; }
log_count_is() { [ "$(log_count "$1")" -ge "$2" ]; }
gone() { [ ! -e "$1" ]; }
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
# The uninstaller copies itself to %TEMP% and starts the copy, which does the work, and the
# first one exits at once. The copy deletes the uninstall key as its last step; it is done when
# that key is gone and no process runs a temporary uninstaller copy ("~nsu1.tmp\Un.exe"; the
# pattern is written so that grep's own command line does not match it). A copy just started
# may not show that name yet, hence the key.
uninstaller_done() { key_gone "$uninstall_key" && ! grep -l -a -E '~ns[u]' /proc/[0-9]*/cmdline >/dev/null 2>&1; }
# Only log files of the program are left in the folder.
only_logs_and_notes() {
  local f
  for f in "$instdir"/*; do
    case $(basename "$f") in VARNListenFix.log|VARNListenFix.log.[1-5]|my-notes.txt) ;; *) return 1 ;; esac
  done
}

# The end of the program's start-up work (worker task 12), which also aligns the logon task.
startup_done='任务结束 op=12 '
start_program() {  # the program as the Start-menu entry starts it, from its folder
  (cd "$instdir" && exec wine "$win_instdir\\VARNListenFix.exe") </dev/null >>"$work/program.out" 2>&1 &
  program_pid=$!
}

# A leftover of an earlier run that died half-way must not decide this one.
leftovers() {
  wine reg delete "$uninstall_key" /f </dev/null >/dev/null 2>&1
  rm -rf "$instdir" "$shortcut"
}
settings_saved=0
restore_settings() {
  [ -n "${program_pid:-}" ] && kill "$program_pid" 2>/dev/null
  leftovers
  wine reg delete "$settings_key" /f </dev/null >/dev/null 2>&1
  [ "$settings_saved" = 1 ] && wine reg import "$(winpath "$work/settings-backup.reg")" </dev/null >/dev/null 2>&1
}

rm -rf "$work" && mkdir -p "$work/world" || exit 1
epoch=$(release_epoch "$root") || exit 1
release_package "$root" "$VARN_BUILD_DIR/VARNListenFix.exe" "$VARN_BUILD_DIR/tool/SoundVolumeView.exe" \
                "$work/dist" "$epoch" || { echo "FAILED: the packages could not be made"; exit 1; }
setup=$(ls "$work"/dist/VARNListenFix-*-setup.exe)
version=$(release_version "$root")

leftovers
wine reg export "$settings_key" "$(winpath "$work/settings-backup.reg")" /y </dev/null >/dev/null 2>&1 && settings_saved=1
trap restore_settings EXIT
# The user's own settings, which an uninstall keeps unless asked otherwise.
run_wine reg add "$settings_key" /v ReleaseTestMarker /t REG_SZ /d kept /f
export AUDIOSIM_DIR
AUDIOSIM_DIR="Z:$(echo "$work/world" | tr / '\\')"
run_wine "$VARN_BUILD_DIR/sim/audiosim.exe" init || { echo "FAILED: no simulated world"; exit 1; }

echo "== install"
run_wine "$setup" /S
check "setup /S exits 0" [ $? -eq 0 ]
for f in VARNListenFix.exe SoundVolumeView.exe uninstall.exe; do check "installed: $f" [ -f "$instdir/$f" ]; done
check "the installed program is this build's" cmp -s "$instdir/VARNListenFix.exe" "$VARN_BUILD_DIR/VARNListenFix.exe"
check "the installed sound tool is our own, this build's" cmp -s "$instdir/SoundVolumeView.exe" "$VARN_BUILD_DIR/tool/SoundVolumeView.exe"
check "Start-menu entry (all users)" [ -f "$shortcut" ]
check "DisplayVersion $version" value_is "$uninstall_key" DisplayVersion "$version"
check "DisplayName" value_is "$uninstall_key" DisplayName "泽沃尼亚音频无损转换器桥接软件 V${version%.*.*}"
check "Publisher" value_is "$uninstall_key" Publisher "泽沃尼亚音频"
check "DisplayIcon" value_is "$uninstall_key" DisplayIcon "$win_instdir\\VARNListenFix.exe,0"
check "InstallLocation" value_is "$uninstall_key" InstallLocation "$win_instdir"
check "UninstallString" value_is "$uninstall_key" UninstallString "\"$win_instdir\\uninstall.exe\""
check "QuietUninstallString" value_is "$uninstall_key" QuietUninstallString "\"$win_instdir\\uninstall.exe\" /S"
check "NoModify" value_is "$uninstall_key" NoModify 0x00000001
check "NoRepair" value_is "$uninstall_key" NoRepair 0x00000001
size_kib=$(($(reg_value "$uninstall_key" EstimatedSize)))
files_kib=$(($(cat "$instdir"/*.exe | wc -c) / 1024))
within() { [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }
check "EstimatedSize $size_kib KiB is the installed files' ($files_kib KiB)" within "$size_kib" $((files_kib - 3)) $((files_kib + 3))

echo "== the installed program runs; setup again over it"
start_program
check "the installed program starts on the simulated world" wait_for 30 log_count_is "$startup_done" 1
# Its automatic connect goes through the installed sound tool, which the fake server journals.
check "the installed program connects through the installed sound tool" \
      wait_for 30 log_count_is '操作完成 [启动自动连接] 结果=成功，当前在侦听' 1
check "the installed tool's runs are in the journal" grep -q -F '/SetListenToThisDevice' "$work/world/journal.log"
touch -d '2001-01-01' "$instdir/VARNListenFix.exe"
run_wine "$setup" /S
check "setup /S over the running program exits 0" [ $? -eq 0 ]
check "the running program was ended through its exit command" log_count_is '用户从托盘菜单退出程序' 1
check "the running program's process is gone" wait_for 10 program_ended
check "the program file was replaced" [ "$(stat -c %Y "$instdir/VARNListenFix.exe")" != "$(date -d 2001-01-01 +%s)" ]

echo "== uninstall, keeping settings and logs"
start_program
check "the program runs again" wait_for 30 log_count_is "$startup_done" 2
echo "notes of the user's" >"$instdir/my-notes.txt"
# The logon task as the program makes it with autostart on (the stand-in schtasks.exe's state;
# the program aligned the task in its start-up work, so it is written only now).
printf '%s\r\n' "$task" >"$work/world/schtasks_tasks.txt"
journal_lines=$(wc -l <"$work/world/schtasks_journal.log")
uninstaller_deleted_task() {
  tail -n +$((journal_lines + 1)) "$work/world/schtasks_journal.log" | grep -q -F "/Delete /TN \"$task\" /F"
}
run_wine "$win_instdir\\uninstall.exe" /S
check "uninstall.exe /S exits 0" [ $? -eq 0 ]
check "the uninstaller ends" wait_for 30 uninstaller_done
check "the running program was ended first" wait_for 10 program_ended
check "the program ended through its exit command" log_count_is '用户从托盘菜单退出程序' 2
for f in VARNListenFix.exe SoundVolumeView.exe uninstall.exe; do check "removed: $f" gone "$instdir/$f"; done
check "Start-menu entry removed" gone "$shortcut"
check "uninstall key removed" key_gone "$uninstall_key"
check "the log is kept" [ -f "$instdir/VARNListenFix.log" ]
check "a file of the user's in the folder is kept" [ -f "$instdir/my-notes.txt" ]
check "nothing but logs and the user's file is left" only_logs_and_notes
check "the settings are kept" value_is "$settings_key" ReleaseTestMarker kept
check "the uninstaller deleted the logon task with the system folder's schtasks.exe" uninstaller_deleted_task
check "the logon task is gone" bash -c "! grep -q -F '$task' '$work/world/schtasks_tasks.txt'"

echo "== install again, uninstall with /PURGE"
rm -f "$instdir/my-notes.txt"
mkdir -p "$fallback_logs"
echo "older log" >"$fallback_logs/VARNListenFix.log.2"
echo "someone else's" >"$fallback_logs/other.txt"
run_wine "$setup" /S
check "setup /S over the kept logs exits 0" [ $? -eq 0 ]
check "the earlier log is still there after the install" [ -f "$instdir/VARNListenFix.log" ]
run_wine "$win_instdir\\uninstall.exe" /S /PURGE
check "uninstall.exe /S /PURGE exits 0" [ $? -eq 0 ]
check "the uninstaller ends" wait_for 30 uninstaller_done
check "the program folder is gone" gone "$instdir"
check "uninstall key removed" key_gone "$uninstall_key"
check "the settings key is deleted" key_gone "$settings_key"
check "the fallback folder's log is deleted" gone "$fallback_logs/VARNListenFix.log.2"
check "another file in the fallback folder is kept" [ -f "$fallback_logs/other.txt" ]
rm -f "$fallback_logs/other.txt"; rmdir "$fallback_logs" 2>/dev/null

if [ "$failures" -gt 0 ]; then echo "$failures checks FAILED"; exit 1; fi
echo "all checks passed"
