#!/usr/bin/env bash
# Installs a build as a user would and builds a host against the result:
#   1. `cmake --install` into a scratch prefix; the example host built there
#      with find_package(korloader) and with one pkg-config line, run on the
#      example frame, loading both installed import modules; the installed
#      kor2vdb on the example frame and on its own output; an import module
#      built against korloader::plugin_sdk; a wrong major version refused;
#   2. the Debian packages from `cpack -G DEB`: their names and dependencies,
#      apt's check that they install, and the example host built and run
#      against their contents unpacked into a scratch root;
#   3. when the build has the Python module: in both places, `import korloader`
#      finds the installed package and its import modules by default, and
#      the Python tests pass against it.
#
#   scripts/package-tests.sh BUILD_DIR
#
# BUILD_DIR is a configured and built tree (configured with
# -DCMAKE_INSTALL_PREFIX=/usr for proper Debian packages).
set -euo pipefail

build="$(cd "${1:?usage: package-tests.sh BUILD_DIR}" && pwd)"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
frame="$build/example.kor"
say() { printf '== [%3d s] %s\n' "$SECONDS" "$*"; }
fail() { echo "package-tests: $*" >&2; exit 1; }
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# The Python package, when this build made it.
python="$(cache_value Python3_EXECUTABLE)"
python_dir="$(cache_value KOR_PYTHON_INSTALL_DIR)"
has_python=""
[ -n "$python_dir" ] && [ -d "$build/$python_dir/korloader" ] && has_python=1

# `import korloader` from SITE (a site-packages directory) must load the
# package installed there and find the import modules in MODULE_DIR by
# default; then the Python tests run against it.
check_python_package() {
    local site="$1" module_dir="$2" output
    ls "$site"/korloader/_korloader.*.so "$site"/korloader/__init__.pyi "$site"/korloader/py.typed >/dev/null ||
        fail "the Python package is not complete in $site"
    local exported
    exported="$(nm -D --defined-only "$site"/korloader/_korloader.*.so | awk '{print $3}' | tr '\n' ' ')"
    [ "$exported" = "PyInit__korloader " ] || fail "the Python extension exports more than its entry point: $exported"
    output="$(cd "$scratch" && PYTHONPATH="$site" "$python" -c '
import korloader as kl
print(kl.__file__)
print(kl.default_module_dirs()[0])
print(kl.init_plugins())')" || fail "import korloader from $site failed: $output"
    [ "$output" = "$site/korloader/__init__.py"$'\n'"$module_dir"$'\n'"3" ] ||
        fail "korloader from $site did not load itself and both installed modules: $output"
    (cd "$scratch" && PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 KOR_TEST_MODULES=3 \
        KOR_TEST_FRAME_WRITER="$build/bin/kor_python_test_frames" KOR_TEST_DATA_DIR="$source_dir/tests/data" \
        "$python" -m pytest -q -p no:cacheprovider "$source_dir/python/tests" >"$scratch/pytest.log" 2>&1) ||
        { cat "$scratch/pytest.log" >&2; fail "the Python tests failed against $site"; }
}

# Runs an installed korinfo on a Field3D sample: it must find the import
# modules of its own installation.
run_korinfo_on_imported() {
    local output
    output="$("$1" "$source_dir/tests/data/f3d/dense_smoke.f3d")" || fail "$1 cannot read a Field3D file: $output"
    grep -q "^  mapping: 2,density;" <<<"$output" || fail "$1: unexpected output: $output"
}

# Runs the example host on the example frame: both modules must load and
# the smoke channel must be read.
run_example() {
    local output
    output="$("$@" "$frame" 2)" || fail "$* failed: $output"
    grep -qx "import modules: 3" <<<"$output" || fail "$*: the installed import modules did not load: $output"
    grep -q "^channel 2 (smoke): min 0, max 1$" <<<"$output" || fail "$*: unexpected output: $output"
}

