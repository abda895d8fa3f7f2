# Native build: the portable logic with fakes of the Win32 layer, unit-tested
# under AddressSanitizer and UBSan.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/owner_mistakes.cmake)

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(WARNINGS -Wall -Wextra -Werror)

add_library(tavsn_portable STATIC ${PORTABLE_SOURCES} ${FAKE_SOURCES})
target_include_directories(tavsn_portable PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_options(tavsn_portable PUBLIC ${WARNINGS} ${SANITIZE} -g -O1)
target_link_options(tavsn_portable PUBLIC ${SANITIZE})
target_link_libraries(tavsn_portable PUBLIC Threads::Threads)

if(NOT TEST_SOURCES)
  return()
endif()
add_executable(tavsn_native_tests ${TEST_SOURCES})
target_link_libraries(tavsn_native_tests PRIVATE tavsn_cli_core tavsn_registry tavsn_server tavsn_portable GTest::gtest GTest::gtest_main GTest::gmock)
include(GoogleTest)
gtest_discover_tests(tavsn_native_tests DISCOVERY_TIMEOUT 60)

# The tavsn tool as scripts run it: commands, exit codes and JSON read back.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME cli_tool COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/cli/test_cli.py
         --tool $<TARGET_FILE:tavsn_cli> --version ${PROJECT_VERSION})
# Its contract over random argument lists: documented exit codes, one JSON
# document for --json, no control character of an argument echoed raw.
add_test(NAME cli_properties COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/cli/test_cli_properties.py
         --tool $<TARGET_FILE:tavsn_cli>)

# The C# declarations for .NET hosts, built with mcs and run under Mono
# against a Linux stand-in of the DLL. Sanitizers stay out of the stand-in:
# Mono loads it into a process that has no sanitizer runtime.
add_library(tavsn_csharp_fake SHARED ${PROJECT_SOURCE_DIR}/tests/bindings/fake_tavsn.c)
target_compile_options(tavsn_csharp_fake PRIVATE ${WARNINGS})
add_test(NAME csharp_bindings COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/bindings/test_csharp.py
         $<TARGET_FILE:tavsn_csharp_fake>)
