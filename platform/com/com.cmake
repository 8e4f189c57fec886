# In-process COM servers: the registration program, the helper every server
# library uses, and the small server the layer's own tests create.

add_executable(velmoor-regsvr ${CMAKE_CURRENT_LIST_DIR}/regsvr/velmoor_regsvr.cpp)
target_link_libraries(velmoor-regsvr PRIVATE velmoor_platform)

# velmoor_com_server(<target>)
# Makes a shared library an in-process server: hidden symbols but its entry
# points, the platform layer linked, and registered in the building user's
# registry each time it is built. Programs register it again on a fresh home
# (platform::com::ensureServersRegistered).
function(velmoor_com_server target)
  velmoor_module(${target})
  target_link_libraries(${target} PRIVATE velmoor_platform)
  add_dependencies(${target} velmoor-regsvr)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:velmoor-regsvr> --keep-going $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

if(VELMOOR_TESTS)
  add_library(velmoor_com_test_server SHARED ${CMAKE_CURRENT_LIST_DIR}/testing/com_test_server.cpp)
  velmoor_com_server(velmoor_com_test_server)
  if(TARGET platform_tests)
    add_dependencies(platform_tests velmoor_com_test_server)
  endif()
endif()
