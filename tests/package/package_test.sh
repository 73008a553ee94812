#!/usr/bin/env bash
# What a user installs from BUILD_DIR: the files "cmake --install" puts under /usr, wired together
# (the desktop entry starts the launcher, the launcher the window, polkit allows the launcher), the
# icons, manual pages and bash completion, and CPack's Debian package of the same files, with its
# dependencies and no lintian errors. Exit 77 (skipped) with the reason when a tool is missing.
set -euo pipefail
BUILD=$(realpath "$1")
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate man help2man file; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool (./dev installs it)"; exit 77; }
done
[ -f /usr/share/bash-completion/bash_completion ] || { echo "SKIP: no bash-completion"; exit 77; }
[ -f "$BUILD/gui/quillmar" ] || { echo "SKIP: no window built (QUILLMAR_GUI=OFF)"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmar-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
S=usr/share
ICONS=$S/icons/hicolor
LAUNCHER=usr/libexec/quillmar/quillmar-pkexec
POLICY=$S/polkit-1/actions/org.quillmar.pkexec.run.policy
DESKTOP=$S/applications/quillmar.desktop
EXPECTED=$(printf '%s\n' usr/bin/quillmar{,-cli} $LAUNCHER $POLICY $DESKTOP \
  $S/bash-completion/completions/quillmar-cli $S/doc/quillmar/{changelog.gz,copyright} \
  $S/man/man1/quillmar{,-cli}.1.gz $ICONS/scalable/apps/quillmar.svg \
  $ICONS/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/quillmar.png | LC_ALL=C sort)
DEST=$WORK/dest
DESTDIR=$DEST cmake --install "$BUILD" --prefix /usr >/dev/null
sorted() { sed 's|^\./||' | LC_ALL=C sort; }
diff <(echo "$EXPECTED") <(cd "$DEST" && find . -type f -o -type l | sorted) ||
  fail "installed files differ"
desktop-file-validate "$DEST/$DESKTOP" || fail "desktop-file-validate"
[ -x "$DEST/$LAUNCHER" ] && sh -n "$DEST/$LAUNCHER" || fail "the launcher is no executable script"
grep -q "^Exec=/$LAUNCHER$" "$DEST/$DESKTOP" || fail "the desktop entry starts no launcher"
grep -q '^QUILLMAR=/usr/bin/quillmar$' "$DEST/$LAUNCHER" || fail "the launcher starts no window"
grep -q "exec.path\">/$LAUNCHER<" "$DEST/$POLICY" || fail "polkit does not allow the launcher"
for size in 16 32 48 64 128 256; do
  file "$DEST/$ICONS/${size}x$size/apps/quillmar.png" | grep -q "PNG image data, $size x $size" ||
    fail "icon $size"
done
for page in quillmar quillmar-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$DEST/$S/man/man1/$page.1.gz" \
    2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings on $page.1: $warnings"
done

complete_words() {  # the completions of the last word, sorted, on one line
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _quillmar_cli; printf "%s\n" "${COMPREPLY[@]}"' - \
    "$DEST/$S/bash-completion/completions/quillmar-cli" "$@" | LC_ALL=C sort | xargs
}
[ "$(complete_words quillmar-cli --yes pa)" = patch ] || fail "completing a command"
[ "$(complete_words quillmar-cli patch 1 --mpeg re)" = "reformat reset" ] || fail "--mpeg"
[ "$(complete_words quillmar-cli --undo u.qun un)" = undo ] || fail "completing after --undo FILE"
[ "$(cd "$DEST/$S/doc" && complete_words quillmar-cli --drive quill)" = quillmar ] ||
  fail "completing the --drive file"

# Without a display (also for Qt's X11 platform chosen) the window says so, after a usage error 2,
# instead of aborting in Qt.
headless() {  # SETTING ARGS...: SETTING for env, ARGS for the window
  local setting=$1
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY $setting "$BUILD/gui/quillmar" "$@" 2>&1 || echo "exit $?"
}
: >"$WORK/d.img"  # a log that is one of the drives is a usage error, as in quillmar-cli
usage=$(headless "-u QT_QPA_PLATFORM" --drive "$WORK/d.img" --log "$WORK/d.img")
[[ "$usage" == *"is the drive"*"exit 2" ]] || fail "--log naming a drive, without display"
for shown in "$(cd "$WORK" && headless QT_QPA_PLATFORM=xcb)" \
  "$(cd "$WORK" && headless "-u QT_QPA_PLATFORM" -platform xcb)"; do
  [[ "$shown" == *'"xcb" cannot open the window'*"exit 1" ]] || fail "no display: $shown"
done
shown=$(cd "$WORK" && headless "-u QT_QPA_PLATFORM DISPLAY=:97")  # named, but no server there
[[ "$shown" == *"window system could not be reached"*"exit 1" ]] || fail "unreachable: $shown"

(cd "$BUILD" && cpack -G DEB -B "$WORK/package" >/dev/null) || fail "cpack"
deb=$(ls "$WORK"/package/*.deb)
diff <(echo "$EXPECTED") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sorted) ||
  fail "packaged files differ"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)
[ -z "$report" ] || printf 'lintian says:\n%s\n' "$report"
! grep -q '^E: ' <<<"$report" || fail "lintian errors"
echo "1 passed, 0 failed"
