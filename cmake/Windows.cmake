# Cross build: the two launchers, the Windows build of the packing tool, unit and
# integration tests run under Wine.
enable_language(RC)
# Reproducible images: no link time stamp, and no folder of this build inside them
# (__FILE__ and debug paths are written relative to the tree), so two clean builds of
# one commit give the same bytes (scripts/repro-check.sh).
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)
set(QZ_WARN -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
set(QZ_DEFS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
# No comctl32: the common controls are bound on first use (support/dynload.h); the
# window system's libraries are delay-loaded (cmake/DelayLibs.cmake), and a GUID
# comes from rpcrt4, which does not start it.
include(${CMAKE_SOURCE_DIR}/cmake/DelayLibs.cmake)
set(QZ_SYSLIBS z ${QZ_DELAY_LIBS} shlwapi oleaut32 uuid advapi32 rpcrt4 comdlg32 version)

# The test-only values (test_hooks.h) are read by test programs alone: the library
# carries the silent twin, test_hooks_none.cpp, and test programs link the reading
# unit as an object, whose definitions the linker takes before the library's.
set(QZ_TEST_HOOKS ${CMAKE_SOURCE_DIR}/Src/Runtime/MSI/Shared/Setup/test_hooks.cpp)
list(REMOVE_ITEM QZ_ALL ${QZ_TEST_HOOKS})

list(APPEND QZ_ALL ${QZ_PROVISIONAL})

# The two deliverables differ by QZ_PREREQUISITES, which only these files read:
# they are built once per deliverable, everything else once. The prerequisite
# subsystem's own folder goes into chainsetup alone.
set(QZ_PER_DELIVERABLE Setup.cpp QzSetup.cpp msiaction.cpp session_prerequisites.cpp session_run.cpp)
list(TRANSFORM QZ_PER_DELIVERABLE PREPEND ${CMAKE_SOURCE_DIR}/Src/Runtime/MSI/Shared/Setup/)
set(QZ_PREREQUISITE_SOURCES ${QZ_ALL})
list(FILTER QZ_PREREQUISITE_SOURCES INCLUDE REGEX "/Src/Runtime/Shared/Setup/")
set(QZ_COMMON ${QZ_ALL})
list(REMOVE_ITEM QZ_COMMON ${QZ_PER_DELIVERABLE} ${QZ_PREREQUISITE_SOURCES})
foreach(f IN LISTS QZ_COMMON)
  file(STRINGS ${f} hit REGEX "QZ_PREREQUISITES" LIMIT_COUNT 1)
  if(hit)
    message(FATAL_ERROR "${f} reads QZ_PREREQUISITES but is built once for both deliverables: add it to QZ_PER_DELIVERABLE")
  endif()
endforeach()

function(qz_target_defaults t)
  target_compile_definitions(${t} PRIVATE ${QZ_DEFS})
  target_compile_options(${t} PRIVATE ${QZ_WARN})
  target_include_directories(${t} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/Src/Runtime/MSI/Shared/Setup ${CMAKE_SOURCE_DIR}/Src/Runtime/Shared/Setup)
endfunction()

add_library(qz_common OBJECT ${QZ_COMMON})
qz_target_defaults(qz_common)
add_library(qzlauncher_setup STATIC ${QZ_PER_DELIVERABLE} $<TARGET_OBJECTS:qz_common>)
add_library(qzlauncher_chain STATIC ${QZ_PER_DELIVERABLE} ${QZ_PREREQUISITE_SOURCES} $<TARGET_OBJECTS:qz_common>)
foreach(v setup chain)
  qz_target_defaults(qzlauncher_${v})
  target_link_libraries(qzlauncher_${v} PUBLIC ${QZ_SYSLIBS})
  # Every object of the library linked whole: a function defined twice (a real body
  # beside the provisional one it replaces, say) fails here instead of linking
  # whichever the linker meets first, and setup fails when anything it holds calls
  # into the prerequisite subsystem.
  add_executable(link_check_${v} ${CMAKE_SOURCE_DIR}/cmake/link_check.cpp ${QZ_RC})
  qz_target_defaults(link_check_${v})
  target_link_libraries(link_check_${v} PRIVATE -Wl,--whole-archive qzlauncher_${v} -Wl,--no-whole-archive)
  target_link_options(link_check_${v} PRIVATE -municode -mwindows -s)
endforeach()
target_compile_definitions(qzlauncher_chain PUBLIC QZ_PREREQUISITES=1)

# Resources are shared by both deliverables and by tests that need the string table.
set(QZ_RC ${CMAKE_SOURCE_DIR}/resources/launcher.rc)
set_source_files_properties(${QZ_RC} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/launcher.manifest;${CMAKE_SOURCE_DIR}/resources/launcher.ico;${CMAKE_SOURCE_DIR}/resources/strings.rc;${CMAKE_SOURCE_DIR}/resources/resource.h;${CMAKE_SOURCE_DIR}/resources/dialogs_lang.rc;${CMAKE_SOURCE_DIR}/resources/dialogs_ui.rc;${CMAKE_SOURCE_DIR}/resources/dialogs_prereq.rc")

add_library(qz_test_hooks OBJECT ${QZ_TEST_HOOKS})
qz_target_defaults(qz_test_hooks)

# The two deliverables, and their test builds setup_t.exe and chainsetup_t.exe:
# the same programs with the test-only values read (integration tests use them).
foreach(exe setup chainsetup setup_t chainsetup_t)
  if(exe MATCHES "^setup")
    set(lib qzlauncher_setup)
  else()
    set(lib qzlauncher_chain)
  endif()
  set(extra "")
  if(exe MATCHES "_t$")
    set(extra $<TARGET_OBJECTS:qz_test_hooks>)
  endif()
  add_executable(${exe} WIN32 app/launcher_main.cpp ${QZ_RC} ${extra})
  qz_target_defaults(${exe})
  target_link_libraries(${exe} PRIVATE ${lib})
  # Stripped and static: the stream is found at the PE image end.
  target_link_options(${exe} PRIVATE -municode -mwindows -s)
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/WindowsTests.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/Tools.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/Standins.cmake OPTIONAL)
