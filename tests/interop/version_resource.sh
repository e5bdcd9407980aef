#!/usr/bin/env bash
# Reads the version resource (VS_VERSIONINFO) back from the Windows DLL and
# checks company, product, description and version 3.6, both in the fixed
# part and in the string table. Two independent readers: python3-pefile and
# wrestool (icoutils).
# Usage: version_resource.sh WINDOWS_BUILD_DIR|PATH_TO_DLL
set -uo pipefail
source "$(dirname "$0")/lib.sh"
target=${1:?usage: $0 WINDOWS_BUILD_DIR|DLL}
dll=$target
[ -d "$target" ] && dll="$target/ZelmorPKCS11Driver.dll"
SCENARIO=version-resource
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zelmor-interop-version.XXXXXX")
LAST="$WORK/last-output.txt"
mkdir -p "$WORK/steps"
trap 'rm -rf "$WORK"' EXIT
echo "== $SCENARIO of $dll"
[ -f "$dll" ] || { echo "FAIL: $dll is missing (build Windows first)"; exit 2; }

if run "pefile reads VS_VERSIONINFO" /usr/bin/python3 - "$dll" <<'EOF'; then
import sys
import pefile

pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
if not hasattr(pe, "VS_FIXEDFILEINFO"):
    sys.exit("no version resource")
fixed = pe.VS_FIXEDFILEINFO[0]
print("fixed FileVersion %d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                         fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))
print("fixed ProductVersion %d.%d.%d.%d" % (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                                            fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF))
print("fixed FileType %d" % fixed.FileType)
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            print("table %s" % table.LangID.decode())
            for key, value in table.entries.items():
                print("string %s=%s" % (key.decode(), value.decode()))
    elif info.Key == b"VarFileInfo":
        for var in info.Var:
            print("translation %s" % var.entry)
EOF
    expect_output "fixed file version 3.6.0.0" '^fixed FileVersion 3\.6\.0\.0$'
    expect_output "fixed product version 3.6.0.0" '^fixed ProductVersion 3\.6\.0\.0$'
    expect_output "file type is a DLL (VFT_DLL = 2)" '^fixed FileType 2$'
    expect_output "CompanyName Trevanic" '^string CompanyName=Trevanic$'
    expect_output "ProductName Zelmor PKCS11 Library" '^string ProductName=Zelmor PKCS11 Library$'
    expect_output "FileDescription Zelmor PKCS11 Library" '^string FileDescription=Zelmor PKCS11 Library$'
    expect_output "ProductVersion 3.6" '^string ProductVersion=3\.6$'
    expect_output "FileVersion 3.6.0.0" '^string FileVersion=3\.6\.0\.0$'
    expect_output "OriginalFilename ZelmorPKCS11Driver.dll" '^string OriginalFilename=ZelmorPKCS11Driver\.dll$'
    expect_output "US English, Unicode string table" '^table 040904[bB]0$'
fi

if run "wrestool lists the resources" wrestool -l "$dll"; then
    expect_output "wrestool: one version resource, US English" 'type=version.*|--type=16 --name=1 --language=1033'
fi
if run "wrestool extracts the version resource" bash -c 'wrestool -x --raw --type=16 "$1" >"$2" && [ -s "$2" ]' _ "$dll" "$WORK/version.bin"; then
    # The resource's strings are UTF-16LE.
    strings -e l "$WORK/version.bin" >"$LAST"
    expect_output "wrestool: VS_VERSION_INFO signature" 'VS_VERSION_INFO'
    expect_output "wrestool: Trevanic" 'Trevanic'
    expect_output "wrestool: Zelmor PKCS11 Library" 'Zelmor PKCS11 Library'
fi

finish
