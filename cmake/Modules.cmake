# Source collection shared by every module folder.
#
# A source file whose first line is "// portable" uses no Windows header and is
# also compiled into the native (Linux) build, where its tests and fuzz targets
# run directly. Everything else is Windows-only.

function(qz_collect_sources dir out_all out_portable)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
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
