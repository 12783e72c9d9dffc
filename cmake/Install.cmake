# Installation: the program and its tools into bin/, the data it reads beside
# itself into share/rq-m4x-led-test/, a desktop entry and icon, and a launcher
# that gives each user a working directory of their own. The same rules make
# the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(RQ_PACKAGE rq-m4x-led-test)
set(RQ_PROGRAM rq-m4x-led-test)
set(RQ_INSTALL_COMPONENT rq)
set(RQ_DATA_DESTINATION ${CMAKE_INSTALL_DATADIR}/${RQ_PACKAGE})
# The model a user's first start selects: the one the window has commands for.
set(RQ_DEFAULT_MODEL RQ-M4T)

set(RQ_INSTALL_TARGETS rq-m4x-led-test)
foreach(tool rq-m4x-sim rq-m4x-send)
  if(TARGET ${tool})
    list(APPEND RQ_INSTALL_TARGETS ${tool})
  endif()
endforeach()
install(TARGETS ${RQ_INSTALL_TARGETS}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${RQ_INSTALL_COMPONENT})

# Exactly the files the build assembles in runtime/: nothing a local run left
# there (Config/, a simulator link) can slip into the package.
install(FILES ${RQ_MODE_FILES}
  DESTINATION ${RQ_DATA_DESTINATION}/Modes COMPONENT ${RQ_INSTALL_COMPONENT})
install(FILES ${RQ_IMAGE_FILES}
  DESTINATION ${RQ_DATA_DESTINATION}/img COMPONENT ${RQ_INSTALL_COMPONENT})
foreach(po ${RQ_PO_FILES})
  get_filename_component(langdir ${po} DIRECTORY)
  get_filename_component(lang ${langdir} NAME)
  install(FILES ${RQ_RUNTIME_DIR}/locale/${lang}/Language.mo
    DESTINATION ${RQ_DATA_DESTINATION}/locale/${lang} COMPONENT ${RQ_INSTALL_COMPONENT})
endforeach()

if(UNIX AND NOT APPLE)
  install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/rq-m4x-led-test.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${RQ_INSTALL_COMPONENT})
  install(FILES ${CMAKE_SOURCE_DIR}/data/img/aaaa.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
    RENAME rq-m4x-led-test.png COMPONENT ${RQ_INSTALL_COMPONENT})
  # Its release is the program's version.
  set(RQ_VERSION ${PROJECT_VERSION})
  configure_file(${CMAKE_SOURCE_DIR}/data/desktop/example.telvo.rq_m4x_led_test.metainfo.xml
    ${CMAKE_BINARY_DIR}/example.telvo.rq_m4x_led_test.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/example.telvo.rq_m4x_led_test.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT ${RQ_INSTALL_COMPONENT})

  # The launcher finds the installation from its own place, so one script
  # serves /usr, /usr/local and a tree unpacked anywhere; only the layout
  # below the prefix is configured in.
  file(RELATIVE_PATH RQ_BIN_TO_PREFIX /prefix/${CMAKE_INSTALL_BINDIR} /prefix)
  set(RQ_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(RQ_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR})
  configure_file(${CMAKE_SOURCE_DIR}/scripts/launcher.in
    ${CMAKE_BINARY_DIR}/rq-m4x-led-test-launch @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/rq-m4x-led-test-launch
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${RQ_INSTALL_COMPONENT})
endif()

# Manual pages and the Debian changelog.
include(cmake/Docs.cmake)
# Who holds the rights to each part, in Debian's machine-readable form; the
# Windows zip and installer carry the same file as copyright.txt.
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${RQ_PACKAGE} COMPONENT ${RQ_INSTALL_COMPONENT})

# ---- Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${RQ_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TELVO")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure and test serial-line LED sign controllers")
set(CPACK_PACKAGE_DESCRIPTION
  "RQ-M4x - LED Test sends an LED sign controller its settings over a serial\n\
port, one request/response transaction per button, and shows each exchange\n\
in a colour-coded log with hex dumps and the decoded status. Includes\n\
rq-m4x-send, which sends the same commands from a script, and rq-m4x-sim,\n\
a simulated controller on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only this project's files, whatever install rules dependencies may bring.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${RQ_INSTALL_COMPONENT};/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision: the package carries its own changelog.Debian.gz, whose
# first entry names this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TELVO <support@telvo.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library packages come from the executables; the Chinese interface needs a
# CJK font that no library asks for, and the simulator's signs read GNU
# Unifont's 16-dot glyphs at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, unifont")
include(CPack)

# ---- the package, tested as an operator would meet it ----
if(RQ_BUILD_TESTS AND UNIX AND NOT APPLE)
  add_test(NAME install_package
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/test_package.sh ${CMAKE_BINARY_DIR})
  # It builds the package's programs in a build directory of its own first
  # (build/package-build; ccache makes a second build quick).
  set_tests_properties(install_package PROPERTIES
    LABELS install TIMEOUT 1200 RUN_SERIAL TRUE ENVIRONMENT "NO_AT_BRIDGE=1")
  add_test(NAME install_run_script
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/test_run_script.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install_run_script PROPERTIES LABELS install TIMEOUT 120)
  add_test(NAME install_readme_example
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/test_readme_example.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install_readme_example PROPERTIES LABELS install TIMEOUT 60)
endif()
