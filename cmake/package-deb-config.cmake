# Run by scripts/package-deb.sh (cmake -P): writes the native package's CMake
# configuration, kal_drv-config.cmake and its version file, into OUT.
#   cmake -DOUT=DIR -DTRIPLET=x86_64-linux-gnu -DPRIVATE=/usr/lib/.../kal_drv -DPOINTER_SIZE=8 -P package-deb-config.cmake
include(${CMAKE_CURRENT_LIST_DIR}/project-version.cmake)
include(CMakePackageConfigHelpers)
set(KAL_DEB_TRIPLET ${TRIPLET})
set(KAL_DEB_PRIVATE ${PRIVATE})
configure_file(${CMAKE_CURRENT_LIST_DIR}/kal_drv-config-native.cmake.in ${OUT}/kal_drv-config.cmake @ONLY)
# A consumer of another pointer size must not take the library.
set(CMAKE_SIZEOF_VOID_P ${POINTER_SIZE})
write_basic_package_version_file(${OUT}/kal_drv-config-version.cmake VERSION ${KAL_VERSION}
  COMPATIBILITY SameMajorVersion)
