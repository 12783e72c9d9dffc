# The unit and window test suites built for Windows, run under Wine by
# tests/wine/run-suites.sh. Included from cmake/Windows.cmake once GoogleTest
# is there (targets gtest, gtest_main).
#
# The same sources as on Linux, less the tests that are Linux by nature:
#   serial_port_test.cpp   the POSIX serial port over termios and openpty
#                          (the Windows port has tests/wine/serial_port_win32_test.cpp)
#   sim_test.cpp           the simulated controller itself, a Linux program
# and, inside other files, the cases under "#ifndef _WIN32" (fork-and-kill
# crashes, /dev scans, stable adapter names under /dev/serial/by-id, the
# dialout hint, the immutable-file flag, colours on a pseudo-terminal).
set(RQ_LINUX_ONLY_TESTS serial_port_test.cpp sim_test.cpp)

file(GLOB RQ_WIN_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
list(FILTER RQ_WIN_SUPPORT_SOURCES EXCLUDE REGEX ".*_posix\\.cpp$")
add_library(rq_win_test_support STATIC ${RQ_WIN_SUPPORT_SOURCES})
target_include_directories(rq_win_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(rq_win_test_support PUBLIC gtest rq_config)
# Wine shows the Linux file system as drive Z:.
target_compile_definitions(rq_win_test_support PUBLIC
  RQ_RUNTIME_DIR="Z:${RQ_RUNTIME_DIR}"
  RQ_SOURCE_DIR="Z:${CMAKE_SOURCE_DIR}")
add_dependencies(rq_win_test_support rq_runtime)

foreach(suite unit gui)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${suite}/*.cpp)
  foreach(name ${RQ_LINUX_ONLY_TESTS})
    list(FILTER sources EXCLUDE REGEX ".*/${name}$")
  endforeach()
  add_executable(${suite}_tests ${sources})
  target_link_libraries(${suite}_tests PRIVATE rq_win_test_support)
endforeach()
target_link_libraries(unit_tests PRIVATE rq_cli rq_serial rq_config rq_protocol rq_platform)
# The JSON records are read back with the library that writes them.
target_include_directories(unit_tests PRIVATE ${CMAKE_BINARY_DIR}/json-include)
# rq-m4x-send.exe, run by the tests as a program (as Wine sees its path).
target_compile_definitions(unit_tests PRIVATE RQ_SEND_EXECUTABLE="Z:$<TARGET_FILE:rq-m4x-send>")
add_dependencies(unit_tests rq-m4x-send)
# Its version resource is read back as Explorer reads it.
target_link_libraries(unit_tests PRIVATE version)
target_link_libraries(gui_tests PRIVATE rq_cli rq_ui)
# The named icons come from the executable's resources on Windows.
target_sources(gui_tests PRIVATE ${RQ_RESOURCE_SCRIPT})
