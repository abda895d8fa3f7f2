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
set(TAVSN_MSVC_LIB ${CMAKE_BINARY_DIR}/tavsn.lib)
add_custom_command(OUTPUT ${TAVSN_MSVC_LIB}
  COMMAND ${TAVSN_LLD_LINK} /nologo /machine:${TAVSN_ARCH} /def:${TAVSN_MSVC_DEF}
          /out:${TAVSN_MSVC_LIB}
  DEPENDS ${TAVSN_MSVC_DEF} VERBATIM)
add_custom_target(tavsn_msvc_lib ALL DEPENDS ${TAVSN_MSVC_LIB})
