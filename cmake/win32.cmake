# win32 build: the real DLL, its console programs and the Wine tests.
add_library(tavsn_objects OBJECT ${PORTABLE_SOURCES} ${WIN32_SOURCES})
target_include_directories(tavsn_objects PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_options(tavsn_objects PRIVATE ${TAVSN_WIN32_FLAGS} ${TAVSN_DLL_FLAGS} -Os)
target_compile_definitions(tavsn_objects PRIVATE ${TAVSN_DLL_DEFINES})

# 32-bit exports carry the decorated stdcall names hosts look up; x64 has one
# calling convention and plain names.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVSN_DEF_FILE ${PROJECT_SOURCE_DIR}/api/tavsn_x64.def)
else()
  set(TAVSN_DEF_FILE ${PROJECT_SOURCE_DIR}/api/tavsn.def)
endif()
add_library(tavsn SHARED $<TARGET_OBJECTS:tavsn_objects> ${TAVSN_DEF_FILE})
set_target_properties(tavsn PROPERTIES PREFIX "" OUTPUT_NAME tavsn
  IMPORT_PREFIX lib IMPORT_SUFFIX .dll.a)
# The map names every object and symbol the linker kept: the link test reads
# it to prove that no exception or unwinder code is in the DLL.
target_link_options(tavsn PRIVATE ${TAVSN_STATIC_RUNTIME} -s -Wl,-Map=${CMAKE_BINARY_DIR}/tavsn.map)
target_link_libraries(tavsn PRIVATE ${TAVSN_SYSTEM_LIBS})

# Hosts find the header and the module-definition file beside the DLL and
# its import library.
add_custom_command(TARGET tavsn POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/include/tavsn.h
          ${TAVSN_DEF_FILE} $<TARGET_FILE_DIR:tavsn>)

# tavsn.lib, the import library for MSVC hosts. MSVC's import-name rule
# keeps a def-file name written _name@n whole and strips the underscore of
# any other x86 name, so a def file that lists the DLL's own export names
# gives imports of exactly those names; it is written from the one the DLL
# is linked with, so the two cannot differ. llvm-dlltool applies the MinGW
# rule, which turns _GetMacSN@8 into GetMacSN@8, and LLVM 14's llvm-lib has
# no /def:, so lld-link writes the library: given a def file and no objects
# it writes only the import library, with MSVC's rule.
find_program(TAVSN_LLD_LINK NAMES lld-link lld-link-14)
if(NOT TAVSN_LLD_LINK)
  message(FATAL_ERROR "lld-link not found: it writes tavsn.lib for MSVC hosts "
                      "(Debian: apt-get install lld)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TAVSN_DEF_FILE})
file(READ ${TAVSN_DEF_FILE} def_text)
# Comments go first: a ';' left in the text would split lines as a list.
string(REGEX REPLACE ";[^\n]*" "" def_text "${def_text}")
string(REPLACE "\n" ";" def_lines "${def_text}")
set(msvc_def_text "; Written from ${TAVSN_DEF_FILE}: the DLL's export names.\n")
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "")
  elseif(line MATCHES "^(LIBRARY [A-Za-z0-9_.]+|EXPORTS)$")
    string(APPEND msvc_def_text "${line}\n")
  elseif(line MATCHES "^[A-Za-z_][A-Za-z0-9_@]*( *== *[A-Za-z_][A-Za-z0-9_@]*)?$")
    # The name after '==' is the one the DLL exports.
    string(REGEX REPLACE "^.*== *" "" line "${line}")
    string(APPEND msvc_def_text "  ${line}\n")
  else()
    # Ordinals, internal names or DATA would need their own MSVC spelling.
    message(FATAL_ERROR "${TAVSN_DEF_FILE}: no MSVC import name known for '${line}'")
  endif()
endforeach()
set(TAVSN_MSVC_DEF ${CMAKE_BINARY_DIR}/tavsn_msvc.def)
file(GENERATE OUTPUT ${TAVSN_MSVC_DEF} CONTENT "${msvc_def_text}")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVSN_LINK_MACHINE x64)
else()
  set(TAVSN_LINK_MACHINE x86)
endif()
set(TAVSN_MSVC_LIB ${CMAKE_BINARY_DIR}/tavsn.lib)
add_custom_command(OUTPUT ${TAVSN_MSVC_LIB}
  COMMAND ${TAVSN_LLD_LINK} /nologo /machine:${TAVSN_LINK_MACHINE} /def:${TAVSN_MSVC_DEF}
          /out:${TAVSN_MSVC_LIB}
  DEPENDS ${TAVSN_MSVC_DEF} VERBATIM)
add_custom_target(tavsn_msvc_lib ALL DEPENDS ${TAVSN_MSVC_LIB})

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

install(TARGETS tavsn RUNTIME DESTINATION . ARCHIVE DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavsn.h ${TAVSN_DEF_FILE} ${TAVSN_MSVC_LIB}
        DESTINATION .)
