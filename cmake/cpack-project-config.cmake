# Read by cpack for each generator it runs.
#
# Without dpkg-shlibdeps (package dpkg-dev) and file, CPack's Debian
# generator quietly writes a package that declares no dependencies; such a
# package installs on a machine that lacks the C++ runtime and then fails to
# start. Refuse to make it.
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(tool dpkg-shlibdeps file)
    find_program(TRAILAVI_CPACK_${tool} ${tool})
    if(NOT TRAILAVI_CPACK_${tool})
      message(FATAL_ERROR
        "trailavi: the Debian package needs ${tool} to declare its dependencies; "
        "install it with: scripts/install-deps release")
    endif()
  endforeach()
endif()

# Debian's tools reject a Maintainer without an address; a build configured
# before it had one keeps the old value in its cache.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGE_CONTACT MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR
    "trailavi: the Debian package's maintainer is '${CPACK_PACKAGE_CONTACT}', not 'Name <address>'; "
    "set it with cmake -DTRAILAVI_PACKAGE_MAINTAINER='Name <address>'")
endif()
