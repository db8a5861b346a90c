# Stand-ins for components outside the launcher (tests only) and the Windows
# Installer packages the tests install, built with wixl at test time.
add_library(QZExternalUI SHARED ${CMAKE_SOURCE_DIR}/tests/standins/QZExternalUI.cpp)
set_target_properties(QZExternalUI PROPERTIES PREFIX "" OUTPUT_NAME QZExternalUI)
target_compile_definitions(QZExternalUI PRIVATE UNICODE _UNICODE)
target_link_options(QZExternalUI PRIVATE -static -s)

# The script engine library: records its calls and answers scripted results.
add_library(QZSetup SHARED ${CMAKE_SOURCE_DIR}/tests/standins/QZSetup.cpp)
set_target_properties(QZSetup PROPERTIES PREFIX "" OUTPUT_NAME QZSetup)
target_compile_definitions(QZSetup PRIVATE UNICODE _UNICODE)
target_link_options(QZSetup PRIVATE -static -s)

add_library(userexit_action SHARED ${CMAKE_SOURCE_DIR}/tests/standins/userexit_action.cpp)
set_target_properties(userexit_action PROPERTIES PREFIX "")
target_link_options(userexit_action PRIVATE -static -s)

# The app-package helper and the package-manager client, as the prerequisite tests start
# them; a prerequisite program and a prerequisite host window for the launcher's tests.
foreach(standin PkgDeployHost winget prqprog prqhook)
  add_executable(${standin} ${CMAKE_SOURCE_DIR}/tests/standins/${standin}.cpp)
  target_compile_definitions(${standin} PRIVATE UNICODE _UNICODE)
  target_link_options(${standin} PRIVATE -municode -s)
endforeach()
if(TARGET unit_prq)
  add_dependencies(unit_prq PkgDeployHost winget)
endif()

add_test(NAME msi_testdata COMMAND ${CMAKE_SOURCE_DIR}/tests/data/demo/build-demo.sh ${CMAKE_BINARY_DIR}/testdata/msi
                                   ${CMAKE_BINARY_DIR}/userexit_action.dll)
set_tests_properties(msi_testdata PROPERTIES FIXTURES_SETUP msi_data TIMEOUT 120)
foreach(t unit_msi integration_test_msi integration_test_restart integration_test_prerequisites)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY FIXTURES_REQUIRED msi_data)
    # They install and remove the same demo products: never at the same time.
    set_property(TEST ${t} APPEND PROPERTY RESOURCE_LOCK demo_product)
  endif()
endforeach()
if(TARGET unit_msi)
  add_dependencies(unit_msi QZExternalUI QZSetup userexit_action)
endif()

# Test driver linked with the launcher library: schedules a resume after restart.
add_executable(reboot_driver ${CMAKE_SOURCE_DIR}/tests/drivers/reboot_driver.cpp)
qz_target_defaults(reboot_driver)
target_link_libraries(reboot_driver PRIVATE qzlauncher_setup psapi)
target_link_options(reboot_driver PRIVATE -municode -s)

# Test driver linked with the launcher library: fetches an address through the transport.
add_executable(inet_fetch ${CMAKE_SOURCE_DIR}/tests/drivers/inet_fetch.cpp)
qz_target_defaults(inet_fetch)
target_link_libraries(inet_fetch PRIVATE qzlauncher_setup)
target_link_options(inet_fetch PRIVATE -municode -s)

# The instance, download and trust tests install products of their own,
# but msiexec runs one installation at a time in a prefix: never beside the other
# installing tests.
foreach(t integration_test_instances integration_test_download integration_test_trust)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY RESOURCE_LOCK demo_product)
  endif()
endforeach()
