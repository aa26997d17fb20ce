# Installation and the Debian package.
#
#   cmake --install build [--prefix DIR]     installs to the GNU directories
#   cd build && cpack -G DEB                 builds scanoutsnap_<ver>_<arch>.deb
#
# The package's dependencies are computed by dpkg-shlibdeps from the
# executable's shared libraries, so the libraries of the target architecture
# (arm64 ones through multiarch in a cross build) must be installed.

include(GNUInstallDirs)

set(SCANOUTSNAP_MAINTAINER "The scanoutsnap developers <scanoutsnap@example.org>"
    CACHE STRING "Maintainer of the Debian package (Name <address>)")

set(_pkg_src ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian)
set(_pkg_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_pkg_out})

# Debian wants the manual page and the changelog compressed with gzip -9n
# (best compression, no name or time stamp in the header).
find_program(SCANOUTSNAP_GZIP gzip REQUIRED)
function(_scanoutsnap_gzip source compressed)
  get_filename_component(_plain ${compressed} NAME_WLE)
  add_custom_command(
    OUTPUT ${_pkg_out}/${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_pkg_out}/${_plain}
    COMMAND ${SCANOUTSNAP_GZIP} -9nf ${_pkg_out}/${_plain}
    DEPENDS ${source}
    COMMENT "Compressing ${compressed}"
    VERBATIM)
endfunction()
_scanoutsnap_gzip(${CMAKE_CURRENT_SOURCE_DIR}/doc/scanoutsnap.1 scanoutsnap.1.gz)
_scanoutsnap_gzip(${_pkg_src}/changelog changelog.Debian.gz)
add_custom_target(scanoutsnap_docs ALL
  DEPENDS ${_pkg_out}/scanoutsnap.1.gz ${_pkg_out}/changelog.Debian.gz)

# The copyright file in Debian's machine-readable format, made from LICENSE so
# that the license text has a single source.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE ${_pkg_src}/changelog)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE _license)
if(NOT _license MATCHES "Copyright \\(c\\) ([^\n]+)\n")
  message(FATAL_ERROR "LICENSE has no 'Copyright (c) ...' line")
endif()
set(_copyright_holder ${CMAKE_MATCH_1})
string(FIND "${_license}" "Permission is hereby granted" _grant)
if(_grant LESS 0)
  message(FATAL_ERROR "LICENSE is not the MIT (Expat) license text")
endif()
string(SUBSTRING "${_license}" ${_grant} -1 _license_body)
string(STRIP "${_license_body}" _license_body)
# Continuation lines start with a space; an empty line is written " .".
string(REPLACE "\n\n" "\n.\n" _license_body "${_license_body}")
string(REPLACE "\n" "\n " _license_body "${_license_body}")
file(CONFIGURE OUTPUT ${_pkg_out}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: scanoutsnap
Upstream-Contact: ${SCANOUTSNAP_MAINTAINER}

Files: *
Copyright: ${_copyright_holder}
License: Expat

License: Expat
 ${_license_body}
" @ONLY)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
install(TARGETS scanoutsnap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_pkg_out}/scanoutsnap.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES
  ${CMAKE_CURRENT_SOURCE_DIR}/doc/sudoers.example
  ${_pkg_out}/copyright
  ${_pkg_out}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package. Its version is the project's plus the packaging
# revision, which must match the newest entry of packaging/debian/changelog.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scanoutsnap)
set(CPACK_PACKAGE_VENDOR "The scanoutsnap developers")
set(CPACK_PACKAGE_CONTACT "${SCANOUTSNAP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "screenshot of what the display hardware scans out (DRM/KMS)")
set(CPACK_PACKAGE_DESCRIPTION
  "scanoutsnap saves the picture that the display hardware is showing as an
8-bit RGB PNG file. It reads the framebuffer on screen straight from the
kernel's DRM/KMS interface through libdrm, so it needs no display server and
works on the text console as well as under a compositor.

Linear framebuffers in the XRGB8888, ARGB8888 and RGB565 formats are
captured. Under sudo the file is written with the calling user's rights; a
sudoers example for a service user is included.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SCANOUTSNAP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS sudo)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg's name for the target; without it CPack would take the host's.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  else()
    message(WARNING "No Debian architecture known for "
      "${CMAKE_SYSTEM_PROCESSOR}: set CPACK_DEBIAN_PACKAGE_ARCHITECTURE")
  endif()
endif()

include(CPack)
