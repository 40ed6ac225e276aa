# The 64-bit build tree: kal_drv64.dll, the 64-bit kalsay, the bridge's tests and bench.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run64;${CMAKE_BINARY_DIR}/wineprefix")
set(KAL_BUILD32_DIR "${CMAKE_SOURCE_DIR}/build" CACHE PATH
    "The 32-bit build tree that holds kal_drv.dll, kal_host32.exe and the simulated engine")

# The 32-bit pieces, copied to the same places in this tree, so that the test
# hosts find them where the 32-bit tests do.
set(BITS32_FILES driver/kal_drv.dll host32/kal_host32.exe simengine/nalvoapi.dll simengine/nalvoapi_missing.dll
    simengine/notalib.dll simengine/simengine.ini)
set(BITS32_OUTPUTS)
foreach(file ${BITS32_FILES})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${KAL_BUILD32_DIR}/${file} ${CMAKE_BINARY_DIR}/${file}
    DEPENDS ${KAL_BUILD32_DIR}/${file}
    COMMENT "Copying the 32-bit ${file} from ${KAL_BUILD32_DIR}")
  list(APPEND BITS32_OUTPUTS ${CMAKE_BINARY_DIR}/${file})
endforeach()
add_custom_target(bits32 ALL DEPENDS ${BITS32_OUTPUTS})

add_subdirectory(bridge)
add_subdirectory(kalsay)
add_dependencies(kalsay bits32)

enable_testing()
add_subdirectory(tests/bridge)

include(cmake/version.cmake)
kal_version_resource(kal_drv64 kal_drv64.dll "kal_drv bridge for 64-bit hosts")
kal_version_resource(kalsay kalsay.exe "kalsay, a command-line host of kal_drv")

# kal_drv64.lib for toolchains that do not read the mingw import library; made
# in its folder, so that its members are not named after the build machine's path.
find_program(KAL_DLLTOOL64 NAMES x86_64-w64-mingw32-dlltool REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bridge/kal_drv64.lib
  COMMAND ${KAL_DLLTOOL64} -d ${CMAKE_SOURCE_DIR}/bridge/kal_drv64.def -l kal_drv64.lib -D kal_drv64.dll
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bridge
  DEPENDS ${CMAKE_SOURCE_DIR}/bridge/kal_drv64.def
  COMMENT "Import library kal_drv64.lib from kal_drv64.def")
add_custom_target(kal_drv64_lib ALL DEPENDS ${CMAKE_BINARY_DIR}/bridge/kal_drv64.lib)

# The release's 64-bit half (the "release" component, cmake/install.cmake), into
# the same prefix as the 32-bit tree's. kal_drv64.dll needs kal_host32.exe and
# kal_drv.dll beside it, which come from bin/x86: bin/x64/README.txt says so.
install(TARGETS kal_drv64 RUNTIME DESTINATION bin/x64 COMPONENT release ARCHIVE DESTINATION lib/x64 COMPONENT release)
install(TARGETS kalsay RUNTIME DESTINATION bin/x64 COMPONENT release)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/bin-x64-README.txt DESTINATION bin/x64 RENAME README.txt COMPONENT release)
install(FILES ${CMAKE_BINARY_DIR}/bridge/kal_drv64.lib ${CMAKE_SOURCE_DIR}/bridge/kal_drv64.def
  DESTINATION lib/x64 COMPONENT release)
