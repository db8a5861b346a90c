# Delay-import libraries for the system libraries that start the window system.
# Loading user32 (directly or through shell32, ole32 and gdi32) costs a process
# tens of milliseconds before its first instruction; the first launcher needs none
# of them before it has started its clone, so they are bound on first call. Each
# library is made from the toolchain's own import library: every name it imports
# becomes a delay-loaded entry of the same DLL.
find_program(QZ_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)
find_program(QZ_NM NAMES ${TOOLCHAIN_PREFIX}-nm REQUIRED)
set(QZ_DELAYED user32 gdi32 shell32 ole32)
set(QZ_DELAY_LIBS "")
foreach(l IN LISTS QZ_DELAYED)
  find_library(QZ_IMPLIB_${l} NAMES lib${l}.a REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delay/lib${l}_delay.a)
  if(NOT EXISTS ${out} OR ${QZ_IMPLIB_${l}} IS_NEWER_THAN ${out})
    execute_process(COMMAND ${QZ_NM} -g ${QZ_IMPLIB_${l}} OUTPUT_VARIABLE syms ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imps "${syms}")
    list(TRANSFORM imps REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imps)
    list(SORT imps)
    list(JOIN imps "\n" body)
    file(WRITE ${CMAKE_BINARY_DIR}/delay/${l}.def "LIBRARY ${l}.dll\nEXPORTS\n${body}\n")
    execute_process(COMMAND ${QZ_DLLTOOL} -d ${CMAKE_BINARY_DIR}/delay/${l}.def -y ${out} -D ${l}.dll
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  list(APPEND QZ_DELAY_LIBS ${out})
endforeach()
