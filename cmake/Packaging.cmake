# Where `cmake --install` puts the programs, their manual pages and the desktop entry, and the
# Debian package that `cpack -G DEB` makes of the same files.
include(GNUInstallDirs)

install(TARGETS dorvex dorvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/man/dorvex.1 ${CMAKE_SOURCE_DIR}/man/dorvex-cli.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(DORVEX_BUILD_GUI)
    # The entry opens a VOB in the dialog. shared-mime-info files *.vob under video/mpeg.
    install(FILES ${CMAKE_SOURCE_DIR}/res/dorvex.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_SOURCE_DIR}/res/dorvex.xpm DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
endif()

set(DORVEX_PACKAGE_MAINTAINER "Dorvex maintainers <maintainers@dorvex.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clean and repair DVD-Video title sets (VIDEO_TS folders)")
set(CPACK_PACKAGE_DESCRIPTION
    "Dorvex reads the VOB files of a title set pack by pack, drops blank packs
and cells that no program chain plays, renumbers VOB and cell IDs, rewrites
the navigation packs and repairs the IFO files (cell address table, cell
sectors, VOBU address map, time maps, playback times, size fields). It works
from a backup folder or in place. The package holds the Qt dialog dorvex,
which also runs headless, and the command line dorvex-cli.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DORVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps names the packages of the linked libraries (libc6, libstdc++6, libqt6widgets6
# ...). Qt loads its platform plugins at run time, so no linked library shows that need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(DORVEX_BUILD_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
# dorvex-cli runs genisoimage to write a cleaned disc image; everything else works without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "genisoimage")
include(CPack)
