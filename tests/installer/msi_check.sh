#!/usr/bin/env bash
# The Windows installer under Wine's Windows Installer, in a Wine prefix of its
# own made afresh (build/wineprefix-msi): the package built from the MinGW
# module and the test fake as the device library is installed with its
# defaults, the installed module runs from its installed path (its CA found in
# the installed CA folder), a package of a higher version with LOGLEVEL and
# STANDARDSMODE replaces it, an older one is refused, and uninstalling leaves
# only what the user added (a CA file, the log files).
#
# Usage: tests/installer/msi_check.sh WINDOWS_BUILD_FOLDER
set -uo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
build=$(cd "${1:?usage: $0 WINDOWS_BUILD_FOLDER}" && pwd)
work=$(mktemp -d)
prefix="$ROOT/build/wineprefix-msi"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

failures=0
expect() {  # RULE ACTUAL EXPECTED
    if [ "$2" != "$3" ]; then
        printf 'FAILED: %s\n   got:      %s\n   expected: %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

set -e
version=$(sed -n 's/^project(ZelmorPKCS11Driver VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
newer=$version.1
echo "== packages $version and $newer"
export ZELMOR_PACKAGE_FOLDER="$work"
old=$("$ROOT/scripts/package-windows.sh" "$build/ZelmorPKCS11Driver.dll" "$build/tests/ZelmorDSCLibrary.dll" | sed -n 1p)
new=$(ZELMOR_PACKAGE_VERSION=$newer "$ROOT/scripts/package-windows.sh" "$build/ZelmorPKCS11Driver.dll" \
    "$build/tests/ZelmorDSCLibrary.dll" | sed -n 1p)
property() { msiinfo export "$old" Property | tr -d '\r' | sed -n "s/^$1\t//p"; }
product=$(property ProductName) manufacturer=$(property Manufacturer)

echo "== fresh Wine prefix"
rm -rf "$prefix"
export_wine_environment "$prefix"
set +e

# The driver sits apart from the fake of the build folder: the device library
# it and the module use is the installed one, found through the system PATH
# that the package extends.
mkdir "$work/driver"
cp "$build/tests/installed_module_check.exe" "$work/driver/"
install_folder='C:\Program Files\Trevanic\Zelmor'
files="$WINEPREFIX/drive_c/Program Files/Trevanic"
ca_file="$files/Zelmor/ZelmorDSC/Certificates/installer-test-ca.cer"

run=0
msiexec_ends() {  # RULE EXIT_CODE ARGUMENTS...: runs msiexec silently; shows its log's end when the rule fails
    local rule=$1 expected=$2 before=$failures
    shift 2
    run=$((run + 1))
    wine msiexec "$@" /qn /l*v "$work/msiexec-$run.log" >/dev/null 2>&1
    expect "$rule" "$?" "$expected"
    [ "$failures" = "$before" ] || tr -d '\r' <"$work/msiexec-$run.log" | grep -v '^Property' | tail -n 8 | sed 's/^/   /'
}
installed_files() { (cd "$files" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' '); }
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }  # KEY [OPTIONS...]
registry_value() { query 'HKLM\Software\Trevanic\Zelmor' /v "$1" | awk -v name="$1" '$1 == name { print $2, $3 }'; }
registry_key() { query 'HKLM\Software\Trevanic\Zelmor' >/dev/null && echo present || echo absent; }
system_path_names_folder() {
    query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH | grep -qiF "$install_folder" &&
        echo yes || echo no
}
registered_versions() {  # the DisplayVersion of each registered product of this name
    query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | awk -v product="$product" '
        function flush() { if (name == product && version != "") print version; name = version = "" }
        /^HKEY/ { flush() } $1 == "DisplayVersion" { version = $3 } END { flush() }
        $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }' | sort | tr '\n' ' '
}
run_driver() {  # RULE: runs the driver (its output in $output, shown) and expects it to pass
    output=$(cd "$work" && env -u ZELMOR_HOME -u WINEPATH wine "$work/driver/installed_module_check.exe" \
        "$install_folder" 2>&1 | tr -d '\r')
    expect "$1" "$?" 0
    printf '%s\n' "$output" | sed 's/^/   /'
}
driver_field() { sed -n "s/^$1=//p" <<<"$2"; }
logs() { find "$WINEPREFIX/drive_c/users" -path '*/Trevanic/installed_module_check/*.LOG' 2>/dev/null | wc -l; }

