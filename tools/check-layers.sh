#!/usr/bin/env bash
# The layer check: each file of the library includes only what its layer may
# use, and the build names every source file in the right place.
#
#   tools/check-layers.sh [ROOT]        (make check-layers; CI runs it first)
#
# It fails, naming the file, the line, the include and the rule, when
#   - a file includes a header of a group its own group may not use (RULES);
#   - a library file includes anything but the C++ standard library, or an
#     operating system header outside the platform files (OS_FILES);
#   - a source file of the library is missing from cmake/Sources.cmake, or is
#     in another layer's list there, or that file lists a file that is not
#     there;
#   - component/VeskGSM.h comes to include a header that is not installed
#     with it (VESK_PUBLIC_HEADERS in cmake/Sources.cmake);
#   - any other .cpp file of the tree is named by no CMakeLists.txt above it
#     (a test that is never built).
#
# Adding a file: a new file in an existing folder usually needs nothing here
# (the folder's pattern in GROUPS takes it); add its .cpp to its layer's list
# in cmake/Sources.cmake, or to its binary's list in the nearest
# CMakeLists.txt. A file that belongs to another layer than its folder's gets
# its own line in GROUPS, above the folder's.
set -euo pipefail

ROOT=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$ROOT"

# The group of each file: the first pattern that matches its path wins
# (`*` matches across folders). The library's groups are its layers (the
# codec layer is two groups: the codec proper and the reassembly built on
# it); the others are the tree's programs around it.
GROUPS_TABLE='
component/Framework.*          framework
component/Enums.*              framework
component/Thread.*             framework
component/Component.*          framework
component/Platform.h           framework
component/*_platform.cpp       framework
codec/VeskGSMCodec.cpp         component    # the codec methods of TVeskGSM
codec/*                        codec
incoming/Reassembly.*          reassembly
incoming/Framing.*             at
commands/Answers.*             at
commands/Errors.*              at
commands/ModemState.*          at
commands/StateAnswers.*        at
commands/Indications.*         at
port/SerialDevice.h            serial
port/PosixSerial.h             serial
port/Win32Serial.h             serial
port/*_serial.cpp              serial
port/Connection.*              connection
threads/*                      connection
component/*                    component
port/*                         component
commands/*                     component
incoming/*                     component
sending/*                      component
detection/*                    component
tools/simulator/*              simulator
tools/gateway/*                gateway
tools/cli/*                    tool
tools/demo/*                   tool
examples/*                     application
'

# What each group may include. `public` is the installed interface:
# component/VeskGSM.h and what it includes (VESK_PUBLIC_HEADERS).
RULES='
framework      framework
codec          framework codec
reassembly     framework codec reassembly
at             framework codec at
serial         framework serial
connection     framework serial connection
component      framework codec reassembly at serial connection component
simulator      simulator                  # the other side of the line: no library code
gateway        framework codec reassembly at serial connection component simulator gateway
tool           framework codec reassembly at serial connection component simulator gateway tool
application    public                     # what an installed package offers
'

# Includes that break the rules today, each on its way out with the change
# that removes it: delete its line then. A line no longer needed is reported.
#   file                 include                 why it is still here
EXCEPTIONS='
'

# The library's groups, and the list in cmake/Sources.cmake each one's
# sources go in (VESK_<LAYER>_SOURCES, or its _POSIX / _WIN32 variant).
LAYER_LISTS='
framework      FRAMEWORK
codec          CODEC
reassembly     CODEC
at             AT
serial         PLATFORM
connection     CONNECTION
component      COMPONENT
'

# The only library files that may include the operating system's headers.
OS_FILES='
component/posix_platform.cpp
component/win32_platform.cpp
port/posix_serial.cpp
port/win32_serial.cpp
'

# --------------------------------------------------------------------------

strip() { sed -e 's/#.*//' -e '/^[[:space:]]*$/d' <<<"$1"; }

declare -a GROUP_PATTERNS=() GROUP_NAMES=()
while read -r pattern group; do
  GROUP_PATTERNS+=("$pattern")
  GROUP_NAMES+=("$group")
done < <(strip "$GROUPS_TABLE")

