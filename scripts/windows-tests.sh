#!/usr/bin/env bash
# Cross-builds korloader.dll and the unit and end-to-end tests for 64-bit
# Windows with mingw-w64, checks the DLL's export table, and runs the tests
# under Wine, headless, in a fresh Wine prefix inside the build folder.
#
#   scripts/windows-tests.sh [--install-deps] [build-dir]
#
# --install-deps installs the Debian packages it needs with apt-get (for CI
# on a fresh machine). The build folder defaults to build-windows. JOBS sets
# the build's parallelism (default 2).
set -euo pipefail

install_deps=0
build_dir=""
for arg in "$@"; do
    case "$arg" in
        --install-deps) install_deps=1 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) build_dir="$arg" ;;
    esac
done

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${build_dir:-$source_dir/build-windows}"
# Absolute: the Wine prefix lives inside it.
mkdir -p "$build_dir" && build_dir="$(cd "$build_dir" && pwd)"
jobs="${JOBS:-2}"
triplet=x86_64-w64-mingw32
packages=(g++-mingw-w64-x86-64 libz-mingw-w64-dev googletest wine wine64 cmake ninja-build unzip)

say() { printf '== [%3d s] %s\n' "$SECONDS" "$*"; }

if [ "$install_deps" = 1 ]; then
    to_install=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || to_install+=("$p")
    done
    if [ "${#to_install[@]}" -gt 0 ]; then
        say "installing ${to_install[*]}"
        sudo=()
        [ "$(id -u)" = 0 ] || sudo=(sudo)
        "${sudo[@]}" apt-get update -qq
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${to_install[@]}"
    fi
fi

missing=()
command -v "$triplet-g++-posix" >/dev/null || command -v "$triplet-g++" >/dev/null || missing+=(g++-mingw-w64-x86-64)
[ -f "/usr/$triplet/lib/libz.a" ] || missing+=(libz-mingw-w64-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
wine_bin="$(command -v wine || command -v wine64 || true)"
[ -n "$wine_bin" ] || missing+=(wine wine64)
if [ "${#missing[@]}" -gt 0 ]; then
    echo "missing Debian packages: ${missing[*]} (or run with --install-deps)" >&2
    exit 1
fi

started=$SECONDS

# --- Build.
say "cross-building in $build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKOR_WERROR=ON \
    -DKOR_BUILD_TESTS=ON -DKOR_BUILD_TOOLS=ON -DKOR_BUILD_BENCH=OFF \
    -DKOR_BUILD_PLUGINS=OFF -DKOR_BUILD_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j"$jobs"

dll="$build_dir/bin/korloader.dll"
[ -f "$dll" ] || { echo "no $dll" >&2; exit 1; }

# --- Export table: exactly the nine functions under their Microsoft x64
# decorated names, and nothing else.
say "checking the export table of korloader.dll"
expected_exports='?OstrelSDKGetVersionNumber@@YAIXZ
?deleteIKor@@YAXPEAVIKor@@@Z
?initalizeKoraLoader@@YAHPEBD0H@Z
?korComposeChannelMappingsString@@YAHPEADHPEAHPEBQEBDH@Z
?korDecomposeChannelMappingsString@@YAHPEAHPEADHPEBDH@Z
?korGenerateDefaultChannelMappings@@YAHPEADHPEBD@Z
?korGet3rdPartyChannelName@@YAHPEADHPEAHPEBDH@Z
?newIKor@@YAPEAVIKor@@PEBD@Z
?newIKorWithChannelsMapping@@YAPEAVIKor@@PEBD0@Z'
headers="$("$triplet-objdump" -p "$dll")"
actual_exports="$(printf '%s\n' "$headers" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort)"
if [ "$actual_exports" != "$(printf '%s\n' "$expected_exports" | LC_ALL=C sort)" ]; then
    echo "korloader.dll exports differ from the nine decorated names:" >&2
    diff <(printf '%s\n' "$expected_exports" | LC_ALL=C sort) <(printf '%s\n' "$actual_exports") >&2 || true
    exit 1
fi
# The DLL and the tools carry their C++ run-time and zlib inside: they need
# only the system's own DLLs (and the tools korloader.dll).
check_imports() {
    local file="$1" allowed="$2" name imports
    imports="$("$triplet-objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | LC_ALL=C sort -u | tr '\n' ' ')"
    for name in $imports; do
        case "$name" in
            kernel32.dll|msvcrt.dll|api-ms-win-*) ;;
            *) [[ " $allowed " == *" $name "* ]] || { echo "$(basename "$file") depends on $name, which hosts do not have" >&2; exit 1; } ;;
        esac
    done
    echo "$imports"
}
imports="$(check_imports "$dll" "")"
say "exports: nine decorated names; imports: $imports"

# --- The zip for Windows hosts: the DLL, the import library for the
# Microsoft compiler (naming the nine decorated exports), the header and
# korinfo.exe.
say "packaging the zip for Windows hosts"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
zip="$(ls "$build_dir"/korloader-*-win64.zip)"
listing="$(unzip -Z1 "$zip")"
for f in bin/korloader.dll lib/korloader.lib include/korloader/korloader.h bin/korinfo.exe; do
    grep -q "^korloader-[^/]*-win64/$f\$" <<<"$listing" || { echo "$zip lacks $f" >&2; exit 1; }
done
unpacked="$build_dir/zip-check"
rm -rf "$unpacked" && mkdir -p "$unpacked" && unzip -q "$zip" -d "$unpacked"
lib_exports="$("$triplet-nm" "$unpacked"/korloader-*/lib/korloader.lib | sed -n 's/^[0-9a-f]* T //p' | LC_ALL=C sort)"
if [ "$lib_exports" != "$(printf '%s\n' "$expected_exports" | LC_ALL=C sort)" ]; then
    echo "korloader.lib does not name the nine decorated exports:" >&2
    diff <(printf '%s\n' "$expected_exports" | LC_ALL=C sort) <(printf '%s\n' "$lib_exports") >&2 || true
    exit 1
fi
check_imports "$unpacked"/korloader-*/bin/korinfo.exe "" >/dev/null
say "$(basename "$zip"): DLL, korloader.lib with the nine exports, header, korinfo.exe"

# --- Tests under Wine: a fresh prefix, no display, no Mono or Gecko set-up.
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
wineserver_bin="$(command -v wineserver || command -v wineserver64 || echo /usr/lib/wine/wineserver64)"
stop_wineserver() { "$wineserver_bin" -k >/dev/null 2>&1 || true; }
trap stop_wineserver EXIT
say "making the Wine prefix"
"$wine_bin" wineboot -i >/dev/null 2>&1 || true
"$wineserver_bin" -w

say "running the tests under Wine"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300
grep -E '^\[==========\] [0-9]+ tests? from .* ran|^\[  (PASSED|SKIPPED) ' \
    "$build_dir/Testing/Temporary/LastTest.log" || true
say "Windows build and tests passed in $((SECONDS - started)) s"
