# The processor rows of processors.py as CMake variables (its `cmake` command says which), read at
# configure time by the device build and each of its sub-builds.
set(python /usr/bin/python3) # Debian's, which has the packages scripts/install-deps installs
set(processors_script ${CMAKE_CURRENT_LIST_DIR}/processors.py)
execute_process(COMMAND ${python} ${processors_script} cmake OUTPUT_FILE ${CMAKE_BINARY_DIR}/processors.cmake
                COMMAND_ERROR_IS_FATAL ANY)
include(${CMAKE_BINARY_DIR}/processors.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${processors_script})
