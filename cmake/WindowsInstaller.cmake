# The per-user installer (NSIS, data/windows/installer.nsi): the zip's folder
# installed into the user's own programs folder, with a Start-menu shortcut,
# an entry in the list of installed programs and an uninstaller. Included by
# cmake/Windows.cmake after the zip's staging folder is defined.
find_program(RQ_MAKENSIS_EXECUTABLE makensis)
if(NOT RQ_MAKENSIS_EXECUTABLE)
  message(STATUS "makensis not found: no Windows installer (Debian package nsis)")
  return()
endif()

set(RQ_INSTALLER ${CMAKE_BINARY_DIR}/${RQ_PACKAGE_NAME}-setup.exe)
file(WRITE ${CMAKE_BINARY_DIR}/windows_installer_path "${RQ_INSTALLER}\n")

# The zip's files, relative to its folder, grouped by folder: the uninstaller
# removes exactly these, so files the user added stay.
set(files "")
foreach(program ${RQ_PACKAGE_PROGRAMS})
  list(APPEND files ${program}${CMAKE_EXECUTABLE_SUFFIX})
endforeach()
# Who holds the rights to each part (data/debian/copyright), as in the zip.
list(APPEND files copyright.txt)
foreach(src ${RQ_MODE_FILES})
  get_filename_component(name ${src} NAME)
  list(APPEND files Modes/${name})
endforeach()
foreach(src ${RQ_IMAGE_FILES})
  get_filename_component(name ${src} NAME)
  list(APPEND files img/${name})
endforeach()
foreach(po ${RQ_PO_FILES})
  get_filename_component(langdir ${po} DIRECTORY)
  get_filename_component(lang ${langdir} NAME)
  list(APPEND files locale/${lang}/Language.mo)
endforeach()
foreach(entry ${RQ_FONT_FILES})
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 1 name)
  list(APPEND files fonts/${name})
endforeach()

set(install_lines "")
set(remove_lines "")
set(list_lines "")
set(folders "")
set(current_folder "-")
foreach(file ${files})
  get_filename_component(folder ${file} DIRECTORY)
  string(REPLACE "/" "\\" windows_file "${file}")
  if(NOT folder STREQUAL current_folder)
    set(current_folder "${folder}")
    string(REPLACE "/" "\\" windows_folder "${folder}")
    if(folder STREQUAL "")
      string(APPEND install_lines "  SetOutPath \"$INSTDIR\"\n")
    else()
      string(APPEND install_lines "  SetOutPath \"$INSTDIR\\${windows_folder}\"\n")
    endif()
  endif()
  # Bundled profiles may have been edited: they go through macros of the
  # script that compare them with what was installed.
  if(folder STREQUAL "Modes")
    get_filename_component(name ${file} NAME)
    string(APPEND install_lines "  !insertmacro RQ_INSTALL_PROFILE \"${name}\" \"${RQ_PACKAGE_DIR}/${file}\"\n")
    string(APPEND remove_lines "  !insertmacro RQ_REMOVE_PROFILE \"${name}\"\n")
  else()
    string(APPEND install_lines "  File \"${RQ_PACKAGE_DIR}/${file}\"\n")
    string(APPEND remove_lines "  Delete \"$INSTDIR\\${windows_file}\"\n")
  endif()
  string(APPEND list_lines "  FileWrite $0 \"${windows_file}$\\r$\\n\"\n")
  # The folder and those above it, emptied afterwards.
  while(NOT folder STREQUAL "")
    list(APPEND folders "${folder}")
    get_filename_component(folder ${folder} DIRECTORY)
  endwhile()
endforeach()
# Inner folders sort after the folders holding them: reversed, they go first.
list(REMOVE_DUPLICATES folders)
list(SORT folders)
list(REVERSE folders)
foreach(folder ${folders})
  string(REPLACE "/" "\\" windows_folder "${folder}")
  string(APPEND remove_lines "  RMDir \"$INSTDIR\\${windows_folder}\"\n")
endforeach()

set(RQ_INSTALLER_FILES ${CMAKE_BINARY_DIR}/installer-files.nsh)
file(GENERATE OUTPUT ${RQ_INSTALLER_FILES} CONTENT
"; The zip's files, for data/windows/installer.nsi (made by the build).
!macro RQ_INSTALL_FILES
${install_lines}!macroend
!macro RQ_REMOVE_FILES
${remove_lines}!macroend
; Writes the list of installed files to the open file $0.
!macro RQ_WRITE_FILE_LIST
${list_lines}!macroend
")

# uninstall.exe: runs the uninstaller proper and ends with its status.
set(RQ_UNINSTALL_LAUNCHER ${CMAKE_BINARY_DIR}/uninstall-launcher.exe)
add_custom_command(OUTPUT ${RQ_UNINSTALL_LAUNCHER}
  COMMAND ${RQ_MAKENSIS_EXECUTABLE} -V2 -WX
          -DRQ_VERSION_H=${CMAKE_SOURCE_DIR}/src/platform/version.h
          -DRQ_ICON=${RQ_ICON_DIR}/aaaa.ico
          -DRQ_OUTFILE=${RQ_UNINSTALL_LAUNCHER}
          ${CMAKE_SOURCE_DIR}/data/windows/uninstall-launcher.nsi
  DEPENDS ${CMAKE_SOURCE_DIR}/data/windows/uninstall-launcher.nsi ${CMAKE_SOURCE_DIR}/src/platform/version.h
  COMMENT "Making uninstall.exe"
  VERBATIM)

add_custom_target(windows_installer
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RQ_INSTALLER}
  COMMAND ${RQ_MAKENSIS_EXECUTABLE} -V2 -WX
          -DRQ_VERSION_H=${CMAKE_SOURCE_DIR}/src/platform/version.h
          -DRQ_FILES_NSH=${RQ_INSTALLER_FILES}
          -DRQ_ICON=${RQ_ICON_DIR}/aaaa.ico
          -DRQ_DEFAULT_MODEL=${RQ_DEFAULT_MODEL}
          -DRQ_OUTFILE=${RQ_INSTALLER}
          -DRQ_LAUNCHER=${RQ_UNINSTALL_LAUNCHER}
          ${CMAKE_SOURCE_DIR}/data/windows/installer.nsi
  DEPENDS ${CMAKE_SOURCE_DIR}/data/windows/installer.nsi ${RQ_INSTALLER_FILES} ${RQ_UNINSTALL_LAUNCHER}
  COMMENT "Making ${RQ_PACKAGE_NAME}-setup.exe"
  VERBATIM)
add_dependencies(windows_installer windows_zip)
