# cmake -P script: writes one gzipped document of the package.
#   PROGRAM  a program whose --help becomes a manual page (help2man, with the
#            include file INCLUDE), or
#   SOURCE   a file taken as it is, @RQ_VERSION@ replaced by VERSION;
#   OUTPUT   the file to write; OUTPUT.gz is made beside it.
# gzip -9n: no name or time stamp inside, so rebuilding changes nothing.
get_filename_component(directory ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${directory})
if(PROGRAM)
  execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION} --include=${INCLUDE}
            --output=${OUTPUT} ${PROGRAM}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed on ${PROGRAM}")
  endif()
  # help2man makes only "Options:" a section of its own; the command list and
  # the exit statuses are where readers of a manual page look for sections.
  file(READ ${OUTPUT} page)
  string(REGEX REPLACE "\n\\.SS \"Commands[^\"\n]*:\"\n" "\n.SH COMMANDS\n" page "${page}")
  string(REGEX REPLACE "\n\\.SS \"Exit status:\"\n" "\n.SH \"EXIT STATUS\"\n" page "${page}")
  # Command lines of the help's examples stay one per line.
  string(REGEX REPLACE "\n\\.IP\n((rq\\\\-m4x\\\\-[^\n]*\n)+)" "\n.PP\n.nf\n.RS\n\\1.RE\n.fi\n"
         page "${page}")
  file(WRITE ${OUTPUT} "${page}")
else()
  set(RQ_VERSION ${VERSION})
  configure_file(${SOURCE} ${OUTPUT} @ONLY)
endif()
execute_process(COMMAND ${GZIP} -9n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUTPUT}")
endif()
