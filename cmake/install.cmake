# The host integrator's kit: `cmake --install <build> --prefix DIR` lays out
#   bin/      kal_drv.dll, kalsay.exe, and the simulated engine to try them with;
#             kal_host32.exe, the helper of 64-bit hosts (kal_drv64.dll and
#             kalsay64.exe come from the 64-bit tree's install into the same prefix)
#   include/  kal_drv.h
#   lib/      libkal_drv.dll.a (mingw) and kal_drv.lib (other toolchains)
#   docs/     integration.md
#   kal.ini.sample
install(TARGETS kal_drv RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES ${CMAKE_BINARY_DIR}/driver/kal_drv.lib DESTINATION lib)
install(TARGETS kalsay RUNTIME DESTINATION bin)
install(TARGETS kal_host32 RUNTIME DESTINATION bin)
if(TARGET simengine)
  install(FILES $<TARGET_FILE:simengine> ${CMAKE_BINARY_DIR}/simengine/simengine.ini DESTINATION bin)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/include/kal_drv.h DESTINATION include)
install(FILES ${CMAKE_SOURCE_DIR}/kal.ini.sample DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/docs/integration.md DESTINATION docs)
