# The owners' types catch three mistakes at compile time: an interface
# passed where another is expected, a COM pointer adopted by a registry key,
# and a release() whose handle nobody takes. Each must fail to compile; the
# right use beside them must compile, or the check itself is broken.
include(CheckCXXSourceCompiles)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_REQUIRED_INCLUDES ${PROJECT_SOURCE_DIR})
set(CMAKE_REQUIRED_FLAGS "-std=c++20 -Werror=unused-result")
set(owner_code "#include \"base/resources.h\"
void Use(const tavsn::WbemEnumerator&);
void Check() {
  tavsn::WbemLocator locator;
  tavsn::RegistryKey key;
  @use@
}")
set(use_right_use "tavsn::WbemEnumerator enumerator; Use(enumerator); HKEY__* taken = key.release(); (void)taken;")
set(use_interface_for_another "Use(locator);")
set(use_com_pointer_as_key "key.reset(locator.get());")
set(use_discarded_release "key.release();")
foreach(name right_use interface_for_another com_pointer_as_key discarded_release)
  string(REPLACE "@use@" "${use_${name}}" source "${owner_code}")
  unset(TAVSN_OWNER_${name} CACHE)
  check_cxx_source_compiles("${source}" TAVSN_OWNER_${name})
  if(name STREQUAL "right_use" AND NOT TAVSN_OWNER_${name})
    message(FATAL_ERROR "the owners' compile check does not compile their right use")
  elseif(NOT name STREQUAL "right_use" AND TAVSN_OWNER_${name})
    message(FATAL_ERROR "an owner mistake compiles: ${name}")
  endif()
endforeach()
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)
unset(CMAKE_REQUIRED_INCLUDES)
unset(CMAKE_REQUIRED_FLAGS)
