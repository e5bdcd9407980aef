#!/usr/bin/env bash
# Reads the version resource (VS_VERSIONINFO) back from the Windows DLL with
# python3-pefile and checks company, product, description and version 3.6,
# both in the fixed part and in the string table.
# Usage: version_resource.sh WINDOWS_BUILD_DIR|PATH_TO_DLL
set -uo pipefail
source "$(dirname "$0")/lib.sh"
target=${1:?usage: $0 WINDOWS_BUILD_DIR|DLL}
dll=$target
[ -d "$target" ] && dll="$target/ZelmorPKCS11Driver.dll"
interop_workspace version-resource
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
    # File type 2 is VFT_DLL; string table 040904B0 is US English, Unicode.
    for pattern in 'fixed FileVersion 3\.6\.0\.0' 'fixed ProductVersion 3\.6\.0\.0' 'fixed FileType 2' \
        'string CompanyName=Trevanic' 'string ProductName=Zelmor PKCS11 Library' \
        'string FileDescription=Zelmor PKCS11 Library' 'string ProductVersion=3\.6' 'string FileVersion=3\.6\.0\.0' \
        'string OriginalFilename=ZelmorPKCS11Driver\.dll' 'table 040904[bB]0'; do
        expect_output "${pattern//\\/}" "^$pattern\$"
    done
fi

finish
