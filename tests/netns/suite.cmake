# Broadcast discovery and ForceIP through veth pairs into network namespaces
# (root only; the tests skip themselves otherwise). The test program moves
# itself into a namespace of its own first, so nothing reaches the host's
# real interfaces.
set(XEV_SUITE_LABEL netns)
set(XEV_SUITE_TIMEOUT 120)
