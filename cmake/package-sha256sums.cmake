# After CPack built the package (still in its staging folder, copied out after
# this): SHA256SUMS in the package folder, in the format sha256sum -c reads.
set(sums "")
foreach(file ${CPACK_PACKAGE_FILES})
  file(SHA256 ${file} hash)
  get_filename_component(name ${file} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
