#!/bin/sh
# The checks of what cmake --install puts on a desktop, one per call:
#   check.sh desktop FILE        desktop-file-validate, not even a hint
#   check.sh metainfo FILE       appstreamcli validate, offline
#   check.sh mime FILE           update-mime-database takes it; names and
#                                contents are recognised (gio, if present)
#   check.sh man PAGE...         rendered without a warning
#   check.sh install CMAKE BUILD cmake --install into a temporary prefix
# Exit status 77 (skipped) when the tool a check needs is not installed.
set -u
kind=$1
shift
skip() { echo "skipped: $1 is not installed (scripts/bootstrap installs it)"; exit 77; }
have() { command -v "$1" >/dev/null 2>&1; }
fail() { echo "FAILED: $*"; status=1; }
status=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case $kind in
desktop)
  have desktop-file-validate || skip desktop-file-validate
  out=$(desktop-file-validate "$1" 2>&1) || fail "desktop-file-validate"
  [ -z "$out" ] || fail "$out"
  ;;
metainfo)
  have appstreamcli || skip appstreamcli
  appstreamcli validate --no-net "$1" || fail "appstreamcli validate"
  ;;
mime)
  have update-mime-database || skip update-mime-database
  if have xmllint; then xmllint --noout "$1" || fail "xmllint"; fi
  mkdir -p "$tmp/mime/packages"
  cp "$1" "$tmp/mime/packages/"
  out=$(XDG_DATA_HOME=$tmp XDG_DATA_DIRS=$tmp update-mime-database "$tmp/mime" 2>&1) || fail "update-mime-database"
  [ -z "$out" ] || fail "$out"
  grep -qx '50:application/x-sorvane-source-map:\*\.map' "$tmp/mime/globs2" ||
    fail "no *.map glob in globs2"
  if have gio; then
    # Content alone: maps written on Linux and on Windows (with and without
    # a byte-order mark) are recognised; a C file starting with "/" is not.
    printf '/home/u/release\r\nbin\\a.dll|.dll|1.00.0000|English|1\r\n' > "$tmp/linux"
    printf 'C:\\Release\r\na.dll|.dll|1.00|English|1\r\n' > "$tmp/windows"
    printf '\357\273\277C:\\Release\r\na.dll|.dll|1.00|English|1\r\n' > "$tmp/windows_bom"
    printf '\357\273\277/srv/r\r\na.dll|.dll|1.00|English|1\r\n' > "$tmp/linux_bom"
    printf '/* a | b */\nint x;\n' > "$tmp/c_source"
    printf 'Memory map of a linker\n' > "$tmp/linker.map"
    type_of() {
      XDG_DATA_HOME=$tmp XDG_DATA_DIRS=$tmp gio info -a standard::content-type "$tmp/$1" |
        sed -n 's/^ *standard::content-type: //p'
    }
    for f in linux windows windows_bom linux_bom linker.map; do
      [ "$(type_of $f)" = application/x-sorvane-source-map ] || fail "$f: $(type_of $f)"
    done
    [ "$(type_of c_source)" != application/x-sorvane-source-map ] || fail "c_source taken for a map"
  fi
  ;;
man)
  for page in "$@"; do
    for section in ENVIRONMENT FILES; do
      grep -q "^\.SH \"\?$section\"\?\$" "$page" || fail "$page has no $section section"
    done
  done
  if have man; then
    for page in "$@"; do
      out=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || fail "man $page"
      [ -z "$out" ] || fail "$page: $out"
      if have lexgrog; then lexgrog "$page" >/dev/null || fail "lexgrog $page: no NAME line"; fi
    done
  elif have groff; then
    for page in "$@"; do
      out=$(groff -man -ww -z -Tutf8 "$page" 2>&1) || fail "groff $page"
      [ -z "$out" ] || fail "$page: $out"
    done
  else
    skip man
  fi
  ;;
install)
  cmake=$1 build=$2
  # Any prefix but /usr (here one that merely ends in it) gets no Debian
  # files; /usr, as the package installs it below a DESTDIR, gets them too.
  "$cmake" --install "$build" --prefix "$tmp/usr" >/dev/null || fail "cmake --install"
  (cd "$tmp/usr" && find . ! -type d | sed 's|^\./||' | sort) > "$tmp/found"
  cat > "$tmp/expected" <<'LIST'
bin/sorvane
bin/sorvane-cli
share/applications/example.brannock.Sorvane.desktop
share/bash-completion/completions/sorvane-cli
share/doc/sorvane/copyright
share/fish/vendor_completions.d/sorvane-cli.fish
share/icons/hicolor/scalable/apps/example.brannock.Sorvane.svg
share/man/man1/sorvane-cli.1.gz
share/man/man1/sorvane.1.gz
share/metainfo/example.brannock.Sorvane.metainfo.xml
share/mime/packages/example.brannock.Sorvane.xml
share/zsh/vendor-completions/_sorvane-cli
LIST
  diff -u "$tmp/expected" "$tmp/found" || fail "installed files differ from the list"
  DESTDIR="$tmp/package" "$cmake" --install "$build" --prefix /usr >/dev/null ||
    fail "cmake --install --prefix /usr"
  (cd "$tmp/package/usr" && find . ! -type d | sed 's|^\./||' | sort) > "$tmp/found_usr"
  (cat "$tmp/expected"; printf '%s\n' share/doc/sorvane/changelog.Debian.gz \
     share/lintian/overrides/sorvane) | sort > "$tmp/expected_usr"
  diff -u "$tmp/expected_usr" "$tmp/found_usr" || fail "files installed under /usr differ"
  # The bash completion registers itself for the program.
  if have bash; then
    out=$(bash -c 'source "$1"; complete -p sorvane-cli' sh \
          "$tmp/usr/share/bash-completion/completions/sorvane-cli") || fail "bash completion"
    [ "$out" = "complete -F _sorvane_cli sorvane-cli" ] || fail "bash completion: $out"
  fi
  # The files name each other: the entry's program, icon and file type are
  # installed, and the metainfo launches the entry.
  share=$tmp/usr/share
  entry=$share/applications/example.brannock.Sorvane.desktop
  value() { sed -n "s/^$1=//p" "$entry"; }
  exec=$(value Exec | cut -d' ' -f1)
  [ -x "$tmp/usr/bin/$exec" ] || fail "Exec=$exec is not installed"
  [ -f "$share/icons/hicolor/scalable/apps/$(value Icon).svg" ] || fail "Icon=$(value Icon) is not installed"
  for type in $(value MimeType | tr ';' ' '); do
    grep -q "type=\"$type\"" "$share"/mime/packages/*.xml || fail "MimeType $type is not declared"
  done
  grep -q '<launchable type="desktop-id">example.brannock.Sorvane.desktop</launchable>' \
    "$share/metainfo/example.brannock.Sorvane.metainfo.xml" || fail "metainfo launchable"
  for page in "$share"/man/man1/*.gz; do
    gzip -t "$page" || fail "$page is no gzip file"
  done
  "$tmp/usr/bin/sorvane-cli" --version | grep -qx 'sorvane-cli 1.00' || fail "installed sorvane-cli --version"
  ;;
*)
  echo "check.sh: unknown check $kind" >&2
  exit 2
  ;;
esac
exit $status
