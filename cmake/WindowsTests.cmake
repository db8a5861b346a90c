# Unit tests (GoogleTest, cross-built, one binary per folder of tests/unit run under
# Wine) and integration tests (Python scripts that start the real launchers under Wine).
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Tests are built without optimisation: it halves their compile time, which is most
# of a clean build, and their run time is small either way.
target_compile_options(gtest PRIVATE -O0)
target_compile_options(gtest_main PRIVATE -O0)

set(QZ_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QZ_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/tools/wine-run.sh)
set(QZ_TEST_ENV "WINEPREFIX=${QZ_WINEPREFIX};WINEDEBUG=-all;QZ_BUILD_DIR=${CMAKE_BINARY_DIR};QZ_SOURCE_DIR=${CMAKE_SOURCE_DIR};QZ_NATIVE_BUILD_DIR=${QZ_NATIVE_BUILD_DIR}")

# The prefix is made once per run and its wineserver kept alive, so each process starts fast.
add_test(NAME wine_prefix_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh start ${QZ_WINEPREFIX})
add_test(NAME wine_prefix_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh stop ${QZ_WINEPREFIX})
set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 1200)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# Helper programs for tests (console programs): one per file in tests/tools.
file(GLOB QZ_TEST_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.c ${CMAKE_SOURCE_DIR}/tests/tools/*.cpp)
foreach(src IN LISTS QZ_TEST_TOOLS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE)
  target_link_options(${name} PRIVATE -municode -s)
  target_link_libraries(${name} PRIVATE user32 gdi32 advapi32 shell32 ole32 crypt32)
endforeach()

file(GLOB QZ_UNIT_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/unit/*)
foreach(dir IN LISTS QZ_UNIT_DIRS)
  if(NOT IS_DIRECTORY ${dir})
    continue()
  endif()
  get_filename_component(name ${dir} NAME)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    continue()
  endif()
  add_executable(unit_${name} ${srcs} ${QZ_RC} $<TARGET_OBJECTS:qz_test_hooks>)
  qz_target_defaults(unit_${name})
  target_compile_options(unit_${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-O0>)
  target_link_libraries(unit_${name} PRIVATE qzlauncher_chain gtest gtest_main)
  set_target_properties(unit_${name} PROPERTIES CROSSCOMPILING_EMULATOR ${QZ_WINE_RUN})
  add_test(NAME unit_${name} COMMAND unit_${name} --gtest_brief=1)
  set_tests_properties(unit_${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QZ_TEST_ENV}" TIMEOUT 300
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endforeach()

find_program(PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
file(GLOB QZ_INTEGRATION CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/integration/test_*.py)
foreach(py IN LISTS QZ_INTEGRATION)
  get_filename_component(name ${py} NAME_WE)
  add_test(NAME integration_${name} COMMAND ${PYTHON3} -m unittest -v ${name}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/integration)
  set_tests_properties(integration_${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QZ_TEST_ENV}" TIMEOUT 600)
endforeach()
# The longest files start first, so that a clean run (no timings from an earlier
# one) does not leave the installer tests running alone at the end.
set_tests_properties(integration_test_msi PROPERTIES COST 120)
set_tests_properties(integration_test_entry integration_test_driver integration_test_ui integration_test_prerequisites
                     PROPERTIES COST 40)
# The signer tests install and remove the product these three install too, in the
# shared prefix: they run beside none of them.
if(TEST integration_test_trust)
  foreach(t msi prerequisites restart)
    set_tests_properties(integration_test_${t} PROPERTIES RESOURCE_LOCK products_${t})
  endforeach()
  set_tests_properties(integration_test_trust PROPERTIES RESOURCE_LOCK "products_msi;products_prerequisites;products_restart")
endif()
# Tests that write or remove the resume state (the restart values under HKLM and
# HKCU ...\CurrentVersion) never run at the same time; nor do two tests that find
# windows by their titles on the one display, which would read each other's (and
# whose tear-downs cancel every dialog still open).
foreach(t unit_core unit_msi unit_prq integration_test_msi integration_test_restart integration_test_prerequisites
          integration_test_entry integration_test_engine)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY RESOURCE_LOCK resume_state)
  endif()
endforeach()
foreach(t unit_ui integration_test_ui integration_test_prerequisites integration_test_instances integration_test_download)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY RESOURCE_LOCK display)
  endif()
endforeach()
# It turns on the debug log of every launcher in the shared prefix for a moment.
if(TEST integration_test_registry_log)
  set_tests_properties(integration_test_registry_log PROPERTIES RUN_SERIAL TRUE)
endif()
