# The release package: `cmake --build build --target package` writes
# release/kal_drv-<version>.zip and release/SHA256SUMS into this (32-bit) tree.
# It takes the "release" component of both trees, so the 64-bit tree must be
# built first (scripts/package.sh builds both, then the package).
set(KAL_BUILD64_DIR "${CMAKE_SOURCE_DIR}/build64" CACHE PATH
    "The 64-bit build tree whose release component goes into the package")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kal_drv)
set(CPACK_PACKAGE_VENDOR "the kal_drv developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Speech-synthesizer driver for screen readers, 32-bit and 64-bit hosts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kal_drv-${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
# The archive unpacks into kal_drv-<version>/.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};kal_drv;release;/"
  "${KAL_BUILD64_DIR};kal_drv;release;/")
set(CPACK_KAL_BUILD64_DIR ${KAL_BUILD64_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-check64.cmake)
set(CPACK_KAL_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-reproducible.cmake
  ${CMAKE_SOURCE_DIR}/cmake/package-sha256sums.cmake)
# No source package: the repository is the source.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
