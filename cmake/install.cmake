# The release layout, made by cmake --install (scripts/release runs it):
#   bin/      setupsup.dll, setupsup-call.exe, cbf.exe
#   lib/      libsetupsup.dll.a (MinGW), setupsup.lib (MSVC), setupsup.def,
#             cmake/setupsup/ (find_package(setupsup): setupsup::setupsup)
#   include/  setupsup.h
#   nsis/, inno/, docs/, README.md, LICENSE, CHANGELOG.md
#   SHA256SUMS of every file above.
include(CMakePackageConfigHelpers)

# ld's own import library (the archive artifact of the DLL target) names the
# undecorated symbols and is never installed; the real ones are below.
install(TARGETS setupsup
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib/ld COMPONENT ld-implib EXCLUDE_FROM_ALL)
install(TARGETS setupsup-call cbf RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/lib/libsetupsup.dll.a ${CMAKE_BINARY_DIR}/lib/setupsup.lib DESTINATION lib)
install(FILES ${SETUPSUP_DECORATED_DEF} DESTINATION lib RENAME setupsup.def)
install(FILES ${SETUPSUP_INCLUDE_DIR}/setupsup.h DESTINATION include)

set(package_dir ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_CURRENT_LIST_DIR}/setupsupConfig.cmake.in ${package_dir}/setupsupConfig.cmake @ONLY)
# SameMajorVersion, and only for 32-bit consumers (the version file compares
# the pointer size with this build's).
write_basic_package_version_file(${package_dir}/setupsupConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${package_dir}/setupsupConfig.cmake ${package_dir}/setupsupConfigVersion.cmake
  DESTINATION lib/cmake/setupsup)

# The installer includes and the documentation, as whole folders.
foreach(folder nsis inno docs)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/ DESTINATION ${folder})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION .)

# Last: the checksums of every file this install wrote, as sha256sum -c reads
# them (paths relative to the install folder, sorted).
install(CODE [[
  # A relative --prefix is relative to the current folder.
  get_filename_component(setupsup_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  set(setupsup_files ${CMAKE_INSTALL_MANIFEST_FILES})
  list(SORT setupsup_files)
  set(setupsup_sums "")
  foreach(setupsup_file IN LISTS setupsup_files)
    get_filename_component(setupsup_file "${setupsup_file}" ABSOLUTE)
    if(setupsup_file STREQUAL "${setupsup_root}/SHA256SUMS")
      continue()
    endif()
    file(SHA256 "${setupsup_file}" setupsup_hash)
    file(RELATIVE_PATH setupsup_name "${setupsup_root}" "${setupsup_file}")
    string(APPEND setupsup_sums "${setupsup_hash}  ${setupsup_name}\n")
  endforeach()
  file(WRITE "${setupsup_root}/SHA256SUMS" "${setupsup_sums}")
  message(STATUS "Checksums: ${setupsup_root}/SHA256SUMS")
]])

# The folder name of a release, for scripts/release.
file(WRITE ${CMAKE_BINARY_DIR}/release-name "setupsup-${PROJECT_VERSION}\n")