# The installed kor2vdb converts the example frame, then reads its own .vdb
# back through the import module it finds beside itself.
run_kor2vdb() {
    local tool="$1" out="$scratch/kor2vdb-$2"
    "$tool" --quiet --json "$frame" "$out.vdb" >"$out.json" || fail "$tool cannot convert the example frame"
    grep -q '"ok":true' "$out.json" || fail "$tool: unexpected output: $(cat "$out.json")"
    "$tool" --quiet "$out.vdb" "$out-again.vdb" || fail "$tool cannot read its .vdb back through vdbplug"
}

# find_package(korloader 3) against PREFIX, then the example host.
build_example_with_cmake() {
    local prefix="$1" out="$2"
    cmake -S "$source_dir/examples/host" -B "$out" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$out" >/dev/null
}

# The example host with one compile line from pkg-config.
build_example_with_pkg_config() {
    local pcdir="$1" out="$2"
    local pc=(env PKG_CONFIG_PATH="$pcdir" pkg-config)
    mkdir -p "$out"
    # shellcheck disable=SC2046
    c++ -std=c++11 -Wall -Wextra -o "$out/korframe" "$source_dir/examples/host/main.cpp" \
        $("${pc[@]}" --cflags --libs korloader) \
        -DKORFRAME_MODULE_DIR="\"$("${pc[@]}" --variable=plugindir korloader)\"" \
        -DKORFRAME_MODULE_SUFFIX="\"$("${pc[@]}" --variable=pluginsuffix korloader)\""
}

# ---------------------------------------------------------------- install
prefix="$scratch/prefix"
say "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$(dirname "$(find "$prefix" -name 'libkorloader.so.*.*.*' | head -n 1)")"
[ -n "$libdir" ] || fail "no libkorloader.so.X.Y.Z installed"
soname="$(readelf -d "$libdir"/libkorloader.so.*.*.* | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
[ "$soname" = "libkorloader.so.3" ] || fail "SONAME is '$soname', not libkorloader.so.3"
for f in include/korloader/korloader.h include/korloader/sdk/plugin_sdk/kor_plugin.h bin/korinfo bin/kor2vdb \
         share/man/man1/korinfo.1.gz share/man/man1/kor2vdb.1.gz \
         share/doc/korloader/README.md share/doc/korloader/LICENSE; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for m in vdbplug f3dplug; do
    ls "$libdir"/korloader/"$m"_*.so >/dev/null 2>&1 || fail "$m is not in $libdir/korloader"
done
if grep -rIl -- "$build\|$source_dir" "$libdir/cmake" "$libdir/pkgconfig" >/dev/null; then
    fail "the installed CMake or pkg-config files name a path of this build machine"
fi

say "the installed korinfo loads the installed modules"
run_korinfo_on_imported "$prefix/bin/korinfo"

say "the installed kor2vdb on the example frame"
run_kor2vdb "$prefix/bin/kor2vdb" install

say "example host with find_package(korloader 3)"
build_example_with_cmake "$prefix" "$scratch/example-cmake"
run_example "$scratch/example-cmake/korframe"

say "example host with pkg-config"
build_example_with_pkg_config "$libdir/pkgconfig" "$scratch/example-pc"
run_example env LD_LIBRARY_PATH="$libdir" "$scratch/example-pc/korframe"

