# Linux package build: what `cmake --install build/linux --prefix P` puts
# on a licence server.
#   P/bin/tavsn                         the tool
#   P/lib/libtavsn_server.so*           the C API (include/tavsn_server.h)
#   P/include/tavsn_server.h
#   P/lib/pkgconfig/tavsn_server.pc
#   P/lib/cmake/tavsn_server/           find_package(tavsn_server)
# (lib is GNUInstallDirs' CMAKE_INSTALL_LIBDIR: lib64 or lib/<multiarch>
# where the platform's convention and the configured prefix say so)
#   P/share/tavsn/python/tavsn_server.py the Python module over the C API
# Every destination is relative and no installed file names a prefix, so the
# prefix given at install time (not the configure-time one) is the one used.
include(GNUInstallDirs)
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    message(FATAL_ERROR "CMAKE_INSTALL_${dir} must be relative: tavsn_server.pc finds the prefix from its own folder")
  endif()
endforeach()
file(RELATIVE_PATH TAVSN_PREFIX_FROM_PKGCONFIG_DIR "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" TAVSN_PREFIX_FROM_PKGCONFIG_DIR "${TAVSN_PREFIX_FROM_PKGCONFIG_DIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tavsn_server.pc.in ${CMAKE_BINARY_DIR}/tavsn_server.pc @ONLY)
set(TAVSN_CMAKE_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tavsn_server)
file(RELATIVE_PATH TAVSN_PREFIX_FROM_CMAKE_DIR "/${TAVSN_CMAKE_CONFIG_DIR}" "/")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tavsn_serverConfig.cmake.in ${CMAKE_BINARY_DIR}/tavsn_serverConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tavsn_serverConfigVersion.cmake COMPATIBILITY SameMajorVersion)

# The Python module as installed: its __version__ is this release's.
set(python_module ${PROJECT_SOURCE_DIR}/bindings/python/tavsn_server.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${python_module})
file(READ ${python_module} module_text)
string(REPLACE "__version__ = \"0+unknown\"" "__version__ = \"${PROJECT_VERSION}\"" module_text "${module_text}")
file(WRITE ${CMAKE_BINARY_DIR}/python/tavsn_server.py.new "${module_text}")
configure_file(${CMAKE_BINARY_DIR}/python/tavsn_server.py.new ${CMAKE_BINARY_DIR}/python/tavsn_server.py COPYONLY)

install(TARGETS tavsn_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tavsn_server_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tavsn_server.h ${PROJECT_SOURCE_DIR}/include/tavsn_registry.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_BINARY_DIR}/tavsn_server.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${CMAKE_BINARY_DIR}/tavsn_serverConfig.cmake ${CMAKE_BINARY_DIR}/tavsn_serverConfigVersion.cmake
        DESTINATION ${TAVSN_CMAKE_CONFIG_DIR})
install(FILES ${CMAKE_BINARY_DIR}/python/tavsn_server.py DESTINATION ${CMAKE_INSTALL_DATADIR}/tavsn/python)

# The tests need Python; building and installing do not.
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  return()
endif()
# Installs this build into a scratch prefix and uses it as a licence
# server's programs would: C through pkg-config, the tool, the Python module
# (its answers against the tool's JSON).
add_test(NAME installed_package
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/install/test_install.py
                 --build ${CMAKE_BINARY_DIR} --cmake ${CMAKE_COMMAND} --version ${PROJECT_VERSION}
                 --libdir ${CMAKE_INSTALL_LIBDIR})
# Runs the examples of README.md and docs/: the tool's command lines against
# their shown output and exit code, the runnable C and Python snippets
# against this build's library.
add_test(NAME doc_examples
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/docs/test_doc_examples.py
                 --source ${PROJECT_SOURCE_DIR} --tool $<TARGET_FILE:tavsn_cli>
                 --library $<TARGET_FILE:tavsn_server_shared>)
