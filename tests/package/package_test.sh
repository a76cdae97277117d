#!/usr/bin/env bash
# Makes the Debian packages of this build, unpacks them into a temporary
# root and uses them from there: each package holds what it should, the
# programs answer --help, the manual pages are there, and grasp.c built
# against the unpacked libzhand-dev drives the unpacked zhand-sim.
# Settings come from the environment: BUILD_DIR EXAMPLES CPACK CC SAN_FLAGS.
set -euo pipefail
# shellcheck source=../support/sim_scratch.sh
. "$(dirname "$0")/../support/sim_scratch.sh"
scratch_dir zhand-package
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$BUILD_DIR" && "$CPACK" -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"; fail "cpack"; }
mapfile -t debs < <(ls "$work"/debs/*.deb)
# python3-zhand is the fourth where the build has the Python module.
expected=3
compgen -G "$BUILD_DIR/python/zhand/_zhand.*.so" >/dev/null && expected=4
[ ${#debs[@]} -eq $expected ] || fail "expected $expected packages, got: ${debs[*]}"

root=$work/root
for deb in "${debs[@]}"; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/$name.files"
    dpkg-deb -x "$deb" "$root"
done
libpkg=$(basename "$(ls "$work"/libzhand[0-9]*.files)" .files)
echo "packages: $libpkg libzhand-dev zhand"

has() { grep -qE "$2" "$work/$1.files" || fail "$1 lacks $2"; }
lacks() { ! grep -qE "$2" "$work/$1.files" || fail "$1 holds $2"; }
has "$libpkg" '/usr/lib/.*libzhand\.so\.[0-9]+'
lacks "$libpkg" '\.h$|/bin/|\.pc$'
has libzhand-dev '/usr/include/zhand/zhand\.h$'
has libzhand-dev '/usr/include/zhand/zhand_flat\.h$'
has libzhand-dev '/usr/include/zhand/zhand_export\.h$'
lacks libzhand-dev '/usr/include/zhand/(zhand_impl|serial_port|events|wire_text|thread_state)\.h$'
has libzhand-dev 'pkgconfig/zhand\.pc$'
has libzhand-dev 'cmake/ZHand/ZHandConfig\.cmake$'
lacks libzhand-dev '/bin/'
for program in zhand-station zhand-sim zhand-report; do
    if [ -x "$BUILD_DIR/bin/$program" ]; then
        has zhand "/usr/bin/$program$"
        has zhand "/usr/share/man/man1/$program\.1"
        ASAN_OPTIONS=detect_leaks=0 "$root/usr/bin/$program" --help >"$work/help.txt" 2>&1 ||
            fail "$program --help from the unpacked root"
        grep -q "$program" "$work/help.txt" || fail "$program --help does not name itself"
    fi
done
has zhand '/usr/share/zhand/Defaults\.dat$'
dpkg-deb -f "$work/debs/"zhand_*.deb Depends | grep -q "$libpkg" || fail "zhand does not depend on $libpkg"
# The programs use the unpacked library, not one of the build tree.
ldd "$root/usr/bin/zhand-sim" >/dev/null
if ldd "$root/usr/bin/zhand-station" | grep -q "$BUILD_DIR"; then fail "station linked to the build tree"; fi

mkdir "$work/run"
cd "$work/run"
cp "$root/usr/share/zhand/Defaults.dat" .
ASAN_OPTIONS=detect_leaks=0 start_sim "$root/usr/bin/zhand-sim"

export PKG_CONFIG_SYSROOT_DIR=$root
export PKG_CONFIG_LIBDIR=$(dirname "$(grep 'zhand\.pc$' "$work/libzhand-dev.files" | sed "s|^|$root|")")
# shellcheck disable=SC2046,SC2086
"$CC" ${SAN_FLAGS//;/ } -Wall -Wextra -Werror -o grasp "$EXAMPLES/grasp.c" \
    $(pkg-config --cflags --libs zhand) -Wl,-rpath,"$root/usr/lib"
LD_LIBRARY_PATH="$root/usr/lib" ./grasp >out.txt || { cat out.txt; fail "grasp"; }
cat out.txt
grep -q '^closed: F1 [0-9]' out.txt || fail "grasp printed no closed positions"
if [ $expected -eq 4 ]; then
    site=/usr/lib/python3/dist-packages
    for file in "zhand/_zhand\..*\.so" zhand/__init__\.py zhand/_zhand\.pyi zhand/pytest_plugin\.py \
        "zhand-[0-9.]+\.dist-info/entry_points\.txt"; do
        has python3-zhand "$site/$file$"
    done
    dpkg-deb -f "$work/debs/"python3-zhand_*.deb Depends | grep -q "$libpkg" ||
        fail "python3-zhand does not depend on $libpkg"
    # Debian's Python imports the unpacked package, which finds the unpacked
    # library, and its pytest finds the plugin through the entry point.
    preload=
    case $SAN_FLAGS in *address*)
        preload="$("$CC" -print-file-name=libasan.so) $("$CC" -print-file-name=libstdc++.so)" ;;
    esac
    run_python() {
        env -u LD_LIBRARY_PATH PYTHONPATH="$root$site" LD_PRELOAD="$preload" \
            ASAN_OPTIONS=detect_leaks=0 /usr/bin/python3 "$@"
    }
    run_python -c 'import zhand, sys
with zhand.Hand(1) as hand:
    hand.close("G")
    print("python closed:", hand.get_parameters("G", "P"))
print(zhand.__file__)' >py.txt || { cat py.txt; fail "import zhand from the unpacked root"; }
    cat py.txt
    grep -q "^$root$site/zhand/__init__.py$" py.txt || fail "zhand imported from elsewhere"
    run_python -m pytest -p no:cacheprovider --help >pytest-help.txt 2>&1 || true
    grep -q -- --zhand-port pytest-help.txt || { cat pytest-help.txt; fail "pytest did not find the plugin"; }
fi
echo "packages: all good"
