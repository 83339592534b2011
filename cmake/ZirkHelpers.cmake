# Shared build settings for every target of the project.

add_library(zirk_options INTERFACE)
target_compile_options(zirk_options INTERFACE
  -Wall -Wextra
  $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>)
if(ZIRK_SANITIZE)
  target_compile_options(zirk_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(zirk_options INTERFACE -fsanitize=address,undefined)
endif()
if(ZIRK_TSAN)
  target_compile_options(zirk_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(zirk_options INTERFACE -fsanitize=thread)
endif()

# zirk_library(<name> SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# One static library per source folder; headers are included as "folder/file.h".
function(zirk_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC zirk_options ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_DEPS})
endfunction()

# zirk_test(<name> SOURCES ... DEPS ...)
# One GoogleTest binary per source folder; cases are listed when ctest runs,
# so a build never executes test code.
function(zirk_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} zirk_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ZIRK_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# zirk_bench(<name> SOURCES ... DEPS ...)
function(zirk_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} zirk_options benchmark::benchmark benchmark::benchmark_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
