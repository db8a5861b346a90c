# Source collection shared by every module folder.
#
# A source file whose first line is "// portable" uses no Windows header and is
# also compiled into the native (Linux) build, where its tests and fuzz targets
# run directly. Everything else is Windows-only.
#
# A provisional body ("*_provisional.cpp") stands in for a subsystem still to come.
# The glob never takes one: each is listed by name (QZ_PROVISIONAL), so the real
# body that replaces it is never built beside it unnoticed.

function(qz_collect_sources dir out_all out_portable)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  list(FILTER all EXCLUDE REGEX "_provisional\\.cpp$")
  set(portable "")
  foreach(f IN LISTS all)
    file(STRINGS ${f} first LIMIT_COUNT 1)
    if(first MATCHES "^// portable")
      list(APPEND portable ${f})
    endif()
  endforeach()
  set(${out_all} ${all} PARENT_SCOPE)
  set(${out_portable} ${portable} PARENT_SCOPE)
endfunction()
