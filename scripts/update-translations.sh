#!/usr/bin/env bash
# Brings the translation sources in resources/translations up to date with the
# captions in the code (Qt's lupdate): new captions are added unfinished,
# vanished ones are marked obsolete. Translate the new ones (Qt Linguist or by
# hand) and commit the .ts files; the build compiles them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
LUPDATE=$(command -v lupdate || echo /usr/lib/qt5/bin/lupdate)
for language in en zh_TW ja; do
  "$LUPDATE" -silent -no-obsolete -locations none -source-language zh_CN -target-language "$language" \
    core inspection camera records cycle ui settings window app \
    -ts "resources/translations/korvane_${language}.ts"
done
