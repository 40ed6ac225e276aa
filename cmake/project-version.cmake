# For builds that are projects of their own (native/): the one version, read
# from the top-level project() line, as KAL_VERSION ("1.0.0") and
# KAL_VERSION_MAJOR, _MINOR, _PATCH. A shared library's soname takes
#   set_target_properties(lib PROPERTIES VERSION ${KAL_VERSION} SOVERSION ${KAL_VERSION_MAJOR})
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" kal_project_line
     REGEX "^project\\(kal_drv VERSION [0-9]+\\.[0-9]+\\.[0-9]+")
if(NOT kal_project_line MATCHES "VERSION (([0-9]+)\\.([0-9]+)\\.([0-9]+))")
  message(FATAL_ERROR "No project(kal_drv VERSION x.y.z ...) line in ${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt")
endif()
set(KAL_VERSION ${CMAKE_MATCH_1})
set(KAL_VERSION_MAJOR ${CMAKE_MATCH_2})
set(KAL_VERSION_MINOR ${CMAKE_MATCH_3})
set(KAL_VERSION_PATCH ${CMAKE_MATCH_4})
unset(kal_project_line)
