# Third-party dependencies, all from the distribution's packages.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS thread system regex filesystem date_time chrono
             program_options)
find_package(OpenCV 4 REQUIRED COMPONENTS core imgproc imgcodecs videoio highgui)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
find_package(ZLIB REQUIRED)
find_path(RAPIDXML_INCLUDE_DIR rapidxml/rapidxml.hpp REQUIRED)
