# find_package(tavsn) for Windows hosts built with MinGW or MSVC, 32-bit or
# 64-bit: the imported target tavsn::tavsn is the DLL of the host's own
# architecture, with its header and the import library of the host's
# toolchain. tavsn_DLL names the DLL file, to copy beside the host.
if(NOT WIN32)
  set(tavsn_FOUND FALSE)
  set(tavsn_NOT_FOUND_MESSAGE "tavsn.dll is for Windows hosts only")
  return()
endif()

get_filename_component(_tavsn_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_tavsn_arch x64)
else()
  set(_tavsn_arch x86)
endif()
# MSVC's linker reads tavsn.lib; GNU ld and lld in MinGW mode the .dll.a.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_tavsn_import_library tavsn.lib)
else()
  set(_tavsn_import_library libtavsn.dll.a)
endif()

set(tavsn_DLL "${_tavsn_root}/${_tavsn_arch}/bin/tavsn.dll")
if(NOT TARGET tavsn::tavsn)
  add_library(tavsn::tavsn SHARED IMPORTED)
  set_target_properties(tavsn::tavsn PROPERTIES
    IMPORTED_LOCATION "${tavsn_DLL}"
    IMPORTED_IMPLIB "${_tavsn_root}/${_tavsn_arch}/lib/${_tavsn_import_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_tavsn_root}/include")
endif()
unset(_tavsn_root)
unset(_tavsn_arch)
unset(_tavsn_import_library)
