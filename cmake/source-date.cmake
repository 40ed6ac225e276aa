# Two builds of one commit give the same driver: its build stamp (__DATE__ and
# __TIME__ in driver/identification.cpp, shown by kal_Info) is the time of the
# commit, not of the build. The time: the environment's SOURCE_DATE_EPOCH, else
# the source tree's last commit; outside a git checkout the compiler's own.
#   kal_source_date_stamp(FILE...)
# A new commit changes the files' compile line, so they are compiled again
# (the build scripts configure before every build).
set(KAL_SOURCE_DATE_ROOT "${CMAKE_CURRENT_LIST_DIR}/..")
function(kal_source_date_stamp)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(epoch STREQUAL "")
    execute_process(COMMAND git -C "${KAL_SOURCE_DATE_ROOT}" log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT epoch MATCHES "^[0-9]+$")
      return()
    endif()
  endif()
  # string(TIMESTAMP) formats SOURCE_DATE_EPOCH when it is set.
  set(saved "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP month "%b" UTC)
  string(TIMESTAMP day "%d" UTC)
  string(TIMESTAMP year "%Y" UTC)
  string(TIMESTAMP time "%H:%M:%S" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  # As the compiler writes it: the day padded with a blank, "Dec  8 2026".
  string(REGEX REPLACE "^0" " " day "${day}")
  set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -Wno-builtin-macro-redefined)
  set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_DEFINITIONS
    "__DATE__=\"${month} ${day} ${year}\"" "__TIME__=\"${time}\"")
endfunction()
