# Independent judges of the GigE Vision emulator and of the library's wire
# format: Aravis (a generic GigE Vision client) and tshark (a dissector).
set(XEV_SUITE_LABEL interop)
set(XEV_SUITE_TIMEOUT 60)
