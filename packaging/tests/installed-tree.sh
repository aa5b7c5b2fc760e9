#!/usr/bin/env bash
# Installs the build (install) or builds and unpacks its Debian package (deb)
# into a temporary root, then runs the installed programs from there as a new
# user would: a fresh HOME, nothing registered, no system registry.
#   installed-tree.sh install|deb BUILD_DIR
set -euo pipefail
mode=$1 build=$(cd "$2" && pwd)

need=(cmake)
[ "$mode" = deb ] && need+=(cpack dpkg-deb dpkg-shlibdeps fakeroot lintian)
for tool in "${need[@]}"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps)"; exit 77; }
done

. "$(dirname "$0")/scratch.sh"
scratch "$mode"
fail() { echo "FAIL: $*" >&2; exit 1; }

root=$tmp/root
case $mode in
  install)
    prefix=/usr/local
    DESTDIR=$root cmake --install "$build" --prefix "$prefix" > "$tmp/install.out" \
      || { cat "$tmp/install.out"; fail "cmake --install"; }
    grep -q 'Staged install' "$tmp/install.out" || fail "a staged install tried to register system-wide"
    ;;
  deb)
    prefix=/usr
    cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" > "$tmp/cpack.out" 2>&1 \
      || { cat "$tmp/cpack.out"; fail "cpack"; }
    deb=$(ls "$tmp"/pkg/*.deb)
    echo "package: $(basename "$deb")"
    dpkg-deb -I "$deb" > "$tmp/info"
    grep -q '^ Depends:.*libqt6widgets6' "$tmp/info" || { cat "$tmp/info"; fail "no dependencies computed from the shared libraries"; }
    grep -q '^ Package: termset$' "$tmp/info" || fail "package name"
    # Listings go through files: with pipefail, grep -q leaving at the first
    # match makes the writer die of SIGPIPE and the pipeline fail.
    dpkg-deb --ctrl-tarfile "$deb" | tar -tf - > "$tmp/control-files"
    grep -q '^\./postinst$' "$tmp/control-files" || fail "no postinst"
    dpkg-deb -I "$deb" postinst > "$tmp/postinst"
    grep -q 'regctl --system' "$tmp/postinst" || fail "postinst does not register the control"
    # Errors fail; warnings are printed for whoever reads the log.
    lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$tmp/lintian" || fail "lintian reports errors"
    dpkg-deb -x "$deb" "$root"
    ;;
  *) fail "mode $mode" ;;
esac

usr=$root$prefix
for f in bin/Termset bin/termset-cli bin/rk40ctl bin/regctl bin/rk40-sim bin/gateway-sim \
         lib/termset/libRK40COMM.so lib/termset/Termset-English.so lib/termset/Termset-Magyar.so \
         lib/termset/Termset-Hrvatski.so \
         share/applications/com.veltrona.Termset.desktop share/metainfo/com.veltrona.Termset.metainfo.xml \
         share/mime/packages/com.veltrona.Termset.xml share/bash-completion/completions/termset-cli \
         share/icons/hicolor/16x16/apps/com.veltrona.Termset.png \
         share/icons/hicolor/256x256/apps/com.veltrona.Termset.png \
         share/icons/hicolor/scalable/apps/com.veltrona.Termset.svg \
         share/doc/termset/copyright; do
  [ -e "$usr/$f" ] || fail "$prefix/$f is not installed"
done
if command -v scdoc >/dev/null; then
  for page in Termset termset-cli rk40ctl regctl rk40-sim gateway-sim; do
    [ -s "$usr/share/man/man1/$page.1.gz" ] || fail "no manual page for $page"
  done
fi
[ -z "$(find "$usr/bin" -name '*.so')" ] || fail "libraries in bin/"

# A new user: nothing but the essentials in the environment.
mkdir -p "$tmp/home" "$tmp/run" "$tmp/xdg" && chmod 700 "$tmp/run"
# (An array, not a function: "$!" of a background run is then the program itself.)
run=(env -i PATH=/usr/bin:/bin HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_DIRS="$tmp/xdg"
     QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" RK40_COM1="$tmp/COM1")

printf 'word 12 1234\nword 38 C3A5\n' > "$tmp/terminal.txt"
"${run[@]}" "$usr/bin/rk40-sim" --serve --link "$tmp/COM1" --script "$tmp/terminal.txt" > "$tmp/sim.out" &
pids+=($!)
for _ in $(seq 300); do [ -e "$tmp/COM1" ] && break; sleep 0.1; done
[ -e "$tmp/COM1" ] || fail "rk40-sim did not start"

# termset-cli reads from the simulator; the control gets registered for the user.
"${run[@]}" "$usr/bin/termset-cli" read --port COM1 -o "$tmp/read.act" || fail "termset-cli read"
grep -q '^12 1234' "$tmp/read.act" || fail "word 12 not read: $(head -5 "$tmp/read.act")"
grep -q '^38 C3A5' "$tmp/read.act" || fail "word 38 not read"
registry=$tmp/home/.config/Veltrona/components.ini
grep -qx "InprocServer32=$usr/lib/termset/libRK40COMM.so" "$registry" || fail "the control was not registered for the user"

# The installed program folder is shared: the transfer log goes to the user's state folder.
printf '[Settings]\nParam1=9170\n' > "$tmp/home/.config/Veltrona/Termset.conf"  # the password "secret"
echo secret > "$tmp/pw"
"${run[@]}" "$usr/bin/termset-cli" write "$tmp/read.act" --port COM1 --password-file "$tmp/pw" || fail "termset-cli write"
grep -q 'COM_PORT: 01   REMOTE: None:00000' "$tmp/home/.local/state/Veltrona/Termset/log" || fail "no per-user transfer log"
[ ! -e "$usr/lib/termset/log" ] || fail "log written into the program folder"

# Termset starts, finds its three language libraries and creates the control.
rm -f "$registry"
"${run[@]}" QT_LOGGING_RULES='termset.app.info=true;termset.control.info=true' "$usr/bin/Termset" > "$tmp/termset.out" 2>&1 &
termset=$!
pids+=($termset)
for _ in $(seq 600); do
  grep -q 'control created' "$tmp/termset.out" && break
  kill -0 "$termset" 2>/dev/null || break
  sleep 0.1
done
grep -q 'control created' "$tmp/termset.out" || { cat "$tmp/termset.out"; fail "Termset did not create the control"; }
grep -q "program folder $usr/lib/termset/ with 3 language libraries" "$tmp/termset.out" \
  || { cat "$tmp/termset.out"; fail "Termset did not find its three language libraries"; }
grep -q "registered $usr/lib/termset/libRK40COMM.so for this user" "$tmp/termset.out" || fail "Termset did not register the control"
kill -0 "$termset" 2>/dev/null || fail "Termset ended"
echo "$mode: installed tree works from $prefix"
