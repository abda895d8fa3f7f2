# What the release package holds of one Windows build: `cmake --install`
# of the 32-bit and the 64-bit build into one folder gives the package's
# layout (scripts/package.sh):
#   include/tavsn.h
#   x86/bin, x64/bin   tavsn.dll, tavsn.exe
#   x86/lib, x64/lib   libtavsn.dll.a, tavsn.lib, tavsn.def
#   lib/cmake/tavsn    the find_package(tavsn) configuration
include(CMakePackageConfigHelpers)

install(TARGETS tavsn tavsn_main
        RUNTIME DESTINATION ${TAVSN_ARCH}/bin
        ARCHIVE DESTINATION ${TAVSN_ARCH}/lib)
install(FILES ${TAVSN_DEF_FILE} DESTINATION ${TAVSN_ARCH}/lib RENAME tavsn.def)
install(FILES ${TAVSN_MSVC_LIB} DESTINATION ${TAVSN_ARCH}/lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavsn.h DESTINATION include)

# One configuration serves both architectures, so its version check must not
# compare pointer sizes.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tavsnConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/tavsnConfig.cmake ${CMAKE_BINARY_DIR}/tavsnConfigVersion.cmake
        DESTINATION lib/cmake/tavsn)
