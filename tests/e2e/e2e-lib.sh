# Shared by the end-to-end cases and the sandbox: a Wine prefix with the product's registry
# traces, stand-ins for the maker's installer and msiexec that record their arguments, and a
# way to point ProgramFiles and ProgramData elsewhere. Source with BUILD set to the Windows
# build directory. The program runs its commands from the system directory, so the msiexec
# stand-in lives there; Wine prefers its own msiexec unless WINEDLLOVERRIDES says otherwise.
: "${BUILD:?}"
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEARCH=win64 WINEDEBUG=-all
WINE_RUN=$BUILD/wine-run
CLEANUP_EXE=${CLEANUP_EXE:-$BUILD/cleanup.exe}  # another build's, to show a case fails there
REGISTRY_TOOL=$BUILD/tests/e2e/e2e_registry.exe
RECORDER=$BUILD/tests/e2e/record_args.exe
RACE_TOOL=$BUILD/tests/e2e/race.exe
LAUNCHER=$BUILD/tests/e2e/launch.exe
MSI_STATE=$BUILD/tests/e2e/msi_state.exe
PACKAGES=$BUILD/tests/e2e
PRODUCT_CODE='{4A4724E0-4100-0720-0000-C1F702640DB7}'
NEIGHBOUR_CODE='{6B0C9E21-3D4F-4A58-9B71-2C8E5F0A1D34}'
PROGRAM_FILES='C:\Program Files (x86 e2e) Test'
SYSTEM_DIR='C:\windows\system32'
WAIT_LINE='Please wait while product cleanup completes...'

unix_path() { # C:\a\b -> $WINEPREFIX/drive_c/a/b
  local rest=${1#C:\\}
  echo "$WINEPREFIX/drive_c/${rest//\\//}"
}

installer_log() { echo "$(unix_path "$PROGRAM_FILES")/Morvanta/MoQUAV/V1/Installer.exe.args"; }
msiexec_log() { echo "$(unix_path "$SYSTEM_DIR")/msiexec.exe.args"; }
msiexec_answers() { echo "$(unix_path "$SYSTEM_DIR")/msiexec.exe.answers"; }  # its exit statuses in turn
windows_path() { echo "Z:${1//\//\\}"; } # /a/b -> Z:\a\b

# Where Wine takes ProgramFiles and ProgramData from in every new process.
set_program_files() { "$WINE_RUN" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /d "$1" /f >/dev/null; }
unset_program_files() { "$WINE_RUN" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /f >/dev/null; }
set_program_data() { "$WINE_RUN" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList' /v ProgramData /d "$1" /f >/dev/null; }
unset_program_data() { "$WINE_RUN" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList' /v ProgramData /f >/dev/null; }

# Wine's own Windows Installer: a package of tests/e2e installed quietly, what the Installer API
# says of a product, and where the package's one file was installed (empty when it is not).
install_package() { "$WINE_RUN" msiexec /i "$(windows_path "$PACKAGES/$1.msi")" /qn; }
msi_state() { # its answer; when it failed or said nothing, its exit status instead
  local answer status=0
  answer=$("$WINE_RUN" "$MSI_STATE" "$1" | tr -d '\r') || status=$?
  [ "$status" == 0 ] && [ -n "$answer" ] && echo "$answer" || echo "no answer from msi_state: exit status $status, stdout ${answer:-(empty)}"
}
installed_file() { find "$WINEPREFIX/drive_c" -path "*/Cleanup Test $1/payload.txt"; }

# A seeded registry, default directories, fresh stand-ins with empty logs.
arrange() {
  set_program_files "$PROGRAM_FILES"
  set_program_data 'C:\ProgramData'
  local installer_dir
  installer_dir=$(dirname "$(installer_log)")
  mkdir -p "$installer_dir"
  cp "$RECORDER" "$installer_dir/Installer.exe"
  cp "$RECORDER" "$(unix_path "$SYSTEM_DIR")/msiexec.exe"
  rm -f "$(installer_log)" "$(msiexec_log)" "$(msiexec_answers)"
  "$WINE_RUN" "$REGISTRY_TOOL" seed
}

# Runs cleanup.exe, in the current directory, with the stand-in msiexec; sets OUTPUT, ERRORS and
# STATUS. With LAUNCH set (an array of launch's options, say --without-comspec, or
# --set NAME=VALUE...), a Windows parent starts it with them; with
# REAL_MSIEXEC set, Wine's own msiexec does the removal; with NICE set, it runs at that niceness.
run_cleanup() {
  local out err
  out=$(mktemp) err=$(mktemp)
  STATUS=0
  local command=("$CLEANUP_EXE")
  [ -z "${LAUNCH[*]:-}" ] || command=("$LAUNCHER" "${LAUNCH[@]}" "$(windows_path "$CLEANUP_EXE")")
  local overrides=msiexec.exe=n
  [ -z "${REAL_MSIEXEC:-}" ] || overrides=
  WINEDLLOVERRIDES=$overrides nice -n "${NICE:-0}" "$WINE_RUN" "${command[@]}" "$@" >"$out" 2>"$err" || STATUS=$?
  OUTPUT=$(tr -d '\r' <"$out")
  ERRORS=$(tr -d '\r' <"$err")
  rm -f "$out" "$err"
}
