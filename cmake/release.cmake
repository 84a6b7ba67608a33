# Installation and packages. `cmake --install` puts the program, its manual
# page and its documents under the prefix; cpack makes from the same rules a
# Debian package on Linux and a zip for Windows. Their version is the
# project's. scripts/release makes the released zips itself, from what
# `cmake --install` puts in a folder: cpack's zips hold the build time and
# the builder's user id, so two are never the same.

include(GNUInstallDirs)

# Debian wants a name with an e-mail address ("Name <address>") here.
set(TRAILAVI_PACKAGE_MAINTAINER "trailavi developers <dev@trailavi.invalid>" CACHE STRING
    "Maintainer of the Debian package, as Name <address>")
# A build folder configured before the default had an address keeps the old
# default in its cache; it gets the new one.
if(TRAILAVI_PACKAGE_MAINTAINER STREQUAL "the trailavi developers")
  set_property(CACHE TRAILAVI_PACKAGE_MAINTAINER PROPERTY VALUE "trailavi developers <dev@trailavi.invalid>")
endif()
# The Debian package's own revision, after the program's version: a new
# package of the same program counts it up.
set(TRAILAVI_DEBIAN_REVISION 1 CACHE STRING "Debian revision of the package (VERSION-REVISION)")
set(TRAILAVI_DEBIAN_VERSION ${PROJECT_VERSION}-${TRAILAVI_DEBIAN_REVISION})

if(WIN32)
  # The zip unpacks to one folder: the program, with the README, the
  # changelog, the licence and the manual beside it as text files with
  # Windows line ends, and examples/ with the report the program prints.
  install(TARGETS trailavi RUNTIME DESTINATION .)
  foreach(document README.md:README.txt CHANGELOG.md:CHANGELOG.txt LICENSE:LICENSE.txt
                   examples/report.txt:examples/report.txt)
    string(REPLACE ":" ";" names "${document}")
    list(GET names 0 source)
    list(GET names 1 target)
    configure_file(${PROJECT_SOURCE_DIR}/${source} ${PROJECT_BINARY_DIR}/package/${target}
                   @ONLY NEWLINE_STYLE CRLF)
    get_filename_component(folder ${target} DIRECTORY)
    install(FILES ${PROJECT_BINARY_DIR}/package/${target} DESTINATION ./${folder})
  endforeach()
  install(FILES examples/TEST_.BMP examples/test_.dat DESTINATION examples)
  # The manual page rendered as plain text, where groff is at hand (the
  # release installs it and checks that the zip holds the manual).
  find_program(TRAILAVI_GROFF groff)
  if(TRAILAVI_GROFF)
    set(manual ${PROJECT_BINARY_DIR}/man1/trailavi.1)
    configure_file(${PROJECT_SOURCE_DIR}/docs/trailavi.1.in ${manual} @ONLY)
    set(rendered ${PROJECT_BINARY_DIR}/package/MANUAL.txt)
    add_custom_command(OUTPUT ${rendered}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${TRAILAVI_GROFF} -DPAGE=${manual} -DOUT=${rendered}
              -P ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
      DEPENDS ${manual} ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
      COMMENT "Rendering the manual as text")
    add_custom_target(trailavi_manual_text ALL DEPENDS ${rendered})
    install(FILES ${rendered} DESTINATION .)
  endif()
else()
  install(TARGETS trailavi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The manual page, with the project's version filled in, and the changelog
  # are installed compressed, as Debian installs them.
  find_program(TRAILAVI_GZIP gzip REQUIRED)
  function(trailavi_gzip source target)
    add_custom_command(OUTPUT ${target}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${target}.tmp
      COMMAND ${TRAILAVI_GZIP} -9nf ${target}.tmp
      COMMAND ${CMAKE_COMMAND} -E rename ${target}.tmp.gz ${target}
      DEPENDS ${source}
      COMMENT "Compressing ${target}")
  endfunction()
  set(manual ${PROJECT_BINARY_DIR}/man1/trailavi.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/trailavi.1.in ${manual} @ONLY)
  trailavi_gzip(${manual} ${manual}.gz)
  set(changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
  trailavi_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${changelog})
  # Debian keeps the program's own changelog as changelog.gz and the
  # package's, in its own format, as changelog.Debian.gz: one entry for this
  # version, dated from SOURCE_DATE_EPOCH where it is set (the release sets
  # it from the last commit), so that the package comes out the same again.
  string(TIMESTAMP TRAILAVI_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.Debian.in ${PROJECT_BINARY_DIR}/doc/changelog.Debian @ONLY)
  set(debian_changelog ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz)
  trailavi_gzip(${PROJECT_BINARY_DIR}/doc/changelog.Debian ${debian_changelog})
  set(readme ${PROJECT_BINARY_DIR}/doc/README.md.gz)
  trailavi_gzip(${PROJECT_SOURCE_DIR}/README.md ${readme})
  add_custom_target(trailavi_documents ALL DEPENDS ${manual}.gz ${changelog} ${debian_changelog} ${readme})
  install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  install(FILES ${readme} ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/TEST_.BMP examples/test_.dat examples/report.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  # What only a Debian package holds: the package's own changelog and its
  # lintian override. `cmake --install` leaves them out; cpack asks for them.
  install(FILES ${debian_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES cmake/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME trailavi
          COMPONENT debian EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME trailavi)
set(CPACK_PACKAGE_VENDOR "the trailavi developers")
set(CPACK_PACKAGE_CONTACT "${TRAILAVI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lays a trail of points into a picture and writes it as a video")
# Debian's long description: lines that fit a terminal.
set(CPACK_PACKAGE_DESCRIPTION [[
trailavi reads a background bitmap, TEST_.BMP, and a list of points,
test_.dat, from the current directory and writes TEST01_.AVI: an
uncompressed 30 fps video in which each frame shows the background with
every point given so far darkened into it. It prints a fixed report of its
inputs, and its exit status names the check that failed, if any.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# The Windows programs that ship are stripped as they are linked
# (cmake/release-flags.cmake).
if(NOT WIN32)
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME trailavi-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME trailavi-${PROJECT_VERSION}-win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  # One package of everything `cmake --install` installs and of the
  # Debian-only component.
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};trailavi;Unspecified;/;${PROJECT_BINARY_DIR};trailavi;debian;/")
  # trailavi_VERSION-REVISION_ARCH.deb, the architecture as dpkg names it.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${TRAILAVI_DEBIAN_REVISION})
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries' packages, with the versions the program needs, as
  # dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS ffmpeg)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-project-config.cmake)
endif()

include(CPack)
