# The one version: the top-level project() line. Every shipped binary gets a
# version resource with it (four numbers, a missing one counting as 0), and the
# package is named after it.
set(KAL_VERSION ${PROJECT_VERSION})
set(KAL_VERSION_FOUR)
foreach(part MAJOR MINOR PATCH TWEAK)
  set(value ${PROJECT_VERSION_${part}})
  if("${value}" STREQUAL "")
    set(value 0)
  endif()
  list(APPEND KAL_VERSION_FOUR ${value})
endforeach()

# kal_version_resource(TARGET FILE_NAME DESCRIPTION): FILE_NAME is the file as
# shipped (its OriginalFilename); a .exe gets the application file type.
function(kal_version_resource target file description)
  set(KAL_RC_FILE ${file})
  set(KAL_RC_DESCRIPTION ${description})
  get_filename_component(KAL_RC_INTERNAL ${file} NAME_WE)
  if(file MATCHES "\\.exe$")
    set(KAL_RC_FILE_TYPE VFT_APP)
  else()
    set(KAL_RC_FILE_TYPE VFT_DLL)
  endif()
  list(JOIN KAL_VERSION_FOUR ", " KAL_RC_VERSION_COMMAS)
  list(JOIN KAL_VERSION_FOUR "." KAL_RC_VERSION_DOTS)
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
