# Native (Linux) build: the portable parsers, their unit tests and fuzz targets,
# and the packing tool.
set(QZ_WARN -Wall -Wextra -Wno-unused-parameter)
add_library(qzportable STATIC ${QZ_PORTABLE})
target_include_directories(qzportable PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/Src/Runtime/MSI/Shared/Setup ${CMAKE_SOURCE_DIR}/Src/Runtime/Shared/Setup)
target_compile_options(qzportable PRIVATE ${QZ_WARN})
find_package(ZLIB REQUIRED)
target_link_libraries(qzportable PUBLIC ZLIB::ZLIB)

include(${CMAKE_SOURCE_DIR}/cmake/NativeTests.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/Tools.cmake OPTIONAL)
