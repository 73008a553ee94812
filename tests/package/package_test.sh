#!/usr/bin/env bash
# What a user installs: every file "cmake --install" puts under /usr in a DESTDIR, the desktop
# entry (desktop-file-validate), the manual pages (man --warnings), the launcher named by the
# desktop entry and the polkit action, the bash completion, and the Debian package made by CPack
# from the same build: its files, its dependencies from dpkg-shlibdeps, and lintian without
# errors. Exit 77 (skipped) with the reason when a tool is missing.
#   package_test.sh BUILD_DIR
set -euo pipefail
BUILD=$(realpath "$1")
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate man help2man; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (./dev installs it)"; exit 77; }
done
[ -f "$BUILD/gui/quillmar" ] || { echo "SKIP: the window is not built (QUILLMAR_GUI=OFF)"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmar-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

EXPECTED="usr/bin/quillmar
usr/bin/quillmar-cli
usr/libexec/quillmar/quillmar-pkexec
usr/share/applications/quillmar.desktop
usr/share/bash-completion/completions/quillmar-cli
usr/share/doc/quillmar/changelog.gz
usr/share/doc/quillmar/copyright
usr/share/icons/hicolor/128x128/apps/quillmar.png
usr/share/icons/hicolor/16x16/apps/quillmar.png
usr/share/icons/hicolor/256x256/apps/quillmar.png
usr/share/icons/hicolor/32x32/apps/quillmar.png
usr/share/icons/hicolor/48x48/apps/quillmar.png
usr/share/icons/hicolor/64x64/apps/quillmar.png
usr/share/icons/hicolor/scalable/apps/quillmar.svg
usr/share/man/man1/quillmar-cli.1.gz
usr/share/man/man1/quillmar.1.gz
usr/share/polkit-1/actions/org.quillmar.pkexec.run.policy"

# 1. The install rules.
DEST=$WORK/dest
DESTDIR=$DEST cmake --install "$BUILD" --prefix /usr >/dev/null
installed=$(cd "$DEST" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$EXPECTED" ] || fail "installed files differ:
$(diff <(echo "$EXPECTED") <(echo "$installed"))"

desktop-file-validate "$DEST/usr/share/applications/quillmar.desktop" ||
  fail "desktop-file-validate"
grep -qx 'Exec=/usr/libexec/quillmar/quillmar-pkexec' "$DEST/usr/share/applications/quillmar.desktop" ||
  fail "the desktop entry does not start the window through the launcher"
grep -qx 'Categories=System;' "$DEST/usr/share/applications/quillmar.desktop" ||
  fail "the desktop entry is not in the System category"
policy=$DEST/usr/share/polkit-1/actions/org.quillmar.pkexec.run.policy
grep -q '<action id="org.quillmar.pkexec.run">' "$policy" || fail "no polkit action"
grep -q 'exec.path">/usr/libexec/quillmar/quillmar-pkexec<' "$policy" || fail "exec.path"
grep -q 'exec.allow_gui">true<' "$policy" || fail "allow_gui"
[ -x "$DEST/usr/libexec/quillmar/quillmar-pkexec" ] && sh -n "$DEST/usr/libexec/quillmar/quillmar-pkexec" ||
  fail "the launcher is not an executable shell script"
grep -qx 'QUILLMAR=/usr/bin/quillmar' "$DEST/usr/libexec/quillmar/quillmar-pkexec" ||
  fail "the launcher does not start the installed window"
for size in 16 32 48 64 128 256; do
  file "$DEST/usr/share/icons/hicolor/${size}x${size}/apps/quillmar.png" |
    grep -q "PNG image data, $size x $size" || fail "icon $size"
done

for page in quillmar quillmar-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$DEST/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings on $page.1: $warnings"
  text=$(MANWIDTH=80 man -l "$DEST/usr/share/man/man1/$page.1.gz" 2>/dev/null)
  for section in NAME SYNOPSIS WARNING FILES EXAMPLES "--log FILE"; do
    grep -q -- "$section" <<<"$text" || fail "$page.1 has no $section"
  done
done

completion=$DEST/usr/share/bash-completion/completions/quillmar-cli
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_words() {
    bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
             COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
             _quillmar_cli; printf "%s\n" "${COMPREPLY[@]}"' - "$completion" "$@"
  }
  [ "$(complete_words quillmar-cli --yes pa)" = patch ] || fail "completing a command"
  [ "$(complete_words quillmar-cli patch 1 --mpeg re | LC_ALL=C sort | tr '\n' ' ')" = \
    "reformat reset " ] || fail "completing --mpeg"
  [ "$(complete_words quillmar-cli --undo u.qun un)" = undo ] || fail "completing after --undo FILE"
  (cd "$DEST/usr/share/doc" && [ "$(complete_words quillmar-cli --drive quill)" = quillmar ]) ||
    fail "completing the --drive file"
fi

# 2. The Debian package.
(cd "$BUILD" && cpack -G DEB -B "$WORK/package" >/dev/null) || fail "cpack"
deb=$(ls "$WORK"/package/*.deb)
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)
[ "$packaged" = "$EXPECTED" ] || fail "packaged files differ:
$(diff <(echo "$EXPECTED") <(echo "$packaged"))"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)
[ -z "$report" ] || echo "lintian says:
$report"
if grep -q '^E: ' <<<"$report"; then
  fail "lintian errors"
fi
echo "1 passed, 0 failed"
