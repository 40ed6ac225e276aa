# After CPack built the zip (still in its staging folder): the zip made again
# from the same staged files so that two packs of one commit are the same bytes.
# CPack's archive carries each file's access and change times and takes the
# files in the order the folder lists them; this one has every time set to the
# commit's (SOURCE_DATE_EPOCH, else the commit of the source tree), no extra
# attributes, and the names sorted.
find_program(KAL_ZIP zip)
if(NOT KAL_ZIP)
  message(FATAL_ERROR "zip is missing: bash scripts/setup.sh installs it")
endif()
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C "${CPACK_KAL_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR epoch STREQUAL "")
    message(FATAL_ERROR "No SOURCE_DATE_EPOCH and no commit in ${CPACK_KAL_SOURCE_DIR} to take the file times from")
  endif()
endif()
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE "${CPACK_TOPLEVEL_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT staged)
list(JOIN staged "\n" names)
file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/zip-names.txt" "${names}\n")
foreach(file ${CPACK_PACKAGE_FILES})
  if(file MATCHES "\\.zip$")
    file(REMOVE "${file}")
    # A DOS time is local time: UTC makes it the same on every machine.
    execute_process(COMMAND find "${top}" -exec touch -h -d "@${epoch}" {} +
      WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}" RESULT_VARIABLE failed)
    if(NOT failed)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${KAL_ZIP} -X -D -9 -q "${file}" -@
        INPUT_FILE "${CPACK_TOPLEVEL_DIRECTORY}/zip-names.txt"
        WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}" RESULT_VARIABLE failed)
    endif()
    if(failed)
      message(FATAL_ERROR "zip could not pack ${CPACK_TEMPORARY_DIRECTORY}")
    endif()
  endif()
endforeach()
