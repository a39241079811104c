#!/bin/sh
# The host's machine has the system DLLs and nothing else: a module that
# imports from any DLL beyond KERNEL32, USER32 and msvcrt does not load.
#   imports.sh OBJDUMP PE-FILE...
objdump=$1
shift
status=0
for f in "$@"; do
  dlls=$("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
  extra=$(printf '%s\n' "$dlls" | grep -viE '^(kernel32|user32|msvcrt)\.dll$')
  if [ -z "$dlls" ]; then
    echo "$f: no imports read"; status=1
  elif [ -n "$extra" ]; then
    echo "$f imports" $extra; status=1
  fi
done
exit $status
