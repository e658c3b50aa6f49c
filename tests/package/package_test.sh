#!/usr/bin/env bash
# The installed package as an application sees it:
#
#   package_test.sh find_package|pkg-config <build dir> <work dir> <example.cpp>
#                   <veskgsm-sim> <c++ compiler> <version> [<tool name>]
#
# Installs the build into <work dir>/prefix, builds the example against
# that prefix alone (find_package with CMAKE_PREFIX_PATH, or the flags
# pkg-config gives), and runs it against the modem simulator: it must open
# the port, set the modem up and send.
set -euo pipefail

mode=$1 build=$2 work=$3 example=$4 sim=$5 cxx=$6 version=$7 tool=${8:-}
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install into $prefix"
}

# The layout: headers under include/veskgsm/ as in the tree, the library,
# the CMake package, the pkg-config file, the tool.
for header in component/VeskGSM.h component/Framework.h port/SerialDevice.h codec/Submit.h; do
  [ -f "$prefix/include/veskgsm/$header" ] || fail "include/veskgsm/$header is not installed"
done
library=$(find "$prefix" \( -name 'libveskgsm.a' -o -name 'libveskgsm.so' \) | head -n 1)
[ -n "$library" ] || fail "no libveskgsm.a or libveskgsm.so under $prefix"
libdir=$(dirname "$library")
[ -f "$libdir/cmake/VeskGSM/VeskGSMConfig.cmake" ] || fail "no VeskGSMConfig.cmake in $libdir/cmake/VeskGSM"
[ -f "$libdir/cmake/VeskGSM/VeskGSMConfigVersion.cmake" ] || fail "no VeskGSMConfigVersion.cmake"
[ -f "$libdir/pkgconfig/veskgsm.pc" ] || fail "no veskgsm.pc in $libdir/pkgconfig"
if [ -n "$tool" ]; then
  [ -x "$prefix/bin/$tool" ] || fail "the tool is not installed as $prefix/bin/$tool"
fi
# Nothing of the tree but the public headers.
if find "$prefix/include" -name '*.cpp' | grep -q .; then
  fail "sources installed under include/"
fi

app=$work/send_receive
case $mode in
  find_package)
    cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" -DVESK_EXAMPLE="$example" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
      >"$work/configure.log" 2>&1 || {
      cat "$work/configure.log"
      fail "configuring the application with find_package(VeskGSM)"
    }
    # The package found must be the one just installed.
    grep -q "VeskGSM $version from $libdir/cmake/VeskGSM" "$work/configure.log" || {
      cat "$work/configure.log"
      fail "find_package did not find VeskGSM $version in $prefix"
    }
    cmake --build "$work/consumer" >"$work/build.log" 2>&1 || {
      cat "$work/build.log"
      fail "building the application against the package"
    }
    app=$work/consumer/send_receive
    ;;
  pkg-config)
    export PKG_CONFIG_LIBDIR=$libdir/pkgconfig PKG_CONFIG_PATH=
    got=$(pkg-config --modversion veskgsm) || fail "pkg-config does not know veskgsm"
    [ "$got" = "$version" ] || fail "pkg-config gives version $got, not $version"
    flags=$(pkg-config --cflags --libs veskgsm)
    echo "pkg-config --cflags --libs veskgsm: $flags"
    # The prefix is found from the .pc file's place, wherever it is installed.
    read -r includes _ < <(pkg-config --cflags-only-I veskgsm)
    [ "$(realpath -m "${includes#-I}")" = "$prefix/include/veskgsm" ] ||
      fail "the include flags $includes do not name $prefix/include/veskgsm"
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 "$example" -o "$app" $flags -Wl,-rpath,"$libdir" >"$work/build.log" 2>&1 || {
      cat "$work/build.log"
      fail "building the application with pkg-config's flags"
    }
    ;;
  *) fail "unknown mode $mode" ;;
esac

# The application against a simulated modem.
sim_pid=""
cleanup() { if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi; }
trap cleanup EXIT
"$sim" --path "$work/modem" --speed 115200 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -e "$work/modem" ] && break
  sleep 0.1
done
[ -e "$work/modem" ] || fail "the simulator did not start: $(cat "$work/sim.log")"

status=0
timeout 60 "$app" "$work/modem" +15550100 "from the installed package" 0 115200 >"$work/run.log" 2>&1 || status=$?
cat "$work/run.log"
[ "$status" = 0 ] || fail "the application exited with status $status"
grep -qx "sent to +15550100" "$work/run.log" || fail "the application did not send"
echo "package.$mode: installed, built against $prefix and sent through the simulator"
