# win32 build: the real DLL, its console programs and the Wine tests.
add_library(tavsn_objects OBJECT ${PORTABLE_SOURCES} ${WIN32_SOURCES})
target_include_directories(tavsn_objects PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_options(tavsn_objects PRIVATE ${TAVSN_WIN32_FLAGS} ${TAVSN_DLL_FLAGS} -Os)
target_compile_definitions(tavsn_objects PRIVATE ${TAVSN_DLL_DEFINES})

# The architecture's name as Windows tools and the package spell it. 32-bit
# exports carry the decorated stdcall names hosts look up; x64 has one
# calling convention and plain names.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVSN_ARCH x64)
  set(TAVSN_DEF_FILE ${PROJECT_SOURCE_DIR}/api/tavsn_x64.def)
else()
  set(TAVSN_ARCH x86)
  set(TAVSN_DEF_FILE ${PROJECT_SOURCE_DIR}/api/tavsn.def)
endif()
add_library(tavsn SHARED $<TARGET_OBJECTS:tavsn_objects> ${TAVSN_DEF_FILE})
set_target_properties(tavsn PROPERTIES PREFIX "" OUTPUT_NAME tavsn
  IMPORT_PREFIX lib IMPORT_SUFFIX .dll.a)
tavsn_version_resource(tavsn "tavsn machine identifiers")
# The map names every object and symbol the linker kept: the link test reads
# it to prove that no exception or unwinder code is in the DLL.
target_link_options(tavsn PRIVATE ${TAVSN_STATIC_RUNTIME} ${TAVSN_DLL_LINK_HARDENING} -s
  -Wl,-Map=${CMAKE_BINARY_DIR}/tavsn.map)
target_link_libraries(tavsn PRIVATE ${TAVSN_DLL_SYSTEM_LIBS})

# Hosts find the header and the module-definition file beside the DLL and
# its import library.
add_custom_command(TARGET tavsn POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/include/tavsn.h
          ${TAVSN_DEF_FILE} $<TARGET_FILE_DIR:tavsn>)

include(${PROJECT_SOURCE_DIR}/cmake/msvc_import_library.cmake)

# The same code as a static library, for Wine test programs of internals.
add_library(tavsn_static STATIC $<TARGET_OBJECTS:tavsn_objects>)

# tavsn.exe, the main job, is defined with the tool in tools/.

# Every tests/wine/test_*.py is one test; it gets the build folder.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB WINE_TEST_SCRIPTS ${PROJECT_SOURCE_DIR}/tests/wine/test_*.py)
foreach(script ${WINE_TEST_SCRIPTS})
  get_filename_component(test_name ${script} NAME_WE)
  add_test(NAME wine_${test_name}
           COMMAND ${Python3_EXECUTABLE} ${script} --build ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_${test_name} PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77)
endforeach()

include(${PROJECT_SOURCE_DIR}/cmake/package.cmake)
