#!/usr/bin/env bash
# The Debian package of a build tree, as a user gets it: built by CPack, its fields and files checked,
# validated (lintian, desktop-file-validate and appstreamcli, each where installed), unpacked with dpkg -x
# into a folder, and the installed program started from there under Xvfb. Its main window shows a file named
# on the command line through the HTML engine module installed beside it, and has the converters installed
# beside it; a second start hands its folder to it (the single-instance question answered No); --new-window
# opens another copy without asking; SIGTERM ends both with exit code 0 and frees the lock and the socket.
# Usage: deb_smoke.sh BUILD_DIR. Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
build=$(cd "$1" && pwd)

skip() {
  echo "SKIPPED deb_smoke.package: $*"
  if [ -n "${TARNWICK_SKIP_LOG:-}" ]; then echo "SKIPPED deb_smoke.package: $*" >> "$TARNWICK_SKIP_LOG"; fi
  exit 77
}
for tool in cpack dpkg-deb dpkg-shlibdeps file Xvfb xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

work=$(mktemp -d /tmp/tarnwick-deb.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do { kill -9 "$p" && wait "$p"; } 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
logs=()
fail() {
  echo "FAIL: $*" >&2
  for l in "${logs[@]}"; do [ -s "$l" ] && { echo "--- $l" >&2; tail -n 40 "$l" >&2; }; done
  exit 1
}
# until SECONDS COMMAND...: runs the command every 0.1 s until it succeeds; fails after SECONDS.
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}
alive() { kill -0 "$1" 2>/dev/null; }
# ends PID SECONDS: waits for the process (a child of this shell) to end; its exit code, or "hung", is in $rc.
ends() {
  rc=hung
  until_ok "$2" bash -c "! kill -0 $1 || grep -q '^State:.*zombie' /proc/$1/status" || return 0
  rc=0
  wait "$1" || rc=$?
}

# ---- The package ----
t0=$SECONDS
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 ||
  { logs+=("$work/cpack.log"); fail "cpack"; }
deb=$(ls "$work"/out/tarnwick_*.deb)
echo "built $(basename "$deb") ($(du -h "$deb" | cut -f1)) in $((SECONDS - t0)) s"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6widgets6 libqt6webenginewidgets6 libqt6multimedia6 libqt6pdf libarchive13 libssh-4 \
            libqscintilla2-qt6 pxlib1 libsane1 libpng16 libtiff6 zlib1g libqt6svg6 adwaita-icon-theme; do
  grep -q "$need" <<< "$depends" || fail "Depends names no $need"
done
for never in gtest gmock googletest qt6-base-dev libqt6test6 python3 vsftpd openssh-server xvfb xdotool; do
  ! grep -q "$never" <<< "$(dpkg-deb -f "$deb" Depends Recommends Suggests)" || fail "the package depends on $never"
done
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/files"
for f in /usr/bin/tarnwick /usr/lib/tarnwick/libzipdll.so /usr/lib/tarnwick/libunzdll.so /usr/lib/tarnwick/ZIPSFX.BIN \
         /usr/lib/tarnwick/libtarnconv_word.so /usr/lib/tarnwick/libtarnconv_sheet.so \
         /usr/lib/tarnwick/libtarnwick_htmlengine.so /usr/share/tarnwick/help.htm /usr/share/applications/tarnwick.desktop \
         /usr/share/icons/hicolor/scalable/apps/tarnwick.svg /usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml \
         /usr/share/man/man1/tarnwick.1.gz /usr/share/doc/tarnwick/copyright /usr/share/doc/tarnwick/changelog.gz; do
  grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
! grep -v '^/usr/' "$work/files" | grep -v '^/$' | grep -q . || fail "files outside /usr: $(grep -v '^/usr/' "$work/files" | grep -v '^/$')"
! grep -Eq '_tests$|probe|fuzz|bench|gtest' "$work/files" || fail "test programs in the package: $(grep -E '_tests$|probe|fuzz|bench|gtest' "$work/files")"

# ---- Validators, where installed ----
dpkg -x "$deb" "$work/root"
root="$work/root"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/tarnwick.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml" || fail "appstreamcli validate"
fi
if command -v lintian >/dev/null; then
  t0=$SECONDS
  lintian --tag-display-limit 0 "$deb" > "$work/lintian.log" 2>&1 || true
  cat "$work/lintian.log"
  echo "lintian: $(grep -c '^E:' "$work/lintian.log" || true) errors, $(grep -c '^W:' "$work/lintian.log" || true) warnings in $((SECONDS - t0)) s"
  ! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"
fi

# ---- The installed program under Xvfb ----
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
pids+=($!)
until_ok 10 test -s "$work/display" || { logs+=("$work/xvfb.log"); fail "Xvfb did not start"; }
export DISPLAY=":$(head -n1 "$work/display")"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME SESSION_MANAGER
export QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1  # Chromium's sandbox refuses root
docs="$work/docs"
mkdir -p "$docs/third"
printf '<html><body><h1>Installed</h1></body></html>\n' > "$docs/page.html"
exe="$root/usr/bin/tarnwick"

t0=$SECONDS
"$exe" "$docs" > "$work/first.log" 2>&1 &
first=$!; pids+=($first); logs+=("$work/first.log")
until_ok 30 xdotool search --name "^Tarnwick - $docs\$" || fail "no main window on the folder named"
echo "main window up in $((SECONDS - t0)) s"
grep -q "$root/usr/lib/tarnwick/libtarnconv_word.so" "$XDG_CONFIG_HOME/tarnwick/registry.ini" ||
  fail "the installed converters were not registered"
until_ok 10 test -S "$XDG_RUNTIME_DIR/tarnwick.socket" || fail "the running copy does not listen for later starts"

# A second start asks the single-instance question; No (the default button, Return) hands its file over, and
# the running copy shows the page through the installed HTML engine.
"$exe" "$docs/page.html" > "$work/second.log" 2>&1 &
second=$!; pids+=($second); logs+=("$work/second.log")
answered=0
for _ in $(seq 1 150); do
  alive "$second" || break
  for wid in $(xdotool search --onlyvisible --pid "$second" --name '^Tarnwick$' 2>/dev/null); do
    xdotool windowfocus "$wid" key Return 2>/dev/null && answered=1 || true
  done
  sleep 0.2
done
ends "$second" 10
[ "$rc" = 0 ] || fail "the second start ended with $rc (answered: $answered)"
until_ok 20 xdotool search --name "^Tarnwick - $docs/page.html" || fail "the running copy did not show the handed page"
until_ok 20 grep -q "$root/usr/lib/tarnwick/libtarnwick_htmlengine.so" "/proc/$first/maps" ||
  fail "the installed HTML engine module was not loaded"
alive "$first" || fail "the running copy ended"

# --new-window: another copy at once, without the question.
"$exe" --new-window "$docs/third" > "$work/third.log" 2>&1 &
third=$!; pids+=($third); logs+=("$work/third.log")
until_ok 30 xdotool search --pid "$third" --name "^Tarnwick - $docs/third\$" || fail "--new-window showed no window of its own"

kill -TERM "$third"
ends "$third" 20
[ "$rc" = 0 ] || fail "the --new-window copy ended with $rc on SIGTERM"
kill -TERM "$first"
ends "$first" 20
[ "$rc" = 0 ] || fail "the program ended with $rc on SIGTERM"
[ ! -e "$XDG_RUNTIME_DIR/tarnwick.lock" ] || fail "the lock was left behind"
[ ! -e "$XDG_RUNTIME_DIR/tarnwick.socket" ] || fail "the socket was left behind"
echo "deb_smoke: 1 passed, 0 failed"
