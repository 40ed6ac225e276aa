# Run by CPack before it zips what it installed: without a built 64-bit tree the
# package would silently lack bin/x64 and lib/x64.
if(NOT EXISTS "${CPACK_KAL_BUILD64_DIR}/bridge/kal_drv64.dll" OR NOT EXISTS "${CPACK_KAL_BUILD64_DIR}/bridge/kal_drv64.lib")
  message(FATAL_ERROR "The 64-bit tree ${CPACK_KAL_BUILD64_DIR} is not built: run scripts/build64.sh, "
                      "or scripts/package.sh, which builds both trees and the package")
endif()
