# find_package(tavsn) for Windows hosts built with MinGW or MSVC, 32-bit or
# 64-bit: the imported target tavsn::tavsn is the DLL of the host's own
# architecture, with its header and the import library of its toolchain.
# tavsn_DLL names the DLL file, to copy beside the host.
macro(tavsn_not_found message)
  set(tavsn_FOUND FALSE)
  set(tavsn_NOT_FOUND_MESSAGE "${message}")
  return()
endmacro()

if(NOT WIN32)
  tavsn_not_found("tavsn.dll is for Windows hosts only")
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^([Aa][Rr][Mm]|[Aa][Aa][Rr][Cc][Hh])")
  tavsn_not_found("tavsn.dll is built for x86 and x64 processes only")
endif()
# The host's pointer size picks the DLL: it is known once C or C++ is enabled.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_tavsn_arch x64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_tavsn_arch x86)
else()
  tavsn_not_found("the host's pointer size is unknown: enable C or C++ before find_package(tavsn)")
endif()
# MSVC's linker reads tavsn.lib; GNU ld and lld in MinGW mode the .dll.a.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_tavsn_import_library tavsn.lib)
else()
  set(_tavsn_import_library libtavsn.dll.a)
endif()

get_filename_component(_tavsn_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(tavsn_DLL "${_tavsn_root}/${_tavsn_arch}/bin/tavsn.dll")
set(_tavsn_implib "${_tavsn_root}/${_tavsn_arch}/lib/${_tavsn_import_library}")
foreach(_tavsn_file "${tavsn_DLL}" "${_tavsn_implib}" "${_tavsn_root}/include/tavsn.h")
  if(NOT EXISTS "${_tavsn_file}")
    tavsn_not_found("the package lacks ${_tavsn_file}")
  endif()
endforeach()

if(NOT TARGET tavsn::tavsn)
  add_library(tavsn::tavsn SHARED IMPORTED)
  set_target_properties(tavsn::tavsn PROPERTIES
    IMPORTED_LOCATION "${tavsn_DLL}"
    IMPORTED_IMPLIB "${_tavsn_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_tavsn_root}/include")
endif()
unset(_tavsn_root)
unset(_tavsn_arch)
unset(_tavsn_import_library)
unset(_tavsn_implib)
unset(_tavsn_file)
