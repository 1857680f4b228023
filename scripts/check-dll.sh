#!/usr/bin/env bash
# Checks the shipped 32-bit DLL: the two exports unmangled, and imports from
# system DLLs only (nothing of the toolchain's own runtime).
set -euo pipefail
dir=${1:-build/win32}
dll=$(find "$dir" -maxdepth 3 -name 'QRX_FreqFilter.dll' | head -n 1)
[ -n "$dll" ] || { echo "QRX_FreqFilter.dll not found in $dir"; exit 1; }
dump=$(i686-w64-mingw32-objdump -p "$dll")
echo "$dump" | grep -q 'file format pei-i386' || { echo "not a 32-bit DLL"; exit 1; }
for name in Velmorin_Plugin_Version Velmorin_Plugin_PR; do
  echo "$dump" | grep -qE "^\s*\[ *[0-9]+\] +$name\$" || { echo "export $name missing or mangled"; exit 1; }
done
exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -cE '^\s*\[')
[ "$exports" -eq 2 ] || { echo "expected 2 exports, found $exports"; exit 1; }
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|COMCTL32|COMDLG32|OLE32|OLEAUT32|D3D9|msvcrt|WINMM|UxTheme|IMM32)\.dll$'
bad=0
while read -r name; do
  if ! echo "$name" | grep -qiE "$allowed"; then echo "unexpected import: $name"; bad=1; fi
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')
echo "$dump" | sed -n 's/^\s*DLL Name: /imports: /p'
exit $bad
