#!/usr/bin/env bash
# The driver's public face, as a user of the installed library meets it:
# libzhand.so exports ZHand's members and the flat functions and nothing of
# the driver's insides or of the standard library; the installed headers are
# the public ones only; and a program that includes only <zhand/zhand.h> (and
# <zhand/zhand_flat.h>) compiles and links against the installed copy.
# Settings come from the environment: BUILD_DIR LIBRARY HEADERS LIBDIR CMAKE
# CXX SAN_FLAGS.
set -euo pipefail
work=$(mktemp -d "${TMPDIR:-/tmp}/zhand-face-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The flat functions, as their header declares them, and their object.
mapfile -t flat < <(sed -n 's/^ZHAND_API int \([A-Za-z]*\)(.*/\1/p' "$HEADERS/zhand_flat.h")
[ ${#flat[@]} -gt 0 ] || fail "no flat functions found in zhand_flat.h"
flat+=(theHand)

nm -D --defined-only -C "$LIBRARY" | cut -c20- >"$work/exports"
[ -s "$work/exports" ] || fail "nm found no exports in $LIBRARY"
bad=0
while IFS= read -r name; do
    # The name itself, before its parameters (which may well be std:: types).
    head=${name%%(*}
    case $head in
        *Impl* | *detail* | *SerialPort* | *ResetEvent* | *ParseIntegers* | *SetAnyBaudRate* | \
            std::* | *" for "* | *"<"*)
            echo "internal name exported: $name"; bad=1; continue ;;
        ZHand::*) continue ;;
    esac
    found=0
    for f in "${flat[@]}"; do [ "$name" = "$f" ] && found=1; done
    [ $found -eq 1 ] || { echo "unexpected export: $name"; bad=1; }
done <"$work/exports"
[ $bad -eq 0 ] || fail "libzhand.so exports more than ZHand and the flat functions"
for f in "${flat[@]}"; do grep -qx "$f" "$work/exports" || fail "flat $f is not exported"; done
grep -q '^ZHand::ZHand()' "$work/exports" || fail "ZHand's constructor is not exported"
echo "exports: $(grep -c '^ZHand::' "$work/exports") ZHand members, ${#flat[@]} flat names"

# The library and its development files alone, as libzhand-dev installs them.
prefix=$work/prefix
for component in library development; do
    "$CMAKE" --install "$BUILD_DIR" --prefix "$prefix" --component $component \
        >>"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install $component"; }
done
installed=$(cd "$prefix/include/zhand" && ls | sort | tr '\n' ' ')
[ "$installed" = "zhand.h zhand_export.h zhand_flat.h " ] ||
    fail "installed headers are not the public three: $installed"

cat >"$work/user.cpp" <<'CPP'
#include <zhand/zhand.h>
#include <zhand/zhand_flat.h>

#include <cstdio>
#include <cstring>

static_assert(ZHand::Ok == 0 && ZHand::ReadFailed == -9 && ZHand::NoInstance == -15 &&
              ZHand::MotorNotActive == -19);

int main() {
    ZHand hand;
    // No port: the exchange completes at once and sends nothing.
    hand.mode = ZHand::ModeSync;
    if (hand.Request(ZHand::RequestCommand) != ZHand::Ok) return 1;
    if (hand.LinkLost()) return 2;
    if (std::strcmp(ZHand::ErrorText(ZHand::ReadFailed),
                    "Error reading from comm port (or read timeout)") != 0)
        return 3;
    if (Home() != ZHand::NoInstance || theHand != nullptr) return 4;
    std::puts("user program: all good");
    return 0;
}
CPP
# shellcheck disable=SC2086
"$CXX" -std=c++20 ${SAN_FLAGS//;/ } -Wall -Wextra -Werror -I"$prefix/include" \
    -o "$work/user" "$work/user.cpp" -L"$prefix/$LIBDIR" -lzhand ||
    fail "a program including only <zhand/zhand.h> does not build against the installed copy"
readelf -d "$work/user" | grep -q 'NEEDED.*libzhand\.so\.[0-9]' || fail "user not linked to libzhand.so"
LD_LIBRARY_PATH="$prefix/$LIBDIR" ASAN_OPTIONS=detect_leaks=0 "$work/user" || fail "user program"
