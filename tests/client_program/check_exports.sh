#!/usr/bin/env bash
# Fails when libmms.so exports a symbol that include/mms.h does not declare:
# a member of an exported class, or a function declared with MMS_API.
set -euo pipefail
library=$1
header=$2

classes=$(sed -nE 's/^(class|struct) MMS_API ([A-Za-z_]+).*/\2/p' "$header")
functions=$(sed -nE 's/^(extern "C" )?MMS_API [^(]*[ *]([A-Za-z_0-9]+)\(.*/\2/p' "$header")

stray=0
while read -r symbol; do
  name=${symbol%%(*}
  owner=${name%%::*}
  if [ "$owner" != "$name" ] && grep -qx "$owner" <<<"$classes"; then
    continue
  fi
  if grep -qx "$name" <<<"$functions"; then
    continue
  fi
  echo "exported but not declared in mms.h: $symbol"
  stray=1
done < <(nm -D --defined-only "$library" | awk '{ $1 = ""; $2 = ""; print }' |
  sed 's/^ *//' | c++filt)
if ! grep -qx "CMMS" <<<"$classes"; then
  echo "no exported class found in $header" >&2
  exit 1
fi
exit "$stray"
