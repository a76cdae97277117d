#!/usr/bin/env bash
# Makes the Debian packages of this build and uses them as a station PC
# would. Each package holds what it should, the binaries are stripped with
# their symbols in the -dbgsym packages, lintian finds no error, and the
# manual pages read without a warning. Unpacked into a temporary root,
# grasp.c built against libzhand-dev drives the unpacked zhand-sim. Then a
# clean root (Debian's essential packages and what the station's packages
# pull in, no more) gets zhand and libzhand4 installed with dpkg --root, and
# there the station runs a Parameter Check against the simulator at a real
# hand's pace, from the installed Defaults.dat.
# Settings come from the environment: BUILD_DIR EXAMPLES CPACK CC SAN_FLAGS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/sim_scratch.sh
. "$here/../support/sim_scratch.sh"
scratch_dir zhand-package
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; }
export ASAN_OPTIONS=detect_leaks=0

(cd "$BUILD_DIR" && "$CPACK" -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"; fail "cpack"; }
declare -A deb
for file in "$work"/debs/*.deb; do
    deb[$(dpkg-deb -f "$file" Package)]=$file
done
libpkg=
for name in "${!deb[@]}"; do [[ $name =~ ^libzhand[0-9]+$ ]] && libpkg=$name; done
[ -n "$libpkg" ] || fail "no libzhandN package among: ${!deb[*]}"
for name in "$libpkg" libzhand-dev zhand "$libpkg-dbgsym" zhand-dbgsym; do
    [ -n "${deb[$name]:-}" ] || fail "no package $name among: ${!deb[*]}"
done
echo "packages: ${!deb[*]}"

root=$work/root
for name in "$libpkg" libzhand-dev zhand "$libpkg-dbgsym" zhand-dbgsym; do
    dpkg-deb -c "${deb[$name]}" | awk '{print $6}' | sed 's|^\./|/|' >"$work/$name.files"
    dpkg-deb -x "${deb[$name]}" "$root"
done
has() { grep -qE "$2" "$work/$1.files" || fail "$1 lacks $2"; }
lacks() { ! grep -qE "$2" "$work/$1.files" || fail "$1 holds $2"; }
has "$libpkg" '/usr/lib/.*libzhand\.so\.[0-9]+'
lacks "$libpkg" '\.h$|/bin/|\.pc$|/debug/'
has libzhand-dev '/usr/include/zhand/zhand\.h$'
has libzhand-dev '/usr/include/zhand/zhand_flat\.h$'
has libzhand-dev '/usr/include/zhand/zhand_export\.h$'
lacks libzhand-dev '/usr/include/zhand/(zhand_impl|serial_port|events|wire_text|thread_state)\.h$'
has libzhand-dev 'pkgconfig/zhand\.pc$'
has libzhand-dev 'cmake/ZHand/ZHandConfig\.cmake$'
lacks libzhand-dev '/bin/'
has zhand '/usr/share/zhand/Defaults\.dat$'
for name in "$libpkg" libzhand-dev zhand; do
    has "$name" "/usr/share/doc/$name/copyright$"
done
depends=$(dpkg-deb -f "${deb[zhand]}" Depends)
grep -q "$libpkg" <<<"$depends" || fail "zhand does not depend on $libpkg"
# Depends come from dpkg-shlibdeps: every library the programs link.
for lib in libpq5 libsqlite3-0 libstdc++6 libc6; do
    grep -qw "$lib" <<<"$depends" || fail "zhand does not depend on $lib: $depends"
done
libdir=$(dirname "$(grep -E 'libzhand\.so\.[0-9]+$' "$work/$libpkg.files" | sed "s|^|$root|")")

# Stripped, each binary's symbols in the -dbgsym package under its build id.
binaries=("$libdir"/libzhand.so.*.*)
programs=()
for program in zhand-station zhand-sim zhand-report; do
    [ -x "$BUILD_DIR/bin/$program" ] || continue
    programs+=("$program")
    binaries+=("$root/usr/bin/$program")
    has zhand "/usr/bin/$program$"
    has zhand "/usr/share/man/man1/$program\.1\.gz$"
done
for binary in "${binaries[@]}"; do
    # (read whole first: grep -q would end the pipe early)
    sections=$(readelf -S "$binary")
    ! grep -q '\.debug_info' <<<"$sections" || fail "$binary is not stripped"
    id=$(readelf -n "$binary" | sed -n 's/.*Build ID: //p')
    [ -n "$id" ] || fail "$binary has no build id"
    symbols=$root/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    [ -f "$symbols" ] || fail "no debug symbols for $binary at $symbols"
    sections=$(readelf -S "$symbols" 2>/dev/null)
    grep -q '\.debug_info' <<<"$sections" || fail "$symbols holds no debug symbols"
done
echo "stripped, symbols in -dbgsym: ${#binaries[@]} binaries"

if command -v lintian >/dev/null; then
    lintian --allow-root --tag-display-limit 0 "${deb[@]}" >"$work/lintian.txt" 2>&1 || true
    cat "$work/lintian.txt"
    ! grep -q '^E: ' "$work/lintian.txt" || fail "lintian finds errors"
else
    skip "lintian is not installed (scripts/deps.sh test installs it)"
fi
if command -v man >/dev/null; then
    for program in "${programs[@]}"; do
        page=$root/usr/share/man/man1/$program.1.gz
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man --warnings $program: $warnings"
    done
    echo "manual pages: no warnings"
else
    skip "man is not installed: the manual pages are not checked"
fi

# The programs from the unpacked root, with the unpacked library.
for program in "${programs[@]}"; do
    LD_LIBRARY_PATH=$libdir "$root/usr/bin/$program" --help >"$work/help.txt" 2>&1 ||
        fail "$program --help from the unpacked root"
    grep -q "$program" "$work/help.txt" || fail "$program --help does not name itself"
done
linked=$(LD_LIBRARY_PATH=$libdir ldd "$root/usr/bin/zhand-station")
if grep -q "$BUILD_DIR" <<<"$linked"; then fail "station linked to the build tree"; fi

mkdir "$work/run"
cd "$work/run"
cp "$root/usr/share/zhand/Defaults.dat" .
LD_LIBRARY_PATH=$libdir start_sim "$root/usr/bin/zhand-sim"
export PKG_CONFIG_SYSROOT_DIR=$root
export PKG_CONFIG_LIBDIR=$(dirname "$(grep 'zhand\.pc$' "$work/libzhand-dev.files" | sed "s|^|$root|")")
# shellcheck disable=SC2046,SC2086
"$CC" ${SAN_FLAGS//;/ } -Wall -Wextra -Werror -o grasp "$EXAMPLES/grasp.c" \
    $(pkg-config --cflags --libs zhand) -Wl,-rpath,"$libdir"
./grasp >out.txt || { cat out.txt; fail "grasp"; }
cat out.txt
grep -q '^closed: F1 [0-9]' out.txt || fail "grasp printed no closed positions"
echo "packages unpacked: all good"

# python3-zhand, where the build has the Python module: Debian's Python
# imports the unpacked package, which drives the unpacked simulator with the
# unpacked library, and its pytest finds the plugin through the entry point.
if compgen -G "$BUILD_DIR/python/zhand/_zhand.*.so" >/dev/null; then
    [ -n "${deb[python3-zhand]:-}" ] || fail "no package python3-zhand among: ${!deb[*]}"
    dpkg-deb -c "${deb[python3-zhand]}" | awk '{print $6}' | sed 's|^\./|/|' >"$work/python3-zhand.files"
    dpkg-deb -x "${deb[python3-zhand]}" "$root"
    site=/usr/lib/python3/dist-packages
    for file in "zhand/_zhand\..*\.so" zhand/__init__\.py zhand/_zhand\.pyi zhand/pytest_plugin\.py \
        "zhand-[0-9.]+\.dist-info/entry_points\.txt" ; do
        has python3-zhand "$site/$file$"
    done
    has python3-zhand "/usr/share/doc/python3-zhand/copyright$"
    grep -q "$libpkg" <<<"$(dpkg-deb -f "${deb[python3-zhand]}" Depends)" ||
        fail "python3-zhand does not depend on $libpkg"
    preload=
    case $SAN_FLAGS in *address*)
        preload="$("$CC" -print-file-name=libasan.so) $("$CC" -print-file-name=libstdc++.so)" ;;
    esac
    run_python() {
        PYTHONPATH="$root$site" LD_LIBRARY_PATH=$libdir LD_PRELOAD="$preload" /usr/bin/python3 "$@"
    }
    run_python -c 'import zhand
with zhand.Hand(1) as hand:
    hand.close("G")
    print("python closed:", hand.get_parameters("G", "P"))
print(zhand.__file__)' >py.txt || { cat py.txt; fail "import zhand from the unpacked root"; }
    cat py.txt
    grep -q "^$root$site/zhand/__init__.py$" py.txt || fail "zhand imported from elsewhere"
    run_python -m pytest -p no:cacheprovider --help >pytest-help.txt 2>&1 || true
    grep -q -- --zhand-port pytest-help.txt || { cat pytest-help.txt; fail "pytest did not find the plugin"; }
    echo "python3-zhand unpacked: all good"
fi

kill "$sim" && wait "$sim" 2>/dev/null || true
sim=

# --- A station PC: a clean root with zhand and libzhand4 installed ---
if [ "$(id -u)" -ne 0 ] || ! command -v tmux >/dev/null || [ ${#programs[@]} -lt 2 ]; then
    skip "the clean root needs root (chroot, mount) and tmux, and a build with the station"
    exit 0
fi
station_debs=("${deb[zhand]}" "${deb[$libpkg]}")
status=0
/usr/bin/python3 "$here/clean_root.py" "${station_debs[@]}" >"$work/root.packages" || status=$?
if [ "$status" -eq 1 ]; then skip "this machine cannot make the clean root"; exit 0; fi
[ "$status" -eq 0 ] || fail "clean_root.py"
# A station PC needs no compiler, browser or database server.
forbidden='^(gcc|g\+\+|cpp|clang|llvm|binutils)(-[0-9.]+)?$|^(chromium|firefox)|^(postgresql|mariadb-server|mysql-server)(-[0-9.]+)?$'
if grep -E "$forbidden" "$work/root.packages"; then fail "the station's packages pull these in"; fi
echo "clean root: $(wc -l <"$work/root.packages") packages"

clean=$work/clean
mkdir -p "$clean/usr" "$clean/var/lib/dpkg/info" "$clean/var/lib/dpkg/updates"
for dir in bin sbin lib lib64; do  # merged /usr, as on this machine
    if [ -L "/$dir" ]; then
        ln -s "$(readlink "/$dir")" "$clean/$dir"
        mkdir -p "$clean/$(readlink -f "/$dir")"
    fi
done
mapfile -t packages <"$work/root.packages"
shopt -s nullglob
dpkg-query -L "${packages[@]}" | sort -u | while read -r path; do
    if [[ $path == /* ]] && { [ -e "$path" ] || [ -L "$path" ]; }; then echo "${path#/}"; fi
done >"$work/root.files"
tar -C / --no-recursion -cf - -T "$work/root.files" |
    tar -C "$clean" --keep-directory-symlink -xf -
[ -e "$clean/bin/sh" ] || ln -s dash "$clean/bin/sh"  # made by dash's diversion, not listed
dpkg-query -s "${packages[@]}" >"$clean/var/lib/dpkg/status"
touch "$clean/var/lib/dpkg/available"
for package in "${packages[@]}"; do
    files=(/var/lib/dpkg/info/"$package".* /var/lib/dpkg/info/"$package":*.*)
    cp -a "${files[@]}" "$clean/var/lib/dpkg/info/"
done
mounts=()
release_root() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[$i]}" 2>/dev/null || umount -l "${mounts[$i]}" || true
    done
    mounts=()
}
# The programs first, then the mounts they held, then the files.
leave_root() {
    tmux -L "zhand-package-$$" kill-server 2>/dev/null || true
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    sim=
    release_root
    cleanup_scratch
}
trap leave_root EXIT
mkdir -p "$clean/proc" "$clean/dev/pts" "$clean/work"
ln -s pts/ptmx "$clean/dev/ptmx"
for device in "null c 1 3" "zero c 1 5" "tty c 5 0" "random c 1 8" "urandom c 1 9"; do
    # shellcheck disable=SC2086
    set -- $device
    mknod -m 666 "$clean/dev/$1" "$2" "$3" "$4"
done
if mount -t proc proc "$clean/proc" && mounts+=("$clean/proc") &&
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$clean/dev/pts" &&
    mounts+=("$clean/dev/pts"); then :; else
    release_root
    skip "this machine does not let the test mount /proc and /dev/pts in the clean root"
    exit 0
fi

dpkg --root="$clean" -i "${station_debs[@]}" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --root -i zhand $libpkg in the clean root"; }
in_root() { chroot "$clean" /usr/bin/env -i PATH=/usr/bin:/bin ASAN_OPTIONS=detect_leaks=0 "$@"; }
for program in "${programs[@]}"; do
    in_root "$program" --help >"$work/help.txt" 2>&1 || { cat "$work/help.txt"; fail "$program in the clean root"; }
done
# At a real hand's pace: the simulator's defaults.
chroot "$clean" /usr/bin/env -i PATH=/usr/bin:/bin ASAN_OPTIONS=detect_leaks=0 \
    sh -c 'cd /work && exec zhand-sim --port 1' >"$work/root-sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q ready "$work/root-sim.out" && break; sleep 0.1; done
grep -q ready "$work/root-sim.out" || { cat "$work/root-sim.out"; fail "zhand-sim in the clean root"; }

socket=zhand-package-$$
tmux -L "$socket" -f /dev/null new-session -d -x 80 -y 25 \
    "chroot '$clean' /usr/bin/env -i PATH=/usr/bin:/bin TERM=xterm ASAN_OPTIONS=detect_leaks=0 \
     ZHAND_STATION=clean-root sh -c 'cd /work && zhand-station; echo \$? > exit.status'"
screen() { tmux -L "$socket" capture-pane -p -t 0; }
wait_for() {  # TEXT SECONDS
    for _ in $(seq $(($2 * 10))); do screen | grep -qF -- "$1" && return 0; sleep 0.1; done
    screen >&2
    fail "the station in the clean root never showed: $1"
}
wait_for "Please select a communications port [1]:" 10
tmux -L "$socket" send-keys -t 0 Enter
wait_for "<CTRL><R> Runs selected test" 30
for _ in $(seq 11); do tmux -L "$socket" send-keys -t 0 Tab; done  # field 12: Parameter Check
tmux -L "$socket" send-keys -t 0 C-r
wait_for "Test completed with 0 errors." 60
tmux -L "$socket" send-keys -t 0 Space
wait_for "<CTRL><R> Runs selected test" 10
tmux -L "$socket" send-keys -t 0 C-q
for _ in $(seq 100); do [ -f "$clean/work/exit.status" ] && break; sleep 0.1; done
[ "$(cat "$clean/work/exit.status" 2>/dev/null)" = 0 ] || fail "the station did not quit with 0"
log=$(cat "$clean"/work/*.txt)
grep -qF "No Defaults.dat here: using /usr/share/zhand/Defaults.dat" <<<"$log" ||
    { echo "$log"; fail "the log does not name the installed Defaults.dat"; }
grep -qF "Errors: 0" <<<"$log" || { echo "$log"; fail "the Parameter Check found errors"; }
[ -s "$clean/work/results.db" ] || fail "the station in the clean root recorded nothing"
echo "station PC: zhand and $libpkg installed into a clean root, Parameter Check passed there"
echo "packages: all good"
