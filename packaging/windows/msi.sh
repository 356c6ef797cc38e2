#!/bin/sh
# Builds the Windows installer from the folder that scripts/package-windows.sh
# zips (kesmar.exe, kesmarctl.exe, Fendral.dll, fendral.h, test.txt,
# LICENSE.txt and README-windows.txt), with wixl and msibuild (msitools).
# Prints its name.
#   msi.sh STAGE_DIR OUT.msi VERSION
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
stage="$(cd "$1" && pwd)"
out="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
version="$3"

# wixl finds sources only by paths relative to the current directory.
cd "$stage"
icon="$(realpath --relative-to=. "$here/../../server/resources/kesmar.ico")"
rm -f "$out"
wixl -a x64 -D Version="$version" -D Stage=. -D Icon="$icon" -o "$out" "$here/kesmar.wxs"

# What wixl 0.101 leaves out, set in the tables (msibuild takes one query a
# run): the 64-bit bit of every component (256), as the package is x64; the
# pattern's NeverOverwrite (128), so that a repair or an upgrade keeps the
# user's edits, and Permanent (16), so that an uninstall leaves them; and the inclusive upper bound (512) of the versions an
# install replaces, since Windows Installer ignores a fourth version field
# and a 1.0.0.1 is the same version as 1.0.0.0 to it. Attributes is part of
# the Upgrade table's key, so that row is replaced rather than updated.
upgrade_code="$(msiinfo export "$out" Property | sed -n 's/^UpgradeCode\t\([^\r]*\).*/\1/p')"
for query in \
    "UPDATE Component SET Attributes = 260" \
    "UPDATE Component SET Attributes = 404 WHERE Component = 'Pattern'" \
    "DELETE FROM Upgrade WHERE ActionProperty = 'OLDER_VERSION_FOUND'" \
    "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty)
     VALUES ('$upgrade_code', '0.0.0', '$version', 768, 'OLDER_VERSION_FOUND')"; do
    msibuild "$out" -q "$query"
done
echo "$out"
