# The Debian package: the same layout as cmake --install, under /usr.
# cpack installs what scripts/package has built; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORVO_EXECUTABLE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "ORVO developers <support@orvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Records both sides of voice and video calls")
set(CPACK_PACKAGE_DESCRIPTION
    "A tray program that records the microphone and what the computer plays\nthrough a virtual audio device, keeps a searchable catalogue of the\nrecordings, plays and transcribes them.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# What the programs start or read at run time, beyond the libraries they link.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "pkexec, pulseaudio-utils, qt6-qpa-plugins, qt6-wayland, libqt6svg6, qt6-image-formats-plugins, fonts-roboto, pocketsphinx-en-us, libavdevice59, xdg-utils, libglib2.0-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# On removal the driver leaves the running sound servers and its files outside the package go.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/resources/debian/prerm;${PROJECT_SOURCE_DIR}/resources/debian/postrm")
include(CPack)

# Debian's documentation of the package: copyright and the compressed changelog.
set(ORVO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${ORVO_EXECUTABLE})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
file(COPY_FILE ${PROJECT_SOURCE_DIR}/resources/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog)
file(ARCHIVE_CREATE OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    PATHS ${CMAKE_BINARY_DIR}/debian/changelog FORMAT raw COMPRESSION GZip MTIME 0)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${ORVO_DOC_DIR})
