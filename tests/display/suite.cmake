# Opens real windows: the tests reach the X server named by DISPLAY, or start
# their own Xvfb when none is reachable.
set(XEV_SUITE_LABEL display)
set(XEV_SUITE_TIMEOUT 60)
set(XEV_SUITE_LIBRARIES X11)
