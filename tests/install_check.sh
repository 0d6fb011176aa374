#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: the
# programs (and that they run), the desktop entry (desktop-file-validate), the
# icon, and the manual pages (they render without warnings and name every
# option the programs' --help names).
#
#   install_check.sh BUILD_DIR SOURCE_DIR PROGRAM...
#
# PROGRAM... are the built programs that must be installed. Exit status 77
# (skipped) when one of them is not built yet or desktop-file-validate is
# missing; everything else is checked first.
set -uo pipefail

build=$1
source=$2
shift 2
programs=("$@")

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for p in "${programs[@]}"; do
  if [[ ! -x $p ]]; then
    echo "SKIP: $p is not built (build it first, e.g. ninja wl-decode wl-play wavelantern)"
    exit 77
  fi
done

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

if ! cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1; then
  cat "$prefix/install.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi

gui=0
for p in "${programs[@]}"; do
  name=$(basename "$p")
  [[ -x $prefix/bin/$name ]] || fail "bin/$name is not installed"
  [[ $name == wavelantern ]] && gui=1
done

# The console programs run from the prefix.
for tool in wl-decode wl-play; do
  out=$("$prefix/bin/$tool" --help 2>&1) || fail "$tool --help failed: $out"
  grep -q "^Usage: $tool" <<<"$out" || fail "$tool --help printed no usage: $out"
done

# Manual pages: render cleanly, and document every option of --help.
pages=(wl-decode wl-play)
((gui)) && pages+=(wavelantern)
for page in "${pages[@]}"; do
  man1=$prefix/share/man/man1/$page.1
  if [[ ! -f $man1 ]]; then
    fail "share/man/man1/$page.1 is not installed"
    continue
  fi
  cmp -s "$man1" "$source/packaging/man/$page.1" || fail "$page.1 differs from packaging/man/$page.1"
  if command -v groff >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$man1" 2>&1)
    [[ -z $warnings ]] || fail "$page.1 renders with warnings: $warnings"
  fi
  if command -v man >/dev/null; then
    rendered=$(MANWIDTH=80 man -l "$man1" 2>"$prefix/man.err")
    [[ -s $prefix/man.err ]] && fail "man -l $page.1 warns: $(cat "$prefix/man.err")"
    grep -q "^NAME" <<<"$rendered" || fail "man -l $page.1 shows no NAME section"
  fi
  if [[ $page != wavelantern ]]; then
    text=$(sed 's/\\-/-/g' "$man1")
    for option in $("$prefix/bin/$page" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
      grep -q -- "$option" <<<"$text" || fail "$page.1 does not mention $option"
    done
  fi
done

validated=1
if ((gui)); then
  desktop=$prefix/share/applications/wavelantern.desktop
  icon=$prefix/share/icons/hicolor/scalable/apps/wavelantern.svg
  if [[ -f $desktop ]]; then
    for line in 'Type=Application' 'Name=Wavelantern' 'Exec=wavelantern %F' 'Icon=wavelantern' 'Terminal=false' \
      'Categories=AudioVideo;Audio;Player;' 'MimeType=audio/mpeg;audio/x-mpegurl;audio/mpegurl;audio/x-scpls;application/xspf+xml;'; do
      grep -qxF "$line" "$desktop" || fail "wavelantern.desktop lacks the line $line"
    done
    grep -q '^Comment=.' "$desktop" || fail "wavelantern.desktop has no Comment"
    if command -v desktop-file-validate >/dev/null; then
      out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
      [[ -z $out ]] || fail "desktop-file-validate complains: $out"
    else
      validated=0
    fi
  else
    fail "share/applications/wavelantern.desktop is not installed"
  fi
  if [[ -f $icon ]]; then
    if command -v python3 >/dev/null; then
      python3 - "$icon" <<'EOF' || fail "wavelantern.svg is not a square scalable SVG"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
box = [float(v) for v in root.get("viewBox", "").replace(",", " ").split()]
assert len(box) == 4 and box[2] == box[3] > 0, box
# Self-contained: no pictures or fonts from elsewhere.
for e in root.iter():
    assert not e.tag.endswith("}image") and not e.tag.endswith("}text"), e.tag
EOF
    fi
  else
    fail "share/icons/hicolor/scalable/apps/wavelantern.svg is not installed"
  fi
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
if ((!validated)); then
  echo "SKIP: desktop-file-validate is missing (apt-get install desktop-file-utils); everything else passed"
  exit 77
fi
echo "install tree OK: $prefix"
