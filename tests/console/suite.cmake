# The end-to-end tests run the console tool.
set(XEV_SUITE_DEPENDS xev-console)
set(XEV_SUITE_LIBRARIES Boost::regex)
