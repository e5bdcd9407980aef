#!/usr/bin/env bash
# The Windows installer under Wine's Windows Installer, in a Wine prefix of its
# own made afresh (build/wineprefix-msi): the package built from the MinGW
# module and the test fake as the device library is installed with its
# defaults, the installed module runs from its installed path (looking for CAs in
# the installed CA folder), a package of a higher version with LOGLEVEL and
# STANDARDSMODE replaces it, an older one is refused, and uninstalling leaves
# only what the user added (a CA file, the log files). Steps as in the
# interoperability scenarios (tests/interop/lib.sh).
#
# Usage: tests/installer/msi_check.sh WINDOWS_BUILD_FOLDER
source "$(dirname "$0")/../../scripts/common.sh"
source "$ROOT/tests/interop/lib.sh"
build=$(cd "${1:?usage: $0 WINDOWS_BUILD_FOLDER}" && pwd) || exit 2
interop_workspace windows-installer
prefix="$ROOT/build/wineprefix-msi" runs=0
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null; interop_cleanup' EXIT

version=$(sed -n 's/^project(ZelmorPKCS11Driver VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
newer=$version.1 old="$WORK/ZelmorPKCS11Driver-$version-x64.msi" new="$WORK/ZelmorPKCS11Driver-$newer-x64.msi"
package() {  # FOLDER [DEVICE_DLL]
    ZELMOR_PACKAGE_FOLDER=$1 "$ROOT/scripts/package-windows.sh" "$build/ZelmorPKCS11Driver.dll" "${@:2}"
}
t "package-windows.sh builds the package of version $version" 'package "$WORK" "$build/tests/ZelmorDSCLibrary.dll"'
t "package-windows.sh builds the package of version $newer" \
    'ZELMOR_PACKAGE_VERSION=$newer package "$WORK" "$build/tests/ZelmorDSCLibrary.dll"'
alone="$WORK/alone/ZelmorPKCS11Driver-$version-x64.msi"
t "without DEVICE_DLL the package ships the module alone" 'package "$WORK/alone" && msiinfo export "$alone" File' \
    '^ModuleDll' '!^DeviceDll'
t "without DEVICE_DLL the package says the device library must be installed" 'msiinfo suminfo "$alone"' \
    '^Comments: .*ZelmorDSCLibrary\.dll must be installed already'
property() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }  # PACKAGE NAME
product=$(property "$old" ProductName) manufacturer=$(property "$old" Manufacturer)

rm -rf "$prefix"
export_wine_environment "$prefix"
# The driver sits apart from the fake of the build folder: the device library
# it and the module use is the installed one, found through the system PATH
# that the package extends.
mkdir "$WORK/driver" && cp "$build/tests/installed_module_check.exe" "$WORK/driver/"
install_folder='C:\Program Files\Trevanic\Zelmor'
files="$WINEPREFIX/drive_c/Program Files/Trevanic"
ca_file="$files/Zelmor/ZelmorDSC/Certificates/installer-test-ca.cer"

msiexec() {  # ARGUMENTS...: silent; the end of its log and its exit status as output
    local code=0 log="$WORK/msiexec-$((++runs)).log"
    wine msiexec "$@" /qn /l*v "$log" || code=$?
    tr -d '\r' <"$log" | grep -v '^Property' | tail -n 6
    echo "exit status $code"
    return $code
}
installed_files() { (cd "$files" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' '); echo; }
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }  # KEY [OPTIONS...]
zelmor_key() { query 'HKLM\Software\Trevanic\Zelmor'; }
system_path() { query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH; }
# PACKAGE is registered for uninstalling (each package built has a product code of its own).
registered() { query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\\$(property "$1" ProductCode)"; }
driver() {
    (cd "$WORK" && env -u ZELMOR_HOME -u WINEPATH wine "$WORK/driver/installed_module_check.exe" "$install_folder") |
        tr -d '\r' | tee "$WORK/driver.txt"
}

dlls='\./Zelmor/ZelmorDSCLibrary\.dll \./Zelmor/ZelmorPKCS11Driver\.dll $'
folders='^\./Zelmor \./Zelmor/ZelmorDSC \./Zelmor/ZelmorDSC/Certificates '
# 1603, the installer's fatal error, as an exit status of 8 bits.
refused="exit status $((1603 % 256))\$"
t "a LOGLEVEL that is no number from 0 to 3 is refused" '! msiexec /i "$old" LOGLEVEL=4' "$refused"
t "msiexec /i installs with the defaults" 'msiexec /i "$old"'
t "the module, the device library and the empty CA folder are installed" installed_files "$folders$dlls"
t "logLevel is REG_DWORD 2 by default" zelmor_key 'logLevel +REG_DWORD +0x2$'
t "standardsMode is written only for STANDARDSMODE=1" zelmor_key '!standardsMode'
t "the system PATH names the install folder" system_path "Zelmor\\\\\$"
t "the installed module runs, looking for CAs in the installed CA folder" driver '!FAILED'
printf 'CA' >"$ca_file"
t "the package's manufacturer, product name and version are those of C_GetInfo" 'cat "$WORK/driver.txt"' \
    "^manufacturer=$manufacturer\$" "^description=$product\$" "^version=$version\$"

t "msiexec /i of a higher version with LOGLEVEL=3 STANDARDSMODE=1 upgrades" \
    'msiexec /i "$new" LOGLEVEL=3 STANDARDSMODE=1'
t "one copy is installed, the newer" 'registered "$new" && ! registered "$old"'
t "the upgrade keeps a CA file the user added" installed_files \
    "${folders}\./Zelmor/ZelmorDSC/Certificates/installer-test-ca\.cer $dlls"
t "LOGLEVEL=3 sets logLevel to 3" zelmor_key 'logLevel +REG_DWORD +0x3$'
t "STANDARDSMODE=1 sets standardsMode to 1" zelmor_key 'standardsMode +REG_DWORD +0x1$'
t "the upgraded module runs" driver '!FAILED'
t "an older package is refused" '! msiexec /i "$old"' "$refused"
t "the refused package leaves the newer installed" 'registered "$new" && ! registered "$old"'

t "msiexec /x uninstalls" 'msiexec /x "$new"'
t "only the CA file the user added stays" installed_files \
    "${folders}\./Zelmor/ZelmorDSC/Certificates/installer-test-ca\.cer \$"
t "the registry key goes" '! zelmor_key'
t "the product is no longer registered" '! registered "$new"'
t "the system PATH no longer names the install folder" system_path '!Zelmor'
t "the log files stay" 'find "$WINEPREFIX/drive_c/users" -path "*/Trevanic/installed_module_check/*.LOG"' '\.LOG$'

rm -f "$ca_file"
t "msiexec /i with STANDARDSMODE=1 alone leaves logLevel at 2" \
    'msiexec /i "$old" STANDARDSMODE=1 && zelmor_key' 'logLevel +REG_DWORD +0x2$'
t "msiexec /x then removes every installed file and folder" 'msiexec /x "$old" && installed_files' '^$'
finish
