# The package's documents, gzipped as Debian keeps them: a manual page per
# program in share/man/man1 and the Debian changelog. The command-line tools'
# pages are made from their --help at build time (help2man), so an option
# added there reaches the page without an edit; the window and the launcher
# take no options and have pages written by hand.
if(NOT (UNIX AND NOT APPLE) OR CMAKE_CROSSCOMPILING)
  return()
endif()

find_program(RQ_HELP2MAN help2man)
if(NOT RQ_HELP2MAN)
  message(FATAL_ERROR "help2man is missing: scripts/install-deps installs it")
endif()
find_program(RQ_GZIP gzip REQUIRED)

set(RQ_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
set(RQ_MAN_PAGES "")
set(RQ_DOC_OUTPUTS "")

# rq_doc(OUTPUT name SOURCE file | PROGRAM target INCLUDE file)
function(rq_doc)
  cmake_parse_arguments(DOC "" "OUTPUT;SOURCE;PROGRAM;INCLUDE" "" ${ARGN})
  set(output ${RQ_DOC_DIR}/${DOC_OUTPUT})
  set(arguments -DVERSION=${PROJECT_VERSION} -DGZIP=${RQ_GZIP} -DOUTPUT=${output})
  if(DOC_PROGRAM)
    list(APPEND arguments -DHELP2MAN=${RQ_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${DOC_PROGRAM}>
         -DINCLUDE=${DOC_INCLUDE})
    set(depends ${DOC_PROGRAM} ${DOC_INCLUDE})
  else()
    list(APPEND arguments -DSOURCE=${DOC_SOURCE})
    set(depends ${DOC_SOURCE})
  endif()
  add_custom_command(OUTPUT ${output}.gz
    COMMAND ${CMAKE_COMMAND} ${arguments} -P ${CMAKE_SOURCE_DIR}/cmake/MakeDoc.cmake
    DEPENDS ${depends} ${CMAKE_SOURCE_DIR}/cmake/MakeDoc.cmake
    VERBATIM)
  set(RQ_DOC_OUTPUTS ${RQ_DOC_OUTPUTS} ${output}.gz PARENT_SCOPE)
endfunction()

set(man ${CMAKE_SOURCE_DIR}/data/man)
foreach(tool rq-m4x-send rq-m4x-sim)
  if(TARGET ${tool})
    rq_doc(OUTPUT ${tool}.1 PROGRAM ${tool} INCLUDE ${man}/${tool}.h2m)
    list(APPEND RQ_MAN_PAGES ${RQ_DOC_DIR}/${tool}.1.gz)
  endif()
endforeach()
foreach(page rq-m4x-led-test rq-m4x-led-test-launch)
  rq_doc(OUTPUT ${page}.1 SOURCE ${man}/${page}.1.in)
  list(APPEND RQ_MAN_PAGES ${RQ_DOC_DIR}/${page}.1.gz)
endforeach()
rq_doc(OUTPUT changelog.Debian SOURCE ${CMAKE_SOURCE_DIR}/data/debian/changelog)

add_custom_target(rq_docs ALL DEPENDS ${RQ_DOC_OUTPUTS})

install(FILES ${RQ_MAN_PAGES}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${RQ_INSTALL_COMPONENT})
install(FILES ${RQ_DOC_DIR}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${RQ_PACKAGE} COMPONENT ${RQ_INSTALL_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${RQ_PACKAGE}
  COMPONENT ${RQ_INSTALL_COMPONENT})
