# Writes the manual page foldra(1) from the program's own option definitions (the hidden option
# --manual-page), as a plain page for `man -l` and compressed for installing.
#   cmake -DPROGRAM=.../foldra -DOUTPUT=.../foldra.1 -P manual.cmake
execute_process(COMMAND ${PROGRAM} --manual-page
  OUTPUT_FILE ${OUTPUT}.new RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${OUTPUT}.new)
  message(FATAL_ERROR "${PROGRAM} --manual-page failed: ${failed}")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
# -n leaves out the name and time, so that the same page compresses to the same bytes.
execute_process(COMMAND gzip -9 -n -f -k ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip ${OUTPUT} failed: ${failed}")
endif()
