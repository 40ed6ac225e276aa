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
    COMMENT "32-bit ${file} from ${KAL_BUILD32_DIR} (build it there first: scripts/build.sh)")
  list(APPEND BITS32_OUTPUTS ${CMAKE_BINARY_DIR}/${file})
endforeach()
add_custom_target(bits32 ALL DEPENDS ${BITS32_OUTPUTS})

add_subdirectory(bridge)
add_subdirectory(kalsay)
add_dependencies(kalsay bits32)

enable_testing()
add_subdirectory(tests/bridge)

# Into the same prefix as the 32-bit kit: the bridge beside kal_drv.dll and kal_host32.exe.
install(TARGETS kal_drv64 RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(PROGRAMS $<TARGET_FILE:kalsay> DESTINATION bin RENAME kalsay64.exe)
