# The toolkit's one version number is the top-level project's. Code reads it from a generated header
# (target qb_version); the packages, the library's SONAME and the Windows version resource take it
# from PROJECT_VERSION.
configure_file(${PROJECT_SOURCE_DIR}/packaging/qb7720_version.h.in
  ${PROJECT_BINARY_DIR}/generated/qb7720_version.h @ONLY)
add_library(qb_version INTERFACE)
target_include_directories(qb_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
if(WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/QB7720DLL.rc.in ${PROJECT_BINARY_DIR}/generated/QB7720DLL.rc @ONLY)
endif()
