# The Debian package of the programs: `cpack -G DEB` in the build directory. It holds whatever
# `cmake --install` puts in place (the window, the command-line program when it is built, the
# desktop entry and the icons). Run-time dependencies are declared by hand: OpenSSL is loaded
# with dlopen, so no tool would find it, and the Qt X11 platform plugin comes with libqt6gui6.
set(CPACK_PACKAGE_NAME "amazon-sqs")
set(CPACK_PACKAGE_VENDOR "Amazon SQS desktop client developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client for Amazon Simple Queue Service")
set(CPACK_PACKAGE_DESCRIPTION
    "A native window for Amazon SQS: list, create, inspect, reconfigure, purge and delete\n\
queues; send, receive and delete messages. It runs on its own SQS, AWS signing, HTTP,\n\
TCP and TLS layers (OpenSSL loaded at run time, and GnuTLS).")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Amazon SQS desktop client developers <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libgnutls30, libssl3, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")

include(CPack)
