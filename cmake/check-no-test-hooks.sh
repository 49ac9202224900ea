#!/bin/sh
# The shipped library holds no test seam: no symbol of the registry layer's
# fault hook and none of its text. Test builds get the hook from
# kestlib_faults, which the library never links.
set -eu
library=$1
hooks='FaultInjection|ThrowIfArmed|ThrowOnNextCall'
case $library in
  *.dll) symbols=$(x86_64-w64-mingw32-objdump -t "$library") ;;
  *) symbols=$(nm -a "$library") ;;
esac
if [ "$(printf '%s\n' "$symbols" | wc -l)" -lt 10 ]; then
  echo "$library has no symbol table to check: test an unstripped build"
  exit 1
fi
found=$(printf '%s\n' "$symbols" | grep -E "$hooks" || true)
if [ -n "$found" ]; then
  echo "$library holds fault-injection code; link kestlib, not kestlib_faults:"
  echo "$found"
  exit 1
fi
if LC_ALL=C grep -aq 'injected by a test' "$library"; then
  echo "$library holds the fault hook's message; link kestlib, not kestlib_faults"
  exit 1
fi
echo "no test hooks in $library"
