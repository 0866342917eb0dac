# The release layout, made by cmake --install (scripts/release runs it for
# the x86 and the x64 build into one folder):
#   x86/, x64/  setupsup.dll, setupsup-call.exe, cbf.exe, libsetupsup.dll.a
#               (MinGW), setupsup.lib (MSVC), setupsup.def: one folder per
#               architecture, one file name, so that LoadLibraryA("setupsup.dll")
#               finds the copy of the caller's architecture beside it
#   include/    setupsup.h
#   lib/cmake/setupsup/  find_package(setupsup): setupsup::setupsup of the
#               consumer's architecture
#   nsis/, inno/, docs/, README.md, LICENSE, CHANGELOG.md, SECURITY.md
#   SHA256SUMS of every file above.
include(CMakePackageConfigHelpers)

# ld's own import library (the archive artifact of the DLL target) names the
# undecorated symbols and is never installed; the real ones are below.
install(TARGETS setupsup
  RUNTIME DESTINATION ${SETUPSUP_ARCH}
  ARCHIVE DESTINATION lib/ld COMPONENT ld-implib EXCLUDE_FROM_ALL)
install(TARGETS setupsup-call cbf RUNTIME DESTINATION ${SETUPSUP_ARCH})
install(FILES ${CMAKE_BINARY_DIR}/lib/libsetupsup.dll.a ${CMAKE_BINARY_DIR}/lib/setupsup.lib
  DESTINATION ${SETUPSUP_ARCH})
install(FILES ${SETUPSUP_DECORATED_DEF} DESTINATION ${SETUPSUP_ARCH} RENAME setupsup.def)
install(FILES ${SETUPSUP_INCLUDE_DIR}/setupsup.h DESTINATION include)

set(package_dir ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_CURRENT_LIST_DIR}/setupsupConfig.cmake.in ${package_dir}/setupsupConfig.cmake @ONLY)
# SameMajorVersion, for consumers of either architecture: the package
# config picks the folder of the consumer's.
write_basic_package_version_file(${package_dir}/setupsupConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${package_dir}/setupsupConfig.cmake ${package_dir}/setupsupConfigVersion.cmake
  DESTINATION lib/cmake/setupsup)

# The installer includes and the documentation, as whole folders.
foreach(folder nsis inno docs)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/ DESTINATION ${folder})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/SECURITY.md DESTINATION .)

# Last: the checksums of every file the folder holds, as sha256sum -c reads
# them (paths relative to the folder, in byte order). The whole folder, not
# this install's files only: the second architecture's install into the same
# folder then covers both.
install(CODE [[
  # A relative --prefix is relative to the current folder.
  get_filename_component(setupsup_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  file(GLOB_RECURSE setupsup_files LIST_DIRECTORIES false RELATIVE "${setupsup_root}" "${setupsup_root}/*")
  list(REMOVE_ITEM setupsup_files SHA256SUMS)
  list(SORT setupsup_files)
  set(setupsup_sums "")
  foreach(setupsup_file IN LISTS setupsup_files)
    file(SHA256 "${setupsup_root}/${setupsup_file}" setupsup_hash)
    string(APPEND setupsup_sums "${setupsup_hash}  ${setupsup_file}\n")
  endforeach()
  file(WRITE "${setupsup_root}/SHA256SUMS" "${setupsup_sums}")
  message(STATUS "Checksums: ${setupsup_root}/SHA256SUMS")
]])

# The folder name of a release, for scripts/release.
file(WRITE ${CMAKE_BINARY_DIR}/release-name "setupsup-${PROJECT_VERSION}\n")
