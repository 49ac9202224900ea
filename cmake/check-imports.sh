#!/bin/sh
# Every Windows binary of the build imports system DLLs only: the C++
# runtime, libgcc and winpthread are linked in, so a host deploys one file.
set -eu
status=0
for binary in "$1"/*.dll "$1"/*.exe; do
  [ -e "$binary" ] || continue
  imports=$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if printf '%s\n' "$imports" | grep -iqE 'libstdc\+\+|libgcc|winpthread'; then
    echo "$binary imports a runtime DLL:" $imports
    status=1
  fi
done
echo "checked $(ls "$1"/*.dll "$1"/*.exe 2>/dev/null | wc -l) binaries"
exit $status
