# Debian packages with CPack, one per component:
#   queno-example      the example, queno_info, queno_log and queno_convert
#   queno-sim          the simulated driver, its launcher and sample descriptions
#   queno-example-dev  headers, the library, its CMake package and pkg-config file
#   python3-queno      the Python package (when its module was built)
# for the architecture being built (amd64, or arm64 and armhf through the cross toolchains).
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(QUENO_DEB_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(QUENO_DEB_ARCHITECTURE armhf)
  else()
    set(QUENO_DEB_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  endif()
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE QUENO_DEB_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUENO_PACKAGE_example})
set(CPACK_PACKAGE_VENDOR "QUENO example team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${QUENO_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUENO_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QUENO example team <queno-example@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_EXAMPLE_PACKAGE_NAME ${QUENO_PACKAGE_example})
set(CPACK_DEBIAN_EXAMPLE_PACKAGE_SUGGESTS ${QUENO_PACKAGE_sim})
# The service's user is made when the package is configured.
set(CPACK_DEBIAN_EXAMPLE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_EXAMPLE_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/logger/service/postinst)
set(CPACK_COMPONENT_EXAMPLE_DESCRIPTION "RTD temperature example, board inventory and logger for QUENO boards
rtd_example measures the temperature of an RTD on one analogue input of a
QUENO-1600-UNIV board through the board driver libkvpxi_api.so, which it
loads at run time. queno_info lists the boards the driver sees and the
modes, ranges and settings each of their channels offers. queno_log
records every scan of chosen inputs into CSV files or SigMF recordings,
with timestamps, units, the settings the driver settled on, and the place
of every gap; queno_convert turns a SigMF recording into the same CSV.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME ${QUENO_PACKAGE_sim})
set(CPACK_COMPONENT_SIM_DESCRIPTION "simulated QUENO board driver for development without hardware
A shared library with the file name and entry points of the QUENO board
driver that simulates the boards of an XML system description, with
scripted acquisitions, fault injection and a call trace. It is installed
outside the library search path; the queno-sim launcher runs one command
with it, so it never shadows a real driver.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${QUENO_PACKAGE_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libc6-dev | libc-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "queno-sim, pkgconf | pkg-config, cmake")
set(CPACK_COMPONENT_DEV_DESCRIPTION "QUENO example utility library and driver binding (development files)
The C headers of the QUENO driver contract and of the example utility
library, the library itself as a static archive with the run-time binding
of the driver, and a CMake package (find_package(QuenoExample)) and a
pkg-config file (queno-example) to build programs against it.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${QUENO_PACKAGE_python})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${QUENO_PYTHON_DEPENDS}, python3-numpy")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "${QUENO_PACKAGE_sim}, python3-pandas")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python package for QUENO boards: scans into numpy, recordings into pandas
The queno package lists the boards the QUENO driver sees, opens them,
configures inputs in queno_log's channel syntax and delivers every scan
as numpy arrays of raw counts, values in each channel's unit and UTC
times, with every lost scan accounted for in gaps. queno.read reads the
CSV and SigMF recordings of queno_log into numpy and pandas. Without a
board, scripts run on the simulated driver of queno-sim.")

include(CPack)
