# What `cmake --install` puts where. Programs in bin/, the simulated driver in a directory of its
# own under the library directory (never on the search path; queno-sim puts it there for one
# command), headers under include/queno/, the library as an archive with a CMake package and a
# pkg-config file that both find their prefix relative to themselves, man pages, descriptions.
include(CMakePackageConfigHelpers)

set(QUENO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuenoExample)
# Each install component becomes one Debian package of this name.
set(QUENO_PACKAGE_example queno-example)
set(QUENO_PACKAGE_sim queno-sim)
set(QUENO_PACKAGE_dev queno-example-dev)
set(QUENO_PACKAGE_python python3-queno)
set(QUENO_COMPONENTS example sim dev)
if(TARGET queno_python_module)
  list(APPEND QUENO_COMPONENTS python)
endif()

# Programs and the simulator.
set(queno_programs rtd_example)
set(queno_man_pages rtd_example.1 queno-sim.1 queno-sim-system.5)
if(TARGET queno_log)
  list(APPEND queno_programs queno_log)
  list(APPEND queno_man_pages queno_log.1)
endif()
if(TARGET queno_info)
  list(APPEND queno_programs queno_info)
  list(APPEND queno_man_pages queno_info.1)
endif()
if(TARGET queno_convert)
  list(APPEND queno_programs queno_convert)
  list(APPEND queno_man_pages queno_convert.1)
endif()
install(TARGETS ${queno_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT example)
# queno_log as a service: the unit (installed, never enabled) and an example configuration.
if(TARGET queno_log)
  install(FILES logger/service/queno-log@.service DESTINATION lib/systemd/system COMPONENT example)
  install(FILES logger/service/log.toml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QUENO_PACKAGE_example}/examples COMPONENT example)
endif()
install(TARGETS kvpxi_api LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/queno-sim COMPONENT sim NAMELINK_SKIP)
install(PROGRAMS ${PROJECT_BINARY_DIR}/sim/queno-sim.installed DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME queno-sim COMPONENT sim)
install(FILES sim/description/default_system.xml tests/e2e/data/three_boards.xml tests/e2e/data/info_small.xml
  sim/scenarios/furnace_broken_thermocouple.xml sim/scenarios/two_boards_drifting_clocks.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/queno-sim COMPONENT sim)

# Headers, the library, its CMake package and its pkg-config file.
install(FILES
  driver/kivo_api.h driver/kivo_codes.h driver/kivo_entry_points.h
  util/adapter_table.h util/arguments.h util/board_model.h util/board_queries.h util/console.h
  util/ring_walk.h util/scaling.h util/system_info.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/queno COMPONENT dev)
install(TARGETS queno_example_util EXPORT QuenoExampleTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT QuenoExampleTargets NAMESPACE Queno:: DESTINATION ${QUENO_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/QuenoExampleConfig.cmake.in ${PROJECT_BINARY_DIR}/QuenoExampleConfig.cmake
  INSTALL_DESTINATION ${QUENO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuenoExampleConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuenoExampleConfig.cmake ${PROJECT_BINARY_DIR}/QuenoExampleConfigVersion.cmake
  DESTINATION ${QUENO_CMAKE_DIR} COMPONENT dev)

# The pkg-config file lies in <libdir>/pkgconfig: its prefix is as many levels up as that is deep.
string(REGEX MATCHALL "[^/]+" queno_libdir_parts "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(QUENO_PC_PREFIX "\${pcfiledir}")
foreach(part IN LISTS queno_libdir_parts)
  string(APPEND QUENO_PC_PREFIX "/..")
endforeach()
configure_file(cmake/queno-example.pc.in ${PROJECT_BINARY_DIR}/queno-example.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/queno-example.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Man pages, compressed as Debian's policy asks; and each package's copyright and changelog.
find_program(QUENO_GZIP gzip REQUIRED)
set(queno_compressed "")
foreach(page ${queno_man_pages})
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(component example)
  if(page MATCHES "^queno-sim")
    set(component sim)
  endif()
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${QUENO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/doc/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/${page} VERBATIM)
  list(APPEND queno_compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    COMPONENT ${component})
endforeach()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/changelog.gz
  COMMAND ${QUENO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/doc/changelog > ${PROJECT_BINARY_DIR}/man/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/changelog ${queno_compressed} VERBATIM)
add_custom_target(queno_docs ALL DEPENDS ${queno_compressed} ${PROJECT_BINARY_DIR}/man/changelog.gz)
foreach(component ${QUENO_COMPONENTS})
  install(FILES doc/copyright ${PROJECT_BINARY_DIR}/man/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QUENO_PACKAGE_${component}} COMPONENT ${component})
endforeach()
