# The program reads Modes/, img/ and locale/ relative to its working directory.
# The build assembles such a directory, runtime/, beside the executable.
set(RQ_RUNTIME_DIR ${CMAKE_BINARY_DIR}/runtime)

file(GLOB RQ_MODE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/Modes/*)
file(GLOB RQ_IMAGE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/img/*)
file(GLOB RQ_PO_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/locale/*/Language.po)

find_program(MSGFMT_EXECUTABLE msgfmt REQUIRED)

set(RQ_RUNTIME_OUTPUTS "")
foreach(src ${RQ_MODE_FILES})
  get_filename_component(name ${src} NAME)
  set(dst ${RQ_RUNTIME_DIR}/Modes/${name})
  add_custom_command(OUTPUT ${dst} COMMAND ${CMAKE_COMMAND} -E copy ${src} ${dst} DEPENDS ${src})
  list(APPEND RQ_RUNTIME_OUTPUTS ${dst})
endforeach()
foreach(src ${RQ_IMAGE_FILES})
  get_filename_component(name ${src} NAME)
  set(dst ${RQ_RUNTIME_DIR}/img/${name})
  add_custom_command(OUTPUT ${dst} COMMAND ${CMAKE_COMMAND} -E copy ${src} ${dst} DEPENDS ${src})
  list(APPEND RQ_RUNTIME_OUTPUTS ${dst})
endforeach()
foreach(po ${RQ_PO_FILES})
  get_filename_component(langdir ${po} DIRECTORY)
  get_filename_component(lang ${langdir} NAME)
  set(mo ${RQ_RUNTIME_DIR}/locale/${lang}/Language.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${RQ_RUNTIME_DIR}/locale/${lang}
    COMMAND ${MSGFMT_EXECUTABLE} --check-format -o ${mo} ${po}
    DEPENDS ${po})
  list(APPEND RQ_RUNTIME_OUTPUTS ${mo})
endforeach()

add_custom_target(rq_runtime ALL DEPENDS ${RQ_RUNTIME_OUTPUTS})
add_dependencies(rq-m4x-led-test rq_runtime)
