# The real libusb against an emulated usbfs device, under umockdev-wrapper.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
set(XEV_SUITE_LABEL usb-real)
set(XEV_SUITE_TIMEOUT 120)
set(XEV_SUITE_WRAPPER umockdev-wrapper)
set(XEV_SUITE_LIBRARIES PkgConfig::UMOCKDEV)
