#!/bin/sh
# Checks the plug-in DLL as a host loads it: the export table holds exactly one name,
# winampVisGetHeader, and the import table names only KERNEL32, USER32, GDI32 and msvcrt.
objdump=$1
dll=$2
status=0
dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }

exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^\s*\[ *[0-9]*\] \+//p')
count=$(printf '%s\n' "$dump" | sed -n 's/^\s*Export Address Table\s\+0*\([0-9a-f]\+\)$/\1/p' | head -n 1)
if [ "$count" != "1" ]; then
  echo "export address table should hold one entry, holds ${count:-none}"; status=1
fi
if [ "$exports" != "winampVisGetHeader" ]; then
  echo "exports should be exactly winampVisGetHeader, are:"; printf '%s\n' "$exports"
  status=1
fi

imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | sort)
if [ -z "$imports" ]; then
  echo "no import table found"; status=1
fi
for name in $imports; do
  case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll|user32.dll|gdi32.dll|msvcrt.dll) ;;
    *) echo "unexpected import: $name"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "exports: $exports; imports: $(echo $imports)"
exit $status
