# The files the linker and the import-library tools read name the exports by
# hand: kal_drv.def, kal_drv64.def and the native version script. They are
# shipped as they are, so they stay in the source tree; this compares each with
# KAL_EXPORTS (include/kal_exports.h), name by name and in order, and stops the
# configuration when one differs. Editing any of them configures again.
#
# In a project:  include(cmake/exports.cmake)
#                kal_check_export_files(<root> <file>...)
# As a script:   cmake -DROOT=<root> -DFILES=<file;...> -P cmake/exports.cmake
#                (exits with an error when a file differs)

# The exported names of KAL_EXPORTS' rows, in order.
function(kal_export_list root out)
  # Matched within the text: a row's line ends in a backslash, which a list
  # of whole lines would read as escaping the separator.
  file(READ ${root}/include/kal_exports.h text)
  string(REGEX MATCHALL "[ \t]X\\([ \t]*[A-Za-z]+,[ \t]*kal_[A-Za-z_]+," rows "${text}")
  set(names "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^.*(kal_[A-Za-z_]+),$" "\\1" name "${row}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The names a .def file or a version script exports: the lines that hold one
# name and nothing else (a version script's with a semicolon).
function(kal_export_file_names path out)
  file(STRINGS ${path} lines REGEX "^[ \t]+kal_[A-Za-z_]+;?[ \t]*$")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]+(kal_[A-Za-z_]+);?[ \t]*$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(kal_check_export_files root)
  kal_export_list(${root} expected)
  list(LENGTH expected count)
  if(NOT count EQUAL 20)
    message(FATAL_ERROR "include/kal_exports.h: ${count} rows read from KAL_EXPORTS, not 20")
  endif()
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${root}/include/kal_exports.h ${ARGN})
  endif()
  foreach(file IN LISTS ARGN)
    kal_export_file_names(${file} names)
    if(NOT names STREQUAL expected)
      string(REPLACE ";" " " got "${names}")
      string(REPLACE ";" " " want "${expected}")
      message(FATAL_ERROR "${file} exports\n  ${got}\nbut KAL_EXPORTS lists\n  ${want}")
    endif()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND ROOT)
  kal_check_export_files(${ROOT} ${FILES})
endif()
