#!/usr/bin/env bash
# The English window is complete: lupdate over the window's and the dialog's sources finds
# no text that the translation lacks, none it holds in vain, and none is left unfinished.
#   scripts/check-translations.sh        (CTest runs it as `translations`)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ts="$root/app/translations/vertal-wizard_en.ts"
lupdate="$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cp "$ts" "$work/vertal-wizard_en.ts"
"$lupdate" -silent -locations none -no-obsolete -source-language ru -target-language en \
    "$root/app" "$root/workflow" "$root/liveview" -ts "$work/vertal-wizard_en.ts"
if grep -q 'type="unfinished"' "$work/vertal-wizard_en.ts"; then
    echo "check-translations: texts without an English translation:" >&2
    grep -B2 'type="unfinished"' "$work/vertal-wizard_en.ts" | grep '<source>' >&2
    exit 1
fi
if ! diff -u "$ts" "$work/vertal-wizard_en.ts" >&2; then
    echo "check-translations: the sources' texts and the translation differ (above)" >&2
    exit 1
fi
echo "check-translations: $(grep -c '<source>' "$ts") texts, all translated"
