# The Debian package of the programs: `cpack -G DEB` in the build directory. It holds whatever
# `cmake --install` puts in place (the window, the command-line program when it is built, their
# manual pages, the completion script, the desktop entry and the icons) and the package's own
# documents in /usr/share/doc/amazon-sqs. Run-time dependencies are declared by hand: OpenSSL is
# loaded with dlopen, so no tool would find it, and the Qt X11 platform plugin comes with
# libqt6gui6.

# Who makes the package and where it lives: the one place for both (the control file, the
# copyright file and the changelog take them from here). Override them for a release build.
set(BRV_PACKAGE_MAINTAINER "Amazon SQS desktop client developers <amazon-sqs@example.org>"
    CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
set(BRV_PACKAGE_HOMEPAGE "https://example.org/amazon-sqs"
    CACHE STRING "Home page of the programs")

set(CPACK_PACKAGE_NAME "amazon-sqs")
set(CPACK_PACKAGE_VENDOR "Amazon SQS desktop client developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client and command for Amazon SQS")
set(CPACK_PACKAGE_DESCRIPTION
    "A window (amazon-sqs) and a command (sqs) to list, create, inspect, purge and\n\
delete Amazon SQS queues and to send, receive and delete their messages.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${BRV_PACKAGE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libgnutls30, libssl3, libsimdjson14, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")

# /usr/share/doc/amazon-sqs: the copyright file (machine-readable), the changelog (gzipped
# without name or time stamp, as Debian wants it) and the README. The changelog's newest entry
# must name the project's version.
set(doc ${CMAKE_CURRENT_BINARY_DIR}/debian-doc)
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^amazon-sqs \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog.in: the newest entry is not for ${PROJECT_VERSION}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${doc}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc}/changelog @ONLY)
add_custom_command(
  OUTPUT ${doc}/changelog.gz
  COMMAND gzip -9nc ${doc}/changelog > ${doc}/changelog.gz
  DEPENDS ${doc}/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian-doc ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/amazon-sqs)

include(CPack)
