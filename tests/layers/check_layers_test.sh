#!/usr/bin/env bash
# tools/check-layers.sh against copies of the tree, each broken in one way:
# the check must pass the tree as it is and fail each broken copy with a
# message naming the file, the include or list, and the rule.
#
#   check_layers_test.sh <source dir> <work dir>
set -uo pipefail

src=$(cd "$1" && pwd)
work=$2
rm -rf "$work"
mkdir -p "$work/tree"
# The sources and build files only (no build folders, corpora or data).
(cd "$src" && find . \( -path './build*' -o -name '.git' -o -name '.cache' -o -path './fuzz/corpus*' \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name 'CMakeLists.txt' -o -name '*.cmake' \
  -o -name 'check-layers.sh' \) -print0 | xargs -0 cp --parents -t "$work/tree") || exit 1

passed=0 failed=0
out=$work/out

fresh() {
  rm -rf "$work/case"
  cp -a "$work/tree" "$work/case"
  cd "$work/case" || exit 1
}

run() { bash tools/check-layers.sh "$work/case" >"$out" 2>&1; }

report() {
  if [ "$1" = ok ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $2"
    sed 's/^/    /' "$out"
  fi
}

# expect_pass NAME [TEXT...]: exit 0, and each TEXT in the output.
expect_pass() {
  local name=$1 t
  shift
  if ! run; then report no "$name: the check failed"; return; fi
  for t in "$@"; do
    grep -qF -- "$t" "$out" || { report no "$name: no \"$t\" in the output"; return; }
  done
  report ok
}

# expect_fail NAME TEXT...: exit 1, and each TEXT in the output.
expect_fail() {
  local name=$1 t
  shift
  if run; then report no "$name: the check passed"; return; fi
  for t in "$@"; do
    grep -qF -- "$t" "$out" || { report no "$name: no \"$t\" in the output"; return; }
  done
  report ok
}

add_line() { sed -i "1a $2" "$1"; }  # after the first line: line 2

# A transitional exception, as the check's EXCEPTIONS table has them.
add_exception() { sed -i "/^EXCEPTIONS='\$/a $1" tools/check-layers.sh; }

fresh
expect_pass "the tree as it is" "every rule kept"

fresh
add_line codec/Packing.cpp '#include "component/VeskGSM.h"'
expect_fail "the codec reaches up to the component" \
  'codec/Packing.cpp:2: includes "component/VeskGSM.h" (component), but codec files may include only framework, codec'

fresh
add_line codec/Submit.cpp '#include "incoming/Reassembly.h"'
expect_fail "the codec uses the reassembly outside the one exception" \
  'codec/Submit.cpp:2: includes "incoming/Reassembly.h" (reassembly), but codec files may include only framework, codec'

fresh
add_line component/Thread.cpp '#include "port/SerialDevice.h"'
expect_fail "the framework uses the serial platform" \
  'component/Thread.cpp:2: includes "port/SerialDevice.h" (serial), but framework files may include only framework'

fresh
add_line incoming/Framing.cpp '#include "component/VeskGSM.h"'
expect_fail "the answer layer reaches up to the component" \
  'incoming/Framing.cpp:2: includes "component/VeskGSM.h" (component), but at files may include only framework, codec, at'

fresh
add_line port/posix_serial.cpp '#include "port/Connection.h"'
expect_fail "the serial platform uses the connection" \
  'port/posix_serial.cpp:2: includes "port/Connection.h" (connection), but serial files may include only framework, serial'

fresh
add_line threads/ComThread.cpp '#include "component/VeskGSM.h"'
expect_fail "the connection uses the component outside the one exception" \
  'threads/ComThread.cpp:2: includes "component/VeskGSM.h" (component), but connection files may include only framework, serial, connection'

fresh
add_line incoming/Reassembly.cpp '#include "threads/ComThread.h"'
expect_fail "the reassembly uses a thread" \
  'incoming/Reassembly.cpp:2: includes "threads/ComThread.h" (connection), but reassembly files may include only framework, codec, reassembly'

# An exception lets its include through, and says so; without its line,
# the include fails.
fresh
add_line threads/ReconnectThread.cpp '#include "sending/Split.h"'
add_exception 'threads/ReconnectThread.cpp  sending/Split.h  # on its way out'
expect_pass "an include let through by an exception" \
  'transitional: threads/ReconnectThread.cpp includes sending/Split.h: on its way out' 'every rule kept'
sed -i '\|^threads/ReconnectThread.cpp  sending/Split.h|d' tools/check-layers.sh
expect_fail "the same include once its exception is removed" \
  'threads/ReconnectThread.cpp:2: includes "sending/Split.h" (component), but connection files may include only framework, serial, connection'

fresh
add_exception 'codec/Packing.cpp  component/VeskGSM.h  # long gone'
expect_pass "an exception no longer needed is only noted" \
  'the exception "codec/Packing.cpp component/VeskGSM.h" is no longer needed: delete its line' 'every rule kept'

fresh
add_line component/Framework.cpp '#include <windows.h>'
expect_fail "an operating system header in portable code" \
  'component/Framework.cpp:2: includes <windows.h>, a system header: only the platform files (OS_FILES) may'

fresh
add_line sending/Split.cpp '#include <nlohmann/json.hpp>'
expect_fail "a library outside the standard one" \
  'sending/Split.cpp:2: includes <nlohmann/json.hpp>: the library uses the C++ standard library only'

fresh
echo '#include "component/VeskGSM.h"' >incoming/NotListedAnywhere.cpp
expect_fail "a new source file left out of the build" \
  'incoming/NotListedAnywhere.cpp: not built: add it to VESK_COMPONENT_SOURCES in cmake/Sources.cmake (its group is component)'

fresh
sed -i '\|^    threads/ReconnectThread.cpp|d; s|^    sending/Split.cpp)|    sending/Split.cpp\n    threads/ReconnectThread.cpp)|' cmake/Sources.cmake
expect_fail "a source file in another layer's list" \
  'threads/ReconnectThread.cpp: listed in VESK_COMPONENT_SOURCES in cmake/Sources.cmake, but its group is connection: move it to VESK_CONNECTION_SOURCES'

fresh
sed -i 's|^    component/Thread.cpp)|    component/Thread.cpp\n    component/Register.cpp)|' cmake/Sources.cmake
expect_fail "a listed file that does not exist" \
  'cmake/Sources.cmake: VESK_FRAMEWORK_SOURCES names component/Register.cpp, which does not exist'

fresh
add_line component/Enums.h '#include "codec/Hex.h"'
expect_fail "the public interface includes a header that is not installed" \
  'codec/Hex.h: included by the public interface (through component/Enums.h) but not installed'

fresh
echo 'int main() {}' >tests/component/notices_test.cpp
expect_fail "a test file no CMakeLists.txt names" \
  'tests/component/notices_test.cpp: no CMakeLists.txt names it, so it is never built'

fresh
add_line tools/simulator/AtEngine.cpp '#include "codec/Alphabet.h"'
expect_fail "the simulator shares library code" \
  'tools/simulator/AtEngine.cpp:2: includes "codec/Alphabet.h" (codec), but simulator files may include only simulator'

fresh
add_line examples/send_receive.cpp '#include "incoming/Reassembly.h"'
expect_fail "an example includes what the package does not install" \
  'examples/send_receive.cpp:2: includes "incoming/Reassembly.h" (reassembly), but application files may include only the public headers (VESK_PUBLIC_HEADERS)'

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
