# The tests build zip archives of their own with zlib.
set(XEV_SUITE_LIBRARIES ZLIB::ZLIB)
