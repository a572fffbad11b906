# Run with cmake -P: the README's quick start (its first C++ block) must be
# examples/quick-start.cpp, which the package check builds and runs, so that
# the code a new user copies cannot rot.
file(READ ${README} readme)
string(FIND "${readme}" "## Quick start" section)
if(section EQUAL -1)
    message(FATAL_ERROR "README.md has no Quick start section.")
endif()
string(SUBSTRING "${readme}" ${section} -1 readme)
string(FIND "${readme}" "```cpp\n" open)
string(SUBSTRING "${readme}" ${open} -1 readme)
string(LENGTH "```cpp\n" skip)
string(SUBSTRING "${readme}" ${skip} -1 readme)
string(FIND "${readme}" "```" close)
string(SUBSTRING "${readme}" 0 ${close} code)
file(READ ${EXAMPLE} example)
if(NOT code STREQUAL example)
    message(FATAL_ERROR "README.md's quick start differs from ${EXAMPLE}.")
endif()