echo "== install $version with the defaults"
msiexec_ends "the default installation succeeds" 0 /i "$old"
expect "the module, the device library and the empty CA folder are installed" "$(installed_files)" \
    "./Zelmor ./Zelmor/ZelmorDSC ./Zelmor/ZelmorDSC/Certificates ./Zelmor/ZelmorDSCLibrary.dll ./Zelmor/ZelmorPKCS11Driver.dll "
expect "logLevel defaults to 2" "$(registry_value logLevel)" "REG_DWORD 0x2"
expect "standardsMode is written only for STANDARDSMODE=1" "$(registry_value standardsMode)" ""
expect "the system PATH names the install folder" "$(system_path_names_folder)" yes

echo "== the installed module"
printf 'CA' >"$ca_file"
run_driver "the installed module passes its checks"
expect "the package's manufacturer is the module's" "$(driver_field manufacturer "$output")" "$manufacturer"
expect "the package's product name is the module's description" "$(driver_field description "$output")" "$product"
expect "the package's version is the module's" "$(driver_field version "$output")" "$version"

echo "== upgrade to $newer with LOGLEVEL=3 STANDARDSMODE=1"
msiexec_ends "the upgrade succeeds" 0 /i "$new" LOGLEVEL=3 STANDARDSMODE=1
expect "one copy is installed, the newer" "$(registered_versions)" "$newer "
expect "the upgrade keeps a CA file the user added" "$(installed_files)" "./Zelmor ./Zelmor/ZelmorDSC \
./Zelmor/ZelmorDSC/Certificates ./Zelmor/ZelmorDSC/Certificates/installer-test-ca.cer \
./Zelmor/ZelmorDSCLibrary.dll ./Zelmor/ZelmorPKCS11Driver.dll "
expect "LOGLEVEL sets logLevel" "$(registry_value logLevel)" "REG_DWORD 0x3"
expect "STANDARDSMODE=1 sets standardsMode to 1" "$(registry_value standardsMode)" "REG_DWORD 0x1"
run_driver "the upgraded module passes its checks"
# 1603, the installer's fatal error, as an exit status of 8 bits.
msiexec_ends "an older package is refused" $((1603 % 256)) /i "$old"
expect "the refused package leaves the newer installed" "$(registered_versions)" "$newer "

echo "== uninstall"
msiexec_ends "the uninstallation succeeds" 0 /x "$new"
expect "only the CA file the user added stays" "$(installed_files)" \
    "./Zelmor ./Zelmor/ZelmorDSC ./Zelmor/ZelmorDSC/Certificates ./Zelmor/ZelmorDSC/Certificates/installer-test-ca.cer "
expect "the registry key goes" "$(registry_key)" absent
expect "the product is no longer registered" "$(registered_versions)" ""
expect "the system PATH no longer names the install folder" "$(system_path_names_folder)" no
expect "the log files stay" "$(logs)" 1

echo "== install and uninstall with STANDARDSMODE=1 alone, without user files"
rm -f "$ca_file"
msiexec_ends "the installation succeeds" 0 /i "$old" STANDARDSMODE=1
expect "STANDARDSMODE alone keeps logLevel at 2" "$(registry_value logLevel)" "REG_DWORD 0x2"
msiexec_ends "the uninstallation succeeds" 0 /x "$old"
expect "every installed file and folder goes" "$(installed_files)" ""
expect "the registry key with standardsMode goes" "$(registry_key)" absent

if [ "$failures" -ne 0 ]; then
    echo "Windows installer: $failures check(s) failed"
    exit 1
fi
echo "Windows installer: all checks passed"
