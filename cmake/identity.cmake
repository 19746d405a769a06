# Who the product is, written once: the build, the code (velmar_identity.h), the installer, the
# package manifest and the scripts (build/identity.env) all take it from here.

# The name the product shows in the version records.
set(VELMAR_PRODUCT_NAME "Velmar Extensions")
# The shell extension module's file name, without ".dll".
set(VELMAR_MODULE_NAME VelmarShellExtensions-x64)
set(VELMAR_MODULE_FILE ${VELMAR_MODULE_NAME}.dll)
# The classes: the handler of the classic menu, and the command of Windows 11's first menu.
set(VELMAR_CLASS_ID 6B1E4C2A-93D7-4F05-8A2C-5D7E91B3C640)
set(VELMAR_COMMAND_CLASS_ID 2C9E7A41-5B8D-4E36-9F1A-7D3C05E8B294)
# The sparse package that declares the command (and the companion in it).
set(VELMAR_PACKAGE_NAME Velmar.PythonHere)
set(VELMAR_PACKAGE_PUBLISHER "CN=Velmar Developers")
# The Windows Installer packages: for the machine, and for the installing user alone.
set(VELMAR_UPGRADE_CODE 3F0C7E52-8D41-4B6A-9E27-1C5A0B9D7E11)
set(VELMAR_USER_UPGRADE_CODE 7A4E2C19-5B3D-4F86-B0A7-2D9C61E8F354)
