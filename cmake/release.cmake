# Installation: `cmake --install` puts the program, its manual page and its
# documents under the prefix.

include(GNUInstallDirs)

if(WIN32)
  # The zip unpacks to one folder: the program, with the README, the
  # changelog and the licence beside it as text files with Windows line ends.
  install(TARGETS trailavi RUNTIME DESTINATION .)
  foreach(document README.md:README.txt CHANGELOG.md:CHANGELOG.txt LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" names "${document}")
    list(GET names 0 source)
    list(GET names 1 target)
    configure_file(${PROJECT_SOURCE_DIR}/${source} ${PROJECT_BINARY_DIR}/package/${target}
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/package/${target} DESTINATION .)
  endforeach()
else()
  install(TARGETS trailavi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The manual page, with the project's version filled in, compressed as
  # Debian installs manual pages.
  set(manual ${PROJECT_BINARY_DIR}/man1/trailavi.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/trailavi.1.in ${manual} @ONLY)
  find_program(TRAILAVI_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${manual}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${manual} ${manual}.tmp
    COMMAND ${TRAILAVI_GZIP} -9nf ${manual}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${manual}.tmp.gz ${manual}.gz
    DEPENDS ${manual}
    COMMENT "Compressing the manual page")
  add_custom_target(trailavi_manual ALL DEPENDS ${manual}.gz)
  install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/TEST_.BMP examples/test_.dat DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
