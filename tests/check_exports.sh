#!/bin/sh
# Every symbol the shared library defines for the dynamic linker must be one
# of the exported calls.
lib="$1"; map="$2"
allowed=$(sed -n '/global:/,/local:/p' "$map" | tr ' ;' '\n\n' | grep -E '^[A-Za-z_][A-Za-z0-9_]*$' | grep -v -E '^(global|local)$' | sort -u)
if [ -n "${QV_OBJDUMP:-}" ]; then  # a Windows DLL: its export table
  defined=$("$QV_OBJDUMP" -p "$lib" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            grep -E '^\s*\[ *[0-9]+\]' | awk '{print $NF}' | sort -u)
else
  defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(_init|_fini)$' | sort -u)
fi
extra=$(printf '%s\n' "$defined" | grep -v -x -F "$allowed")
if [ -n "$extra" ]; then
  echo "symbols visible beyond the exported calls:"; printf '%s\n' "$extra"; exit 1
fi
missing=$(printf '%s\n' "$allowed" | grep -v -x -F "$defined")
if [ -n "$missing" ]; then
  echo "exported calls missing:"; printf '%s\n' "$missing"; exit 1
fi
echo "$(printf '%s\n' "$defined" | wc -l) exported symbols, exactly the listed calls"