declare -A ALLOWED=() LAYER_LIST=() EXCEPTION_WHY=() EXCEPTION_USED=()
while read -r group allowed; do ALLOWED[$group]=" $allowed "; done < <(strip "$RULES")
while read -r group list; do LAYER_LIST[$group]=$list; done < <(strip "$LAYER_LISTS")
while IFS= read -r line; do
  read -r file include _ <<<"$line"
  [ -n "${file:-}" ] || continue
  why=${line#*#}
  [ "$why" = "$line" ] && why=""
  EXCEPTION_WHY["$file $include"]=${why# }
done <<<"$EXCEPTIONS"
mapfile -t OS_FILE_LIST < <(strip "$OS_FILES")

# group_of PATH: its group in GROUP (empty when none), remembered.
declare -A GROUP_CACHE=()
group_of() {
  local path=$1 i
  if [ -n "${GROUP_CACHE[$path]+x}" ]; then
    GROUP=${GROUP_CACHE[$path]}
    return
  fi
  GROUP=""
  for i in "${!GROUP_PATTERNS[@]}"; do
    # shellcheck disable=SC2053
    if [[ $path == ${GROUP_PATTERNS[$i]} ]]; then
      GROUP=${GROUP_NAMES[$i]}
      break
    fi
  done
  GROUP_CACHE[$path]=$GROUP
}

is_library() { [ -n "${LAYER_LIST[$1]:-}" ]; }

# The files of the tree: git's list (tracked, and new files not ignored) in
# a work tree, else everything outside build folders.
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$ROOT" ]; then
  mapfile -t FILES < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' '*.hpp' | sort -u)
else
  mapfile -t FILES < <(find . \( -path './build*' -o -name '.git' -o -name '.cache' \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) -print | sed 's|^\./||' | sort)
fi
# A file deleted but not yet committed is gone.
for i in "${!FILES[@]}"; do [ -f "${FILES[$i]}" ] || unset 'FILES[i]'; done

problems=0
problem() {
  echo "$*" >&2
  problems=$((problems + 1))
}

# Sources.cmake's lists: "VAR file" for each file named in a set(VESK_..._SOURCES...)
# or set(VESK_PUBLIC_HEADERS ...) block.
SOURCES_CMAKE=cmake/Sources.cmake
cmake_lists() {
  awk '
    match($0, /set\((VESK_[A-Z0-9_]+)/) { var = substr($0, RSTART + 4, RLENGTH - 4) }
    var != "" {
      line = $0; sub(/#.*/, "", line)
      n = split(line, words, /[[:space:]()]+/)
      for (i = 1; i <= n; i++) if (words[i] ~ /\.(cpp|h)$/) print var, words[i]
      if (line ~ /\)/) var = ""
    }' "$SOURCES_CMAKE"
}
declare -A LISTED_IN=() PUBLIC=()
while read -r var file; do
  if [ "$var" = VESK_PUBLIC_HEADERS ]; then
    PUBLIC[$file]=1
    [ -f "$file" ] || problem "$SOURCES_CMAKE: VESK_PUBLIC_HEADERS names $file, which does not exist"
    continue
  fi
  [[ $var == VESK_*_SOURCES* ]] || continue
  [ -f "$file" ] || problem "$SOURCES_CMAKE: $var names $file, which does not exist"
  LISTED_IN[$file]="${LISTED_IN[$file]:-}${LISTED_IN[$file]:+ }$var"
done < <(cmake_lists)

# Every include of every file in one pass: "Q|A <file> <line> <target>" for
# "quoted" and <angle> includes. A quoted path is resolved from the root or
# from the including file's folder; one found in neither is not the tree's.
declare -A QUOTED=() ANGLE=()
while read -r kind file line target; do
  if [ "$kind" = A ]; then
    ANGLE[$file]+="$line:$target "
    continue
  fi
  if [ ! -f "$target" ]; then
    [ -f "${file%/*}/$target" ] || continue
    target=$(realpath -m --relative-to=. "${file%/*}/$target")
  fi
  QUOTED[$file]+="$line:$target "
done < <(awk '
  /^[ \t]*#[ \t]*include[ \t]*"/ { split($0, p, "\""); print "Q", FILENAME, FNR, p[2]; next }
  /^[ \t]*#[ \t]*include[ \t]*</ { t = $0; sub(/^[^<]*</, "", t); sub(/>.*/, "", t); print "A", FILENAME, FNR, t }
' /dev/null "${FILES[@]}")

# "a, b, c" from " a b c ", the public interface named as such.
names() {
  local -a words
  read -r -a words <<<"$1"
  local s="${words[*]}"
  s=${s// /, }
  echo "${s/public/the public headers (VESK_PUBLIC_HEADERS)}"
}

checked=0 includes=0
for file in "${FILES[@]}"; do
  group_of "$file"
  group=$GROUP
  [ -n "$group" ] || continue
  checked=$((checked + 1))
  allowed=${ALLOWED[$group]:-}

  # Quoted includes against the group's rule.
  for entry in ${QUOTED[$file]:-}; do
    line=${entry%%:*} target=${entry#*:}
    includes=$((includes + 1))
    group_of "$target"
    target_group=$GROUP
    if [[ $allowed == *" public "* && -n "${PUBLIC[$target]:-}" ]]; then continue; fi
    if [ -n "$target_group" ] && [[ $allowed == *" $target_group "* ]]; then continue; fi
    if [ -n "${EXCEPTION_WHY["$file $target"]+x}" ]; then
      EXCEPTION_USED["$file $target"]=1
      continue
    fi
    problem "$file:$line: includes \"$target\" (${target_group:-in no group}), but $group files may include only $(names "$allowed")"
  done

  # Angle includes: the library uses the C++ standard library, and the
  # operating system in its platform files alone.
  if is_library "$group"; then
    os_file=""
    for f in "${OS_FILE_LIST[@]}"; do [ "$f" = "$file" ] && os_file=1; done
    for entry in ${ANGLE[$file]:-}; do
      line=${entry%%:*} header=${entry#*:}
      includes=$((includes + 1))
      if [[ $header != *.* ]]; then continue; fi
      if [ -n "$os_file" ] && [[ $header == *.h ]]; then continue; fi
      if [[ $header =~ ^(windows|winsock2|termios|pthread|unistd|fcntl|poll|dirent)\.h$|^(sys|asm|linux)/ ]]; then
        problem "$file:$line: includes <$header>, a system header: only the platform files (OS_FILES) may"
      else
        problem "$file:$line: includes <$header>: the library uses the C++ standard library only"
      fi
    done
  fi

  # The library's sources: each in its layer's list, once.
  if is_library "$group" && [[ $file == *.cpp ]]; then
    want=VESK_${LAYER_LIST[$group]}_SOURCES
    lists=${LISTED_IN[$file]:-}
    if [ -z "$lists" ]; then
      problem "$file: not built: add it to $want in $SOURCES_CMAKE (its group is $group)"
    elif [[ $lists == *" "* ]]; then
      problem "$file: named more than once in $SOURCES_CMAKE ($lists)"
    elif [[ $lists != "$want" && $lists != "${want}_POSIX" && $lists != "${want}_WIN32" ]]; then
      problem "$file: listed in $lists in $SOURCES_CMAKE, but its group is $group: move it to $want"
    fi
  fi
done

# Files Sources.cmake lists that are not the library's.
for file in "${!LISTED_IN[@]}"; do
  [ -f "$file" ] || continue
  group_of "$file"
  group=$GROUP
  if [ -z "$group" ] || ! is_library "$group"; then
    problem "$SOURCES_CMAKE: ${LISTED_IN[$file]} names $file, which is in no layer of the library (GROUPS in $0)"
  fi
done

# Everything the public header includes is installed with it.
declare -A SEEN=()
walk_public() {
  local file=$1 via=$2 entry
  [ -z "${SEEN[$file]:-}" ] || return 0
  SEEN[$file]=1
  if [ -z "${PUBLIC[$file]:-}" ]; then
    problem "$file: included by the public interface (through $via) but not installed: add it to VESK_PUBLIC_HEADERS in $SOURCES_CMAKE"
  fi
  for entry in ${QUOTED[$file]:-}; do
    walk_public "${entry#*:}" "$file"
  done
}
walk_public component/VeskGSM.h component/VeskGSM.h

# Every other .cpp is named by a CMakeLists.txt in its folder or above, as
# the path from there: each word of every CMakeLists.txt (comments aside)
# that names a .cpp, as a path from the root.
declare -A NAMED=()
# shellcheck disable=SC2016
while read -r dir word; do
  NAMED[$dir/$word]=1
done < <(find . \( -path './build*' -o -name '.git' \) -prune -o -name CMakeLists.txt -print0 | xargs -0 awk '
  { line = $0; sub(/#.*/, "", line); n = split(line, w, /[ \t()"]+/)
    dir = FILENAME; sub(/\/?CMakeLists\.txt$/, "", dir); sub(/^\.\/?/, "", dir); if (dir == "") dir = "."
    for (i = 1; i <= n; i++) if (w[i] ~ /\.cpp$/ && w[i] !~ /\$/) print dir, w[i] }')
for file in "${FILES[@]}"; do
  [[ $file == *.cpp ]] || continue
  group_of "$file"
  if [ -n "$GROUP" ] && is_library "$GROUP"; then continue; fi
  dir=${file%/*} rel=${file##*/} found=""
  [ "$dir" = "$file" ] && dir=.
  while :; do
    if [ -n "${NAMED[$dir/$rel]:-}" ]; then
      found=1
      break
    fi
    [ "$dir" = . ] && break
    rel=${dir##*/}/$rel
    if [[ $dir == */* ]]; then dir=${dir%/*}; else dir=.; fi
  done
  [ -n "$found" ] || problem "$file: no CMakeLists.txt names it, so it is never built: add it to its binary's list"
done

for key in "${!EXCEPTION_WHY[@]}"; do
  if [ -z "${EXCEPTION_USED[$key]:-}" ]; then
    echo "note: the exception \"$key\" is no longer needed: delete its line from EXCEPTIONS in $0" >&2
  else
    echo "transitional: ${key/ / includes }: ${EXCEPTION_WHY[$key]}"
  fi
done

if [ "$problems" -gt 0 ]; then
  echo "layer check: $problems problem(s); the rules are at the top of tools/check-layers.sh" >&2
  exit 1
fi
echo "layer check: $checked files, $includes includes, every rule kept"
