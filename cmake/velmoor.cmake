# Shared build helpers of the project.

# velmoor_add_tests(<name> [GUI] [GMOCK] LIBS <targets...>)
# Builds every tests/*_test.cpp of the calling folder into one test program <name>
# and registers each of its test cases with CTest, so ctest -j runs them side by side.
# Each test case runs in its own process with a fresh temporary VELMOOR_HOME.
# GUI: the program runs a widget application on the off-screen platform, links Qt
# Widgets and Qt Test, and gets VELMOOR_SCREENSHOT_DIR, the folder of the build
# tree where its tests save pictures of their windows.
# GMOCK: the program links GoogleMock too (only programs that use its mocks or
# matchers; the others link GoogleTest alone).
function(velmoor_add_tests name)
  if(NOT VELMOOR_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "GUI;GMOCK" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmoor_test_main_gui)
    target_compile_definitions(${name} PRIVATE
      VELMOOR_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmoor_test_main)
  endif()
  if(ARG_GMOCK)
    target_link_libraries(${name} PRIVATE GTest::gmock)
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

# velmoor_runtime_dependencies(<target> <runtime targets...>)
# <target> loads the given libraries or servers at run time (nothing links them):
# each one that is part of the build is built before it. The check waits for the
# end of configuration, so a folder names what its own targets need whatever the
# order the folders are added in.
function(velmoor_runtime_dependencies target)
  if(NOT TARGET ${target})
    return()
  endif()
  foreach(runtime IN LISTS ARGN)
    cmake_language(EVAL CODE "
      cmake_language(DEFER DIRECTORY \"${PROJECT_SOURCE_DIR}\" CALL _velmoor_runtime_dependency [[${target}]] [[${runtime}]])")
  endforeach()
endfunction()

function(_velmoor_runtime_dependency target runtime)
  if(TARGET ${runtime})
    add_dependencies(${target} ${runtime})
  endif()
endfunction()

# velmoor_headless(<targets...>)
# Targets that show no window (the engine, the station link, its transports, the
# kit, their tests and fuzzers). They compile with VELMOOR_HEADLESS, so a header
# of the engine's window library fails their build, and at the end of
# configuration their whole link closure is checked: Qt Gui or Qt Widgets in it
# stops the configuration.
function(velmoor_headless)
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      target_compile_definitions(${target} PRIVATE VELMOOR_HEADLESS)
      set_property(GLOBAL APPEND PROPERTY VELMOOR_HEADLESS_TARGETS ${target})
    endif()
  endforeach()
endfunction()

# velmoor_without_qt(<targets...>)
# Targets that link no Qt at all (the codec libraries); checked like the above.
function(velmoor_without_qt)
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      set_property(GLOBAL APPEND PROPERTY VELMOOR_NO_QT_TARGETS ${target})
    endif()
  endforeach()
endfunction()

# Every library in the link closure of <target>, by name, into <out>.
function(_velmoor_link_closure target out)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue item)
    if(item MATCHES "^\\$<LINK_ONLY:(.+)>$")
      set(item "${CMAKE_MATCH_1}")
    endif()
    if(item MATCHES "\\$<" OR item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(TARGET ${item})
      get_target_property(aliased ${item} ALIASED_TARGET)
      if(aliased)
        list(APPEND queue ${aliased})
        continue()
      endif()
      get_target_property(type ${item} TYPE)
      set(props INTERFACE_LINK_LIBRARIES)
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        get_target_property(imported ${item} IMPORTED)
        if(NOT imported)
          list(APPEND props LINK_LIBRARIES)
        endif()
      endif()
      foreach(prop IN LISTS props)
        get_target_property(libs ${item} ${prop})
        if(libs)
          list(APPEND queue ${libs})
        endif()
      endforeach()
    endif()
  endwhile()
  list(REMOVE_ITEM seen ${target})
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(_velmoor_check_link_graph)
  set(faults "")
  get_property(headless GLOBAL PROPERTY VELMOOR_HEADLESS_TARGETS)
  foreach(target IN LISTS headless)
    _velmoor_link_closure(${target} closure)
    foreach(lib IN LISTS closure)
      if(lib MATCHES "^Qt[0-9]*::(Gui|Widgets|OpenGL|OpenGLWidgets|PrintSupport)$"
         OR lib MATCHES "^(tavicore_ui|velmoor_test_main_gui)$")
        list(APPEND faults "${target} is headless but links ${lib}")
      endif()
    endforeach()
  endforeach()
  get_property(noQt GLOBAL PROPERTY VELMOOR_NO_QT_TARGETS)
  foreach(target IN LISTS noQt)
    _velmoor_link_closure(${target} closure)
    foreach(lib IN LISTS closure)
      if(lib MATCHES "^Qt[0-9]*::")
        list(APPEND faults "${target} must link no Qt but links ${lib}")
      endif()
    endforeach()
  endforeach()
  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Link graph check failed:\n  ${text}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _velmoor_check_link_graph)

# velmoor_add_com_server(<name> DESCRIPTION <text> [VERSION <version>]
#                        [SOURCES <files...>] [LIBS <targets...>] [TEST_LIBS <targets...>])
# An in-process COM server of the system: the shared library <name> of SOURCES
# (default: every .cpp of the calling folder) with the base library and LIBS
# linked privately, made a server (velmoor_com_server: hidden symbols but its
# entry points, registered when built) with its version note; and its tests,
# <name>_tests, linking the platform layer, the base library and TEST_LIBS. The
# tests create the server through the registry as every client does, so it is
# built before them.
function(velmoor_add_com_server name)
  cmake_parse_arguments(ARG "" "DESCRIPTION;VERSION" "SOURCES;LIBS;TEST_LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION "${PROJECT_VERSION}.0")
  endif()
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmoor_common)
  velmoor_com_server(${name})
  velmoor_version_note(${name} DESCRIPTION "${ARG_DESCRIPTION}" VERSION "${ARG_VERSION}")

  velmoor_add_tests(${name}_tests LIBS ${ARG_TEST_LIBS} velmoor_platform velmoor_common)
  if(TARGET ${name}_tests)
    add_dependencies(${name}_tests ${name})
  endif()
endfunction()
