#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks it as a desktop would use
# it: exactly the expected files; both programs report the project's version;
# the desktop entry, MIME definition and manual pages pass their validators;
# the names that tie them together (program, icon, MIME type) agree; an
# archive is known by its magic under another name; the icons have their
# sizes; and the bash completion offers commands and entry names.
#
#   install_test.sh BUILD_DIR VERSION EDITOR(0|1) DEMO_ARCHIVE
set -euo pipefail
build=$1 version=$2 editor=$3 demo=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

unset DESTDIR
cmake --install "$build" --prefix "$prefix" >/dev/null

# --- Exactly these files, nothing a test or a bench needs.
expected=(bin/tarn share/man/man1/tarn.1 share/bash-completion/completions/tarn)
if [ "$editor" = 1 ]; then
  expected+=(bin/tarn-editor share/man/man1/tarn-editor.1
    share/applications/tarn-editor.desktop share/mime/packages/tarn-editor.xml)
  for size in 16 32 48 256; do
    expected+=(share/icons/hicolor/${size}x${size}/apps/tarn-editor.png
      share/icons/hicolor/${size}x${size}/mimetypes/application-x-tarn-big.png)
  done
fi
if ! diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >&2; then
  fail "installed files differ from the expected list (< missing, > extra)"
fi

# --- Versions.
[ "$("$prefix/bin/tarn" --version)" = "tarn $version" ] || fail "tarn --version does not say $version"
grep -q "Tarn Editor $version" "$prefix/share/man/man1/tarn.1" || fail "tarn.1 does not carry version $version"

# --- Manual pages: no warning from groff.
for page in "$prefix"/share/man/man1/*.1; do
  warnings=$(groff -ww -man -z "$page" 2>&1) || fail "groff failed on $page"
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
done

# --- Completion, run as bash runs it for `tarn sh<TAB>` and
# `tarn show demo.big 'Data\INI\Ar<TAB>`.
complete_words() {  # WORD...: the line so far, the last word being completed
  PATH=$prefix/bin:$PATH bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _tarn; printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/tarn" "$@"
}
[ "$(complete_words tarn sh)" = show ] || fail "completion of 'tarn sh' is not 'show'"
cp "$demo" "$work/demo.big"
got=$(cd "$work" && complete_words tarn show demo.big "'Data\\INI\\Ar")
[ "$got" = 'Data\INI\Armor.ini' ] || fail "completion of an entry name gave '$got'"
got=$(cd "$work" && complete_words tarn extract demo.big out 'Data\\INI\\Obj')
[ "$(wc -l <<<"$got")" = 4 ] || fail "completion of 'Data\\\\INI\\\\Obj' gave '$got'"

[ "$editor" = 1 ] || { [ $failures = 0 ] && exit 0 || exit 1; }

[ "$("$prefix/bin/tarn-editor" --version)" = "tarn-editor $version" ] ||
  fail "tarn-editor --version does not say $version"

# --- Desktop entry and MIME definition.
desktop=$prefix/share/applications/tarn-editor.desktop
mime=$prefix/share/mime/packages/tarn-editor.xml
report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ] || fail "desktop-file-validate: $report"
xmllint --noout "$mime" || fail "xmllint rejects $mime"
field() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(field Exec)" = "tarn-editor %f" ] || fail "Exec is not 'tarn-editor %f'"
[ -x "$prefix/bin/$(field TryExec)" ] || fail "TryExec names no installed program"
for size in 16 32 48 256; do
  [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/$(field Icon).png" ] ||
    fail "no ${size}px icon named by Icon="
done
types=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$mime" | tr '\n' ';')
type=${types%%;*}
[ "$(field MimeType)" = "$types" ] || fail "MimeType= does not name $types"

# A renamed archive is known by its first bytes, a .big file by its name.
XDG_DATA_DIRS=$prefix/share update-mime-database "$prefix/share/mime" || fail "update-mime-database failed"
cp "$demo" "$work/renamed.dat"
printf 'not an archive' >"$work/other.big"
content_type() {
  XDG_DATA_DIRS=$prefix/share:/usr/share gio info -a standard::content-type "$1" | sed -n 's/.*content-type: //p'
}
[ "$(content_type "$work/renamed.dat")" = "$type" ] || fail "an archive named renamed.dat is not $type"
[ "$(content_type "$work/other.big")" = "$type" ] || fail "a file named other.big is not $type"
printf '# the game first\nbase.big\n' >"$work/game.order"
[ "$(content_type "$work/game.order")" = "application/x-tarn-load-order" ] ||
  fail "a file named game.order is not a load order"

# --- Icons: PNGs of the size their folder names (width and height at bytes
# 16-23 of the header).
for png in "$prefix"/share/icons/hicolor/*/*/*.png; do
  size=${png#"$prefix"/share/icons/hicolor/}
  size=${size%%x*}
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
  [ "$dims" = "$size $size" ] || fail "$png is $dims, not ${size}x$size"
done

[ $failures = 0 ]
