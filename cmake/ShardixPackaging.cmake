# What `cmake --install` puts beside the programs, and the packages CPack
# makes of it: shardix_VERSION_ARCH.deb on Linux (the command line, its
# manual page and bash completion), Shardix-VERSION-win64.zip on Windows
# (Shardix.exe, help\, cli\shardix.exe). scripts/package.sh makes both.

set(SHARDIX_VERSION ${PROJECT_VERSION})
if(NOT WIN32)
  # The manual page and the changelog, compressed as Debian keeps them.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/shardix.1 ${CMAKE_BINARY_DIR}/packaging/shardix.1 @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
  set(shardix_doc ${CMAKE_INSTALL_DATADIR}/doc/shardix)
  find_program(SHARDIX_GZIP gzip)
  if(SHARDIX_GZIP)
    foreach(page shardix.1 changelog)
      add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${page}.gz
        COMMAND ${SHARDIX_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/${page} > ${CMAKE_BINARY_DIR}/packaging/${page}.gz
        DEPENDS ${CMAKE_BINARY_DIR}/packaging/${page}
        COMMENT "Compressing ${page}")
    endforeach()
    add_custom_target(shardix_man ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz
                                              ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/shardix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${shardix_doc})
  else()
    install(FILES ${CMAKE_BINARY_DIR}/packaging/shardix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog DESTINATION ${shardix_doc})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/shardix.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME shardix)
  # Debian names the licence in the copyright file, which points at
  # /usr/share/common-licenses; the README, the documentation and the
  # example recipes that `shardix scenario --help` points to come along.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${shardix_doc})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/examples DESTINATION ${shardix_doc})
else()
  # Windows programs beside a README and a licence that Notepad opens.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${SHARDIX_INSTALL_BINDIR} RENAME LICENSE.txt)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt ${CMAKE_BINARY_DIR}/packaging/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION ${SHARDIX_INSTALL_BINDIR})
endif()

set(CPACK_PACKAGE_NAME "shardix")
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show, split and gather a file's clusters on an NTFS volume")
set(CPACK_PACKAGE_CONTACT "Quorvane Shardix developers <shardix@quorvane.invalid>")
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
  # ntfs-3g for mkntfs (the demo makes images) and ntfsls (completion
  # inside images). dpkg-shlibdeps adds the libraries the binary links,
  # libntfs-3g among them, each once.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "ntfs-3g")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
  find_program(SHARDIX_SHLIBDEPS dpkg-shlibdeps)
  if(SHARDIX_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    message(WARNING "dpkg-shlibdeps not found (package dpkg-dev): the .deb will not name the libraries it needs")
  endif()
endif()

include(CPack)
