#!/usr/bin/env bash
# The desktop entry, the AppStream metainfo, the MIME type and the bash
# completion are valid; the manual pages and icons were built.
#   desktop-files.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
id=com.veltrona.Termset

for tool in desktop-file-validate appstreamcli xmllint; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps)"; exit 77; }
done

desktop-file-validate "$src/$id.desktop"
grep -qx 'MimeType=application/x-rk40-config;' "$src/$id.desktop"
grep -qx 'Exec=Termset %f' "$src/$id.desktop"
appstreamcli validate --no-net --pedantic "$src/$id.metainfo.xml" || appstreamcli validate --no-net "$src/$id.metainfo.xml"
xmllint --noout "$src/$id.mime.xml" "$src/$id.svg"
grep -q '<glob pattern="\*.act"/>' "$src/$id.mime.xml"
bash -n "$src/termset-cli.bash-completion"

# The completion offers the commands and the options of a command.
complete_line() {
  bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    _filedir() { :; }
    complete() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _termset_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$src/termset-cli.bash-completion" "$@"
}
[ "$(complete_line termset-cli r)" = read ]
# Through a substitution, not a pipe: with pipefail, grep -q leaving early
# would fail the writer with SIGPIPE.
grep -qx -- --baud <(complete_line termset-cli read --port COM1 --b)
[ "$(complete_line termset-cli write x.act --baud 4)" = 4800 ]
[ "$(complete_line termset-cli keys s)" = sync ]
grep -qx -- --dry-run <(complete_line termset-cli keys sync k.csv --port COM1 --d)

# Built: a manual page for each installed program, every icon size.
if command -v scdoc >/dev/null; then
  for page in Termset termset-cli rk40ctl regctl rk40-sim gateway-sim; do
    man=$build/packaging/man/$page.1.gz
    [ -s "$man" ] || { echo "missing manual page $man"; exit 1; }
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT 'EXIT STATUS' EXAMPLES; do
      grep -q "^\.SH $section" <(zcat "$man") || { echo "$page(1) has no $section section"; exit 1; }
    done
  done
fi
for size in 16 22 24 32 48 64 128 256; do
  png=$build/packaging/icons/${size}x$size/apps/$id.png
  [ "$(file -b "$png" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\).*/\1x\2/p')" = "${size}x$size" ] \
    || { echo "icon $png is not a ${size}x$size PNG"; exit 1; }
done
echo "desktop files valid"
