#!/bin/sh
# The menu entry passes desktop-file-validate, and the APF file type, loaded by
# update-mime-database into a scratch data folder, is what xdg-mime answers
# for a fax file: by its name, and by its signature when the name says nothing.
#   desktop_files_test.sh SOURCE_DIR SCRATCH_DIR
set -eu
src=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/data/mime/packages" "$scratch/files"

desktop-file-validate "$src/desktop/pellimar.desktop"
grep -qx 'Exec=pellimar %f' "$src/desktop/pellimar.desktop"
# TIFF and PDF faxes open too, but only as extra types: APF comes first, and
# nothing installed makes Pellimar the default program for them.
grep -qx 'MimeType=image/x-apf;image/tiff;application/pdf;' "$src/desktop/pellimar.desktop"
if grep -rqs 'mimeapps' "$src/desktop"; then
  echo "FAIL: the desktop files name a default application"
  exit 1
fi

cp "$src/desktop/pellimar.xml" "$scratch/data/mime/packages/"
XDG_DATA_DIRS="$scratch/data" update-mime-database "$scratch/data/mime"

fax=$src/tests/data/fax/multi.apf
cp "$fax" "$scratch/files/incoming.apf"
cp "$fax" "$scratch/files/incoming"
printf 'APF10 is not a fax\n' > "$scratch/files/almost"

fails=0
expect() { # FILE TYPE
  got=$(XDG_DATA_HOME="$scratch/data" XDG_DATA_DIRS="$scratch/data" xdg-mime query filetype "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: $(basename "$1") is $got, expected $2"
    fails=1
  fi
}
expect "$scratch/files/incoming.apf" image/x-apf
expect "$scratch/files/incoming" image/x-apf
expect "$scratch/files/almost" text/plain
[ $fails -eq 0 ] && echo "desktop entry and APF file type: ok"
exit $fails
