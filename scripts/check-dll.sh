#!/usr/bin/env bash
# Checks the shipped 32-bit DLL: the two exports unmangled, and imports from
# system DLLs only (nothing of the toolchain's own runtime).
set -euo pipefail
dir=${1:-build/win32}
dll="$dir/src/QRX_FreqFilter.dll"
[ -f "$dll" ] || { echo "$dll not found"; exit 1; }
dump=$(LC_ALL=C i686-w64-mingw32-objdump -p "$dll")  # untranslated: the script reads its words
if ! grep -q 'file format pei-i386' <<<"$dump"; then
  echo "not a 32-bit DLL: $(head -n 3 <<<"$dump" | tr '\n' ' ')"
  exit 1
fi
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
expected=$(printf '%s\n' Velmorin_Plugin_PR Velmorin_Plugin_Version)
if [ "$names" != "$expected" ]; then
  echo "exports differ from the two unmangled names:"; echo "$names"; exit 1
fi
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|COMCTL32|COMDLG32|OLE32|OLEAUT32|d3d9|msvcrt|WINMM|UxTheme|IMM32)\.dll$'
bad=0
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
while read -r name; do
  if ! grep -qiE "$allowed" <<<"$name"; then echo "unexpected import: $name"; bad=1; fi
done <<<"$imports"
echo "exports: $(echo $names)"
echo "imports: $(echo $imports)"
exit $bad