say "an import module against korloader::plugin_sdk"
mkdir -p "$scratch/module-src"
cat >"$scratch/module-src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(examplemodule LANGUAGES CXX)
find_package(korloader 3 REQUIRED)
add_library(vdbplug MODULE module.cpp)
target_link_libraries(vdbplug PRIVATE korloader::plugin_sdk)
set_target_properties(vdbplug PROPERTIES PREFIX "" OUTPUT_NAME "vdbplug_example")
EOF
cat >"$scratch/module-src/module.cpp" <<'EOF'
#include "plugin_sdk/kor_plugin.h"
KOR_PLUGIN_EXPORT int Initialize(void) { return 0; }
KOR_PLUGIN_EXPORT void SetThreadManager(void*) {}
KOR_PLUGIN_EXPORT void ReleaseThreadManager(void) {}
KOR_PLUGIN_EXPORT int ImportFrameVDB(const char*, OstrelFrameData*, int* axisResult, unsigned char,
                                     const CacheIO::GridMapping*, int) {
    *axisResult = 0;
    return 21;
}
KOR_PLUGIN_EXPORT void GetAvailableChannels(const char*, iArray<CacheIO::AvailableChannels>* list) {
    KorPlugin::AppendAvailableChannel(list, "density", 0);
}
EOF
cmake -S "$scratch/module-src" -B "$scratch/module" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/module" >/dev/null
exported="$(nm -D --defined-only "$scratch/module/vdbplug_example.so" | awk '{print $3}' | LC_ALL=C sort | tr '\n' ' ')"
[ "$exported" = "GetAvailableChannels ImportFrameVDB Initialize ReleaseThreadManager SetThreadManager " ] ||
    fail "the example module exports more than its entry points: $exported"

if [ -n "$has_python" ]; then
    say "the Python package in the prefix"
    check_python_package "$prefix/$python_dir" "$libdir/korloader"
fi

say "find_package(korloader 4) is refused"
mkdir -p "$scratch/wrong-major"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(p CXX)\nfind_package(korloader 4 REQUIRED)\n' \
    >"$scratch/wrong-major/CMakeLists.txt"
if cmake -S "$scratch/wrong-major" -B "$scratch/wrong-major/b" -DCMAKE_PREFIX_PATH="$prefix" \
        >"$scratch/wrong-major.log" 2>&1; then
    fail "find_package(korloader 4) accepted version 3"
fi
tr '\n' ' ' <"$scratch/wrong-major.log" | grep -q 'compatible with requested version "4"' ||
    fail "find_package(korloader 4) failed without CMake's version message"

# ---------------------------------------------------------------- Debian packages
say "cpack -G DEB"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$build"/*.deb)
names="$(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done | LC_ALL=C sort | tr '\n' ' ')"
expected_names="korloader-tools libkorloader-dev libkorloader3 ${has_python:+python3-korloader }"
[ "$names" = "$expected_names" ] || fail "unexpected packages: $names"
tools_deb="$(ls "$build"/korloader-tools_*.deb)"
depends="$(dpkg-deb -f "$tools_deb" Depends)"
for needed in libkorloader3 zlib1g libopenvdb libhdf5; do
    grep -q "$needed" <<<"$depends" || fail "korloader-tools does not depend on $needed: $depends"
done
dpkg-deb -f "$(ls "$build"/libkorloader-dev_*.deb)" Depends | grep -q "libkorloader3 (= " ||
    fail "libkorloader-dev does not depend on libkorloader3"
if [ -n "$has_python" ]; then
    depends="$(dpkg-deb -f "$(ls "$build"/python3-korloader_*.deb)" Depends)"
    for needed in "python3 (>=" python3-numpy libstdc++6; do
        grep -qF "$needed" <<<"$depends" || fail "python3-korloader does not depend on $needed: $depends"
    done
fi
# apt resolves every dependency of the packages on this system.
apt-get install --simulate "${debs[@]}" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt cannot install the packages"; }

say "the packages' contents in a scratch root"
root="$scratch/root"
for d in "${debs[@]}"; do dpkg -x "$d" "$root"; done
build_example_with_cmake "$root/usr" "$scratch/example-deb"
run_example "$scratch/example-deb/korframe"
"$root/usr/bin/korinfo" "$frame" >/dev/null || fail "the packaged korinfo cannot read the example frame"
run_kor2vdb "$root/usr/bin/kor2vdb" deb
run_korinfo_on_imported "$root/usr/bin/korinfo"
if [ -n "$has_python" ]; then
    say "the packaged Python package in the scratch root"
    check_python_package "$root/usr/$python_dir" "$(dirname "$(find "$root" -name 'libkorloader.so.*.*.*' | head -n 1)")/korloader"
fi

say "install and packages passed"
