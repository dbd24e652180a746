# Writes the header that names foldra's version and the commit it is built from. Run at every
# build (cmake -P), so that a new commit shows without configuring again; the header is
# rewritten only when its text changes, so that nothing recompiles otherwise.
#   cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P version.cmake
set(built "commit unknown: not built from a git checkout")
find_program(GIT git)
if(GIT)
  # The commit counts only when the sources are the top of a checkout: a source archive
  # unpacked inside some other checkout must not take that checkout's commit.
  execute_process(COMMAND ${GIT} rev-parse --show-toplevel
    WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE top RESULT_VARIABLE failed
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(NOT failed AND top STREQUAL source)
    execute_process(COMMAND ${GIT} rev-parse --short=12 HEAD
      WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE commit RESULT_VARIABLE failed
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed)
      set(built "commit ${commit}")
      execute_process(COMMAND ${GIT} status --porcelain --untracked-files=no
        WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE changes ERROR_QUIET)
      if(NOT changes STREQUAL "")
        string(APPEND built " with local changes")
      endif()
    endif()
  endif()
endif()
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "// Written by app/version.cmake at build time.
#define FOLDRA_VERSION \"${VERSION}\"
#define FOLDRA_BUILT_FROM \"${built}\"
" @ONLY)
