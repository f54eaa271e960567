# What `cmake --install` puts beside the programs, and the packages CPack
# makes of it: shardix_VERSION_ARCH.deb on Linux (the command line, its
# manual page and bash completion), Shardix-VERSION-win64.zip on Windows
# (Shardix.exe, help\, cli\shardix.exe). scripts/package.sh makes both.

if(NOT WIN32)
  # The manual page, compressed as Debian keeps them.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/shardix.1 ${CMAKE_BINARY_DIR}/packaging/shardix.1 @ONLY)
  set(SHARDIX_VERSION ${PROJECT_VERSION})
  find_program(SHARDIX_GZIP gzip)
  if(SHARDIX_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz
      COMMAND ${SHARDIX_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/shardix.1 > ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz
      DEPENDS ${CMAKE_BINARY_DIR}/packaging/shardix.1
      COMMENT "Compressing the manual page")
    add_custom_target(shardix_man ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${CMAKE_BINARY_DIR}/packaging/shardix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/shardix.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME shardix)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/shardix)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${SHARDIX_INSTALL_BINDIR})
endif()

set(CPACK_PACKAGE_NAME "shardix")
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show, split and gather a file's clusters on an NTFS volume")
set(CPACK_PACKAGE_CONTACT "Shardix developers <shardix@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_PACKAGE_FILE_NAME "Shardix-${PROJECT_VERSION}-win64")
else()
  set(CPACK_GENERATOR "DEB")
  find_program(SHARDIX_DPKG dpkg)
  set(shardix_arch "amd64")
  if(SHARDIX_DPKG)
    execute_process(COMMAND ${SHARDIX_DPKG} --print-architecture OUTPUT_VARIABLE shardix_arch
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${shardix_arch}")
  set(CPACK_DEBIAN_FILE_NAME "shardix_${PROJECT_VERSION}_${shardix_arch}.deb")
  set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Shardix shows where one file's clusters lie on an NTFS image or device,
splits the file into N fragments placed by one of four methods, gathers it
back, and reports the whole volume's allocation.")
  # The libntfs-3g package the program was linked with, at the version it
  # was built against, and ntfs-3g for mkntfs (the demo makes images).
  set(shardix_depends "ntfs-3g")
  set(shardix_ntfs3g_so "${SHARDIX_NTFS3G_LIBRARIES}")
  list(FILTER shardix_ntfs3g_so INCLUDE REGEX "libntfs-3g[^/]*$")
  if(SHARDIX_DPKG AND shardix_ntfs3g_so)
    list(GET shardix_ntfs3g_so 0 shardix_ntfs3g_so)
    # By file name: with /lib merged into /usr the package lists another folder.
    get_filename_component(shardix_ntfs3g_so "${shardix_ntfs3g_so}" REALPATH)
    get_filename_component(shardix_ntfs3g_so "${shardix_ntfs3g_so}" NAME)
    execute_process(COMMAND ${SHARDIX_DPKG} -S "*/${shardix_ntfs3g_so}" OUTPUT_VARIABLE shardix_owner
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE shardix_found)
    if(shardix_found EQUAL 0 AND shardix_owner MATCHES "^([^:]+)")
      set(shardix_ntfs3g_package "${CMAKE_MATCH_1}")
      execute_process(COMMAND dpkg-query -W "-f=\${Version}" "${shardix_ntfs3g_package}"
                      OUTPUT_VARIABLE shardix_ntfs3g_version OUTPUT_STRIP_TRAILING_WHITESPACE
                      ERROR_QUIET)
      set(shardix_depends "${shardix_ntfs3g_package} (>= ${shardix_ntfs3g_version}), ${shardix_depends}")
    endif()
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${shardix_depends}")
  # libc and libstdc++ at the versions the binary needs.
  find_program(SHARDIX_SHLIBDEPS dpkg-shlibdeps)
  if(SHARDIX_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()

include(CPack)
