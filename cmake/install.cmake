# The release layout. `cmake --install <build> --prefix DIR` lays out, from this
# 32-bit tree (the 64-bit tree, cmake/bridge64.cmake, adds bin/x64 and lib/x64):
#   bin/x86/   kal_drv.dll, kal_host32.exe (the helper of 64-bit hosts), kalsay.exe
#   include/   kal_drv.h
#   lib/x86/   libkal_drv.dll.a (mingw), kal_drv.lib (other toolchains), kal_drv.def
#   lib/cmake/kal_drv/  the package configuration for find_package(kal_drv)
#   test-engine/ the simulated engine (nalvoapi.dll, simengine.ini) to try the
#              driver with, and a README saying it is no speech engine
#   README.txt, docs/, licenses/, LICENSE, CHANGELOG.md, kal.ini.sample
# All of that is the "release" component, the one the package takes
# (cmake/package.cmake).
include(CMakePackageConfigHelpers)

install(TARGETS kal_drv RUNTIME DESTINATION bin/x86 COMPONENT release ARCHIVE DESTINATION lib/x86 COMPONENT release)
install(FILES ${CMAKE_BINARY_DIR}/driver/kal_drv.lib ${CMAKE_SOURCE_DIR}/driver/kal_drv.def
  DESTINATION lib/x86 COMPONENT release)
install(TARGETS kalsay kal_host32 RUNTIME DESTINATION bin/x86 COMPONENT release)
install(FILES ${CMAKE_SOURCE_DIR}/include/kal_drv.h DESTINATION include COMPONENT release)

# One configuration for both architectures: it picks by the consumer's pointer size.
configure_file(${CMAKE_SOURCE_DIR}/cmake/kal_drv-config.cmake.in ${CMAKE_BINARY_DIR}/package-config/kal_drv-config.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package-config/kal_drv-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/package-config/kal_drv-config.cmake
  ${CMAKE_BINARY_DIR}/package-config/kal_drv-config-version.cmake DESTINATION lib/cmake/kal_drv COMPONENT release)

install(FILES ${CMAKE_SOURCE_DIR}/kal.ini.sample ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  DESTINATION . COMPONENT release)
install(FILES ${CMAKE_SOURCE_DIR}/docs/integration.md ${CMAKE_SOURCE_DIR}/docs/architecture.md
  ${CMAKE_SOURCE_DIR}/docs/performance.md DESTINATION docs COMPONENT release)

# The binaries carry code of the cross toolchain's winpthreads (static) and, in
# kalsay, of CLI11; their licences ask for their notices to travel with them.
# Taken from the build machine's package documentation.
set(KAL_THIRD_PARTY_NOTICES
  "mingw-w64.txt=/usr/share/doc/mingw-w64-common/copyright"
  "CLI11.txt=/usr/share/doc/libcli11-dev/copyright")
foreach(notice ${KAL_THIRD_PARTY_NOTICES})
  string(REPLACE "=" ";" notice "${notice}")
  list(GET notice 0 name)
  list(GET notice 1 source)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${source} is missing: bash scripts/setup.sh installs its package")
  endif()
  install(FILES ${source} DESTINATION licenses RENAME ${name} COMPONENT release)
endforeach()

# In a folder of its own, away from the driver's, so that nobody takes it for an engine.
install(FILES $<TARGET_FILE:simengine> ${CMAKE_BINARY_DIR}/simengine/simengine.ini DESTINATION test-engine COMPONENT release)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/test-engine-README.txt DESTINATION test-engine RENAME README.txt COMPONENT release)
configure_file(${CMAKE_SOURCE_DIR}/cmake/release-README.txt ${CMAKE_BINARY_DIR}/package-config/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package-config/README.txt DESTINATION . COMPONENT release)
