# What only the Windows build adds: the icon resources in the executable, the
# zip that carries the program and its data, and the programs that the Wine
# tests run (tests/wine). Static linking is set by the toolchain file
# (cmake/mingw-w64.cmake).
if(NOT WIN32)
  return()
endif()
include_guard(GLOBAL)

enable_language(RC)

# A static wxWidgets needs the libraries its rich text control builds on
# (html, xml with expat, adv) on the link line after it.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS richtext html xml adv core base)
target_link_libraries(rq_ui PUBLIC ${wxWidgets_LIBRARIES})

# ---- icon resources: made from the PNG images the Linux build loads ----
find_program(RQ_CONVERT_EXECUTABLE NAMES convert REQUIRED)
set(RQ_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(RQ_ICONS "")
# name, then the sizes the .ico holds (its own size first).
foreach(entry "aaaa:128,64,48,32,16" "RC_Comm:32,16" "RC_About:48,32,16")
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 name)
  list(GET parts 1 sizes)
  set(png ${CMAKE_SOURCE_DIR}/data/img/${name}.png)
  set(ico ${RQ_ICON_DIR}/${name}.ico)
  add_custom_command(OUTPUT ${ico}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${RQ_ICON_DIR}
    COMMAND ${RQ_CONVERT_EXECUTABLE} ${png} -background none -define icon:auto-resize=${sizes} ${ico}
    DEPENDS ${png}
    COMMENT "Icon ${name}.ico")
  list(APPEND RQ_ICONS ${ico})
endforeach()

set(RQ_RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/src/app/resources.rc)
target_sources(rq-m4x-led-test PRIVATE ${RQ_RESOURCE_SCRIPT})
# windres finds the .ico files named in the script through its include path.
set_property(SOURCE ${RQ_RESOURCE_SCRIPT} APPEND PROPERTY INCLUDE_DIRECTORIES ${RQ_ICON_DIR})
set_property(SOURCE ${RQ_RESOURCE_SCRIPT} APPEND PROPERTY OBJECT_DEPENDS ${RQ_ICONS})
# The executables carry the version resource (src/platform/version.rc).
if(TARGET rq-m4x-send)
  target_sources(rq-m4x-send PRIVATE ${CMAKE_SOURCE_DIR}/tools/rq_m4x_send.rc)
endif()
if(TARGET rq-m4x-sim)
  target_sources(rq-m4x-sim PRIVATE ${CMAKE_SOURCE_DIR}/tools/rq_m4x_sim.rc)
  # A console program, though the toolkit's flags ask for a windowed one: it
  # prints its address and messages, and Ctrl-C stops it.
  target_link_libraries(rq-m4x-sim PRIVATE -Wl,--subsystem,console)
endif()

# ---- the zip: executables beside Modes\, img\, locale\ and fonts\ ----
set(RQ_PACKAGE_NAME rq-m4x-led-test-${PROJECT_VERSION}-win64)
set(RQ_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package/${RQ_PACKAGE_NAME})
set(RQ_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${RQ_PACKAGE_NAME}.zip)
file(WRITE ${CMAKE_BINARY_DIR}/windows_zip_path "${RQ_PACKAGE_ZIP}\n")

set(RQ_PACKAGE_PROGRAMS rq-m4x-led-test)
foreach(tool rq-m4x-send rq-m4x-sim)
  if(TARGET ${tool})
    list(APPEND RQ_PACKAGE_PROGRAMS ${tool})
  endif()
endforeach()

# The simulator's 16-dot font, which Linux takes from Debian's unifont
# package: here it goes beside the program (fonts\unifont.hex), with its
# copyright file and the licence (GPL 2 or later) that file names. The hex
# file is the font's own source form.
find_file(RQ_UNIFONT_HEX unifont.hex PATHS /usr/share/unifont NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT RQ_UNIFONT_HEX)
  message(FATAL_ERROR "/usr/share/unifont/unifont.hex not found: run scripts/install-deps (unifont)")
endif()
# source, then its name in fonts\
set(RQ_FONT_FILES
  "${RQ_UNIFONT_HEX}:unifont.hex"
  "/usr/share/doc/unifont/copyright:unifont-copyright.txt"
  "/usr/share/common-licenses/GPL-2:GPL-2.txt")
set(RQ_FONT_COPY "")
foreach(entry ${RQ_FONT_FILES})
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 src)
  list(GET parts 1 name)
  list(APPEND RQ_FONT_COPY COMMAND ${CMAKE_COMMAND} -E copy ${src} ${RQ_PACKAGE_DIR}/fonts/${name})
endforeach()
if(TARGET rq-m4x-try)
  list(APPEND RQ_PACKAGE_PROGRAMS rq-m4x-try)
endif()
set(RQ_PACKAGE_COPY "")
foreach(program ${RQ_PACKAGE_PROGRAMS})
  list(APPEND RQ_PACKAGE_COPY
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${RQ_PACKAGE_DIR}/
    COMMAND ${CMAKE_STRIP} --strip-all ${RQ_PACKAGE_DIR}/$<TARGET_FILE_NAME:${program}>)
endforeach()

# The staging folder is made anew each time, so nothing stale goes along.
add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${RQ_PACKAGE_DIR} ${RQ_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RQ_PACKAGE_DIR}
  ${RQ_PACKAGE_COPY}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${RQ_RUNTIME_DIR} ${RQ_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${RQ_PACKAGE_DIR}/Config
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RQ_PACKAGE_DIR}/fonts
  ${RQ_FONT_COPY}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/data/debian/copyright ${RQ_PACKAGE_DIR}/copyright.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${RQ_PACKAGE_ZIP} --format=zip ${RQ_PACKAGE_NAME}
  DEPENDS ${RQ_PACKAGE_PROGRAMS} rq_runtime
  COMMENT "Packing ${RQ_PACKAGE_NAME}.zip"
  VERBATIM)

# ---- the per-user installer ----
include(${CMAKE_CURRENT_LIST_DIR}/WindowsInstaller.cmake)

# ---- programs for the tests under Wine (tests/wine) ----
option(RQ_BUILD_WINE_TESTS "Build the programs the Wine tests run" ON)
set(RQ_GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources, built for Windows here")
if(RQ_BUILD_WINE_TESTS AND EXISTS ${RQ_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${RQ_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/wine-gtest EXCLUDE_FROM_ALL)

  # The serial layer against pseudo-terminals mapped to COM ports.
  add_executable(serial_port_win32_test ${CMAKE_SOURCE_DIR}/tests/wine/serial_port_win32_test.cpp)
  target_link_libraries(serial_port_win32_test PRIVATE rq_platform gtest_main)

  # Finds the running program's window, presses its buttons and reads its log
  # pane, for the smoke test.
  add_executable(rq-wine-driver ${CMAKE_SOURCE_DIR}/tests/wine/wine_driver.cpp)
  target_link_libraries(rq-wine-driver PRIVATE user32)

  add_custom_target(wine_tests ALL DEPENDS serial_port_win32_test rq-wine-driver)

  # The unit and window suites.
  include(${CMAKE_SOURCE_DIR}/cmake/WindowsTests.cmake)
  add_dependencies(wine_tests unit_tests gui_tests)
endif()
