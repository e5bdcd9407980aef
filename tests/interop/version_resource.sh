# The version resource (VS_VERSIONINFO) of the Windows DLL (sourced by lib.sh
# with the Windows build folder), read back with python3-pefile: version 3.6
# in the fixed part (file type 2, a DLL) and in the US English, Unicode
# string table (040904B0).
SWEEP=0
t "pefile reads the DLL's VS_VERSIONINFO" '/usr/bin/python3 -c "import pefile, sys; print(pefile.PE(sys.argv[1]).dump_info())" "$BUILD_DIR/ZelmorPKCS11Driver.dll"' \
    'FileVersionMS: +0x30006 ' 'FileVersionLS: +0x0 ' 'ProductVersionMS: +0x30006 ' 'ProductVersionLS: +0x0 ' 'FileType: +0x2 ' 'LangID: 040904B0$' 'CompanyName: Trevanic$' \
    'ProductName: Zelmor PKCS11 Library$' 'FileDescription: Zelmor PKCS11 Library$' 'ProductVersion: 3\.6$' 'FileVersion: 3\.6\.0\.0$' 'OriginalFilename: ZelmorPKCS11Driver\.dll$'
