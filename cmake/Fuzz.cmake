# Fuzz tree (clang, libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer):
# the portable parsers instrumented, one executable per tests/fuzz/fuzz_*.cpp.
# Configure: cmake -S . -B build/fuzz -DQZ_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
# scripts/fuzz.sh builds it and runs every target over its corpus.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz tree needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()
set(QZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1)
set(QZ_WARN -Wall -Wextra -Wno-unused-parameter)

add_library(qzfuzzlib STATIC ${QZ_PORTABLE})
target_include_directories(qzfuzzlib PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/Src/Runtime/MSI/Shared/Setup ${CMAKE_SOURCE_DIR}/Src/Runtime/Shared/Setup)
target_compile_options(qzfuzzlib PUBLIC ${QZ_SANITIZE} PRIVATE -fsanitize=fuzzer-no-link ${QZ_WARN})
find_package(ZLIB REQUIRED)
target_link_libraries(qzfuzzlib PUBLIC ZLIB::ZLIB)

file(GLOB QZ_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
set(QZ_FUZZ_NAMES "")
foreach(src IN LISTS QZ_FUZZ_TARGETS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${QZ_WARN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE qzfuzzlib)
  list(APPEND QZ_FUZZ_NAMES ${name})
endforeach()
# The list scripts/fuzz.sh runs.
file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "")
foreach(name IN LISTS QZ_FUZZ_NAMES)
  file(APPEND ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${name}\n")
endforeach()
