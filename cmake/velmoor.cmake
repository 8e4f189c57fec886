# Shared build helpers of the project.

# velmoor_add_tests(<name> [GUI] LIBS <targets...>)
# Builds every tests/*_test.cpp of the calling folder into one test program <name>
# and registers each of its test cases with CTest, so ctest -j runs them side by side.
# Each test case runs in its own process with a fresh temporary VELMOOR_HOME.
# GUI: the program runs a widget application on the off-screen platform, links Qt
# Widgets and Qt Test, and gets VELMOOR_SCREENSHOT_DIR, the folder of the build
# tree where its tests save pictures of their windows.
function(velmoor_add_tests name)
  if(NOT VELMOOR_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "GUI" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmoor_test_main_gui GTest::gmock)
    target_compile_definitions(${name} PRIVATE
      VELMOOR_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmoor_test_main GTest::gmock)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()

# velmoor_version_note(<target> DESCRIPTION <text> VERSION <text>)
# Embeds the module's description and file version in its ELF note section.
function(velmoor_version_note target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;VERSION" "" ${ARGN})
  if(NOT ARG_VERSION)
    set(ARG_VERSION "${PROJECT_VERSION}.0")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_note.cpp.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# velmoor_module(<target>)
# A shared library or COM server of the system: hidden symbols by default, only what
# its interface marks is exported, and the base library inside it stays private.
function(velmoor_module target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
endfunction()
