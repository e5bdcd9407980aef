#!/usr/bin/env bash
# Builds the Windows installer build/package/ZelmorPKCS11Driver-<version>-x64.msi
# with wixl (msitools) from packaging/windows/ZelmorPKCS11Driver.wxs, and
# checks that msiinfo reads every table of it.
#
# Usage: scripts/package-windows.sh DLL [DEVICE_DLL]
#   DLL         the module to ship (x86-64 ZelmorPKCS11Driver.dll)
#   DEVICE_DLL  the maker's ZelmorDSCLibrary.dll, installed beside the module;
#               without it the package expects the library to be installed
# Environment: ZELMOR_PACKAGE_VERSION (X.Y or X.Y.Z) replaces the project's
# version, ZELMOR_PACKAGE_FOLDER the output folder (default build/package).
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 DLL [DEVICE_DLL]" >&2
    exit 2
fi
ensure_packages "${WINDOWS_PACKAGE_PACKAGES[@]}"

for dll in "$@"; do
    if [ ! -f "$dll" ]; then
        echo "$dll: no such file" >&2
        exit 1
    fi
    case "$(file -b "$dll")" in
        PE32+*"(DLL)"*x86-64*) ;;
        *) echo "$dll: not an x86-64 Windows DLL ($(file -b "$dll"))" >&2; exit 1 ;;
    esac
done

# The version is the project's; the product name and the manufacturer are the
# library description and the manufacturer that C_GetInfo reports.
project_version=$(sed -n 's/^project(ZelmorPKCS11Driver VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
version=${ZELMOR_PACKAGE_VERSION:-$project_version}
info_field() {
    sed -n "s/.*copyTextField(info->$1, sizeof info->$1, \"\([^\"]*\)\");.*/\1/p" "$ROOT/src/frame/ModuleLifecycle.cpp"
}
manufacturer=$(info_field manufacturerID)
product=$(info_field libraryDescription)
if ! [[ $version =~ ^[0-9]+\.[0-9]+(\.[0-9]+)?$ ]] || [ -z "$manufacturer" ] || [ -z "$product" ]; then
    echo "cannot read the version ($version), manufacturer ($manufacturer) or product name ($product)" >&2
    exit 1
fi
msi_version=$version
[[ $msi_version =~ ^[0-9]+\.[0-9]+$ ]] && msi_version+=".0"

folder=${ZELMOR_PACKAGE_FOLDER:-$ROOT/build/package}
mkdir -p "$folder"
package="$folder/ZelmorPKCS11Driver-$version-x64.msi"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# wixl takes the files from the folder of the source, under their shipped names.
cp "$ROOT/packaging/windows/ZelmorPKCS11Driver.wxs" "$work/"
cp "$1" "$work/ZelmorPKCS11Driver.dll"
defines=(-D "Version=$msi_version" -D "Manufacturer=$manufacturer" -D "ProductName=$product")
if [ $# -eq 2 ]; then
    cp "$2" "$work/ZelmorDSCLibrary.dll"
    defines+=(-D DeviceDll=yes)
fi
(cd "$work" && wixl --arch x64 "${defines[@]}" -o package.msi ZelmorPKCS11Driver.wxs)

# What wixl cannot express, as SQL on the package.
sql() { msibuild "$work/package.msi" -q "$1"; }
# The condition that writes standardsMode only for STANDARDSMODE=1; it holds on
# removal too, since a removal skips components whose condition is false and
# would leave the value behind.
sql "UPDATE Component SET Condition = 'STANDARDSMODE = \"1\" OR REMOVE ~= \"ALL\"' WHERE Component = 'StandardsMode'"
# The folder of each RemoveFolder entry (wixl puts all in the component's).
for folder_id in HomeFolder INSTALLDIR TrevanicFolder; do
    sql "UPDATE RemoveFile SET DirProperty = '$folder_id' WHERE FileKey = 'Remove${folder_id/INSTALLDIR/InstallFolder}'"
done
# With the device library: the install folder at the end of the system PATH
# while the package is installed. Applications load the module by its full
# path, and Windows looks for the library it imports along the PATH, not
# beside the module.
if [ $# -eq 2 ]; then
    sql "CREATE TABLE Environment (Environment CHAR(72) NOT NULL, Name CHAR(255) NOT NULL LOCALIZABLE,
        Value CHAR(255) LOCALIZABLE, Component_ CHAR(72) NOT NULL PRIMARY KEY Environment)"
    sql "INSERT INTO Environment (Environment, Name, Value, Component_)
        VALUES ('SystemPath', '=-*PATH', '[~];[INSTALLDIR]', 'DeviceLibrary')"
    sql "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
    sql "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
fi
# LOGLEVEL and STANDARDSMODE as secure properties, so that they reach the
# elevated part of a managed (group policy) installation.
secure=$(msiinfo export "$work/package.msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
sql "UPDATE Property SET Value = '${secure:+$secure;}LOGLEVEL;STANDARDSMODE' WHERE Property = 'SecureCustomProperties'"

# Every table must read back.
for table in $(msiinfo tables "$work/package.msi"); do
    msiinfo export "$work/package.msi" "$table" >/dev/null
done
msiinfo export "$work/package.msi" Component | grep -q 'STANDARDSMODE = "1" OR REMOVE'

mv "$work/package.msi" "$package"
echo "$package"
msiinfo suminfo "$package" | sed -n 's/^\(Subject\|Author\|Comments\): /   \1: /p'
