# The setup author's packing tool (both trees), the Windows front end over the
# launcher's stream reader used by tests and benchmarks, and the benchmark helpers.
# The packing tool's init reads packages with libmsi (msitools), natively only.
file(GLOB QZ_MKSETUP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/mksetup/*.cpp)
if(WIN32)
  list(FILTER QZ_MKSETUP_SOURCES EXCLUDE REGEX "/init\\.cpp$")
  add_executable(mksetup ${QZ_MKSETUP_SOURCES})
  add_executable(streamx ${CMAKE_SOURCE_DIR}/tools/streamx.cpp)
  foreach(tool mksetup streamx)
    qz_target_defaults(${tool})
    target_link_options(${tool} PRIVATE -municode -s)
  endforeach()
  # verify reads the prerequisite list too.
  target_link_libraries(mksetup PRIVATE qzlauncher_chain)
  target_link_libraries(streamx PRIVATE qzlauncher_setup psapi)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)
  add_executable(mksetup ${QZ_MKSETUP_SOURCES})
  target_compile_definitions(mksetup PRIVATE QZ_MKSETUP_INIT)
  target_link_libraries(mksetup PRIVATE qzportable PkgConfig::LIBMSI)
  target_compile_options(mksetup PRIVATE ${QZ_WARN})
  # Benchmark helper: plain zlib deflate/inflate file to file, the native baseline.
  add_executable(zbench ${CMAKE_SOURCE_DIR}/bench/zbench.cpp)
  target_link_libraries(zbench PRIVATE ZLIB::ZLIB)
  target_compile_options(zbench PRIVATE ${QZ_WARN})
  set_target_properties(zbench PROPERTIES EXCLUDE_FROM_ALL ON)
  add_custom_target(bench DEPENDS mksetup zbench)
endif()
