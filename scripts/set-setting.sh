#!/usr/bin/env bash
# set-setting.sh [--if-absent] FILE KEY VALUE
# Sets KEY=VALUE in section [SETTINGS] of an INI file, keeping every other line. Section and key
# names match without regard to letter case, as the window reads them. With --if-absent an
# existing key is left as it is.
set -euo pipefail
only_if_absent=0
if [ "${1:-}" = "--if-absent" ]; then only_if_absent=1; shift; fi
file=$1 key=$2 value=$3
[ -f "$file" ] || printf '[SETTINGS]\r\n' > "$file"
tmp=$(mktemp "$file.XXXXXX")
awk -v key="$key" -v value="$value" -v keep="$only_if_absent" '
  function flush() { if (in_section && !done) { print key "=" value "\r"; done = 1 } }
  {
    line = $0; sub(/\r$/, "", line)
    if (line ~ /^[ \t]*\[/) {
      flush()
      name = line; gsub(/^[ \t]*\[|\][ \t]*$/, "", name)
      in_section = (toupper(name) == "SETTINGS"); seen_section = seen_section || in_section
    } else if (in_section && !done && index(line, "=") > 0) {
      k = substr(line, 1, index(line, "=") - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
      if (toupper(k) == toupper(key)) {
        done = 1
        if (!keep) { print key "=" value "\r"; next }
      }
    }
    print
  }
  END {
    flush()
    if (!seen_section) { print "[SETTINGS]\r"; print key "=" value "\r" }
  }' "$file" > "$tmp"
mv "$tmp" "$file"
