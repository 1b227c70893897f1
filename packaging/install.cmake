# Installing Tovra: the program with its libraries, guide and pictures in lib/tovra (the program
# finds each of them in its own folder), Tovra on the path, the C headers, the Python package for
# the system's Python, the icon and a desktop entry; and the Debian package CPack builds of it.
include(GNUInstallDirs)
set(TOVRA_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/tovra)
set(TOVRA_PYTHON_DIR lib/python3/dist-packages)

install(TARGETS Tovra Quarn Quarnk TovraMeasure
        RUNTIME DESTINATION ${TOVRA_INSTALL_DIR}
        LIBRARY DESTINATION ${TOVRA_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${PROJECT_SOURCE_DIR}/docs/user-guide.ja.md
        DESTINATION ${TOVRA_INSTALL_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${TOVRA_INSTALL_DIR})
# The mark that tells the program it was installed: its work files then go to the user's data
# folder, never into lib/tovra.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tovra-installed DESTINATION ${TOVRA_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${PROJECT_SOURCE_DIR}/docs/user-guide.ja.md
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovra)
install(FILES ${PROJECT_SOURCE_DIR}/measure/measure_c.h ${PROJECT_SOURCE_DIR}/kernels/quarnk.h
              ${PROJECT_SOURCE_DIR}/imageops/quarn.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovra)
install(FILES ${PROJECT_SOURCE_DIR}/measure/python/tovra_measure/__init__.py
              ${PROJECT_SOURCE_DIR}/measure/python/tovra_measure/__main__.py
        DESTINATION ${TOVRA_PYTHON_DIR}/tovra_measure)
install(FILES ${PROJECT_SOURCE_DIR}/app/shell/icons/tovra.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tovra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Links, relative so that the tree works wherever it is unpacked: the program on the path, the
# measurement library beside the Python package and where other programs' linkers look.
set(link_code [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    foreach(link "bin/Tovra|../@TOVRA_INSTALL_DIR@/Tovra"
                 "@TOVRA_PYTHON_DIR@/tovra_measure/libTovraMeasure.so|../../../tovra/libTovraMeasure.so"
                 "@CMAKE_INSTALL_LIBDIR@/libTovraMeasure.so|tovra/libTovraMeasure.so")
        string(REPLACE "|" ";" parts "${link}")
        list(GET parts 0 name)
        list(GET parts 1 target)
        get_filename_component(folder "${root}/${name}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(CREATE_LINK "${target}" "${root}/${name}" SYMBOLIC)
    endforeach()
]])
string(CONFIGURE "${link_code}" link_code @ONLY)
install(CODE "${link_code}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tovra <tovra-support@tovra.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Image analysis of magnetic domain micrographs")
set(CPACK_PACKAGE_DESCRIPTION
    "Tovra cleans, views and measures grey-scale micrographs of magnetic domains (stripes, mazes, bubbles): filters with undo, histograms, line profiles, a Hough analysis of straight walls, batch scripts, and an automatic measurement of domain widths with standard errors, also for field sweeps and time series, headless and from C or Python.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6svg6 (>= 6.4), qt6-qpa-plugins, qt6-image-formats-plugins, libfftw3-single3, libtiff6, libhdf5-103-1, libqhull-r8.0, fonts-noto-cjk, python3, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pil")
include(CPack)
