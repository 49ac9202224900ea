#!/bin/sh
# The library shows hosts its two entry points and nothing else: vesk.dll by
# name at ordinals 1 and 2; libvesk.so with just what catching
# VeskSettings::BadKeyTypeError by type needs besides.
set -eu
library=$1
case $library in
  *.dll)
    # "[ i] Name" in the name table: ordinal i + 1 (the ordinal base).
    found=$(x86_64-w64-mingw32-objdump -p "$library" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\2 \1/p' |
      awk '{ print $1 "@" $2 + 1 }' | sort | tr '\n' ' ')
    expected="GetFullVeskRegistryKey@2 GetVeskSettingsPtr@1 "
    ;;
  *)
    found=$(nm -D --defined-only "$library" | c++filt | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
      grep -vE '^_(init|fini)$' | sort | tr '\n' ';')
    expected="GetFullVeskRegistryKey;GetVeskSettingsPtr;typeinfo for VeskSettings::BadKeyTypeError;typeinfo name for VeskSettings::BadKeyTypeError;"
    ;;
esac
[ "$found" = "$expected" ] && { echo "exports: $found"; exit 0; }
echo "unexpected exports: $found (expected $expected)"
exit 1
