# Linux build: the packer, the native tests through the stand-in, the fuzzer and the benchmarks.
include(CTest)

# Who may include whom in src/, and no two files that need each other.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_layers.py ${CMAKE_SOURCE_DIR}/src)
add_test(NAME layers.check COMMAND ${Python3_EXECUTABLE} -m unittest -v test_check_layers
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/layers)
set_tests_properties(layers layers.check PROPERTIES LABELS layers ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)

add_library(platform_standin STATIC
  src/platform/standin/files_standin.cpp
  src/platform/standin/system_standin.cpp
  src/platform/standin/controls_standin.cpp
  src/platform/controls.cpp
  src/platform/standin/shell_standin.cpp
  src/platform/standin/registry_standin.cpp)
target_link_libraries(platform_standin PUBLIC scrcore)

add_library(setuplogic STATIC ${SETUP_LOGIC_SOURCES})
target_link_libraries(setuplogic PUBLIC platform_standin scrcore)

find_package(GTest REQUIRED)
add_subdirectory(tests/unit)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_subdirectory(tests/fuzz)
endif()

find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_subdirectory(bench)
endif()

add_subdirectory(tests/e2e)
add_subdirectory(tests/manifest)
