# Installing (cmake --install) and the Debian package (make package): the program in bin/, its language
# files, the access include for .res outputs and the examples in share/, a desktop entry, a MIME type for
# project files, the icon and the man page.
# On Windows: a zip with Hexaloom.exe, its language files and Qt's for them beside it, the access include, the
# README and the manual.
if(WIN32)
    install(TARGETS hexaloom RUNTIME DESTINATION .)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/translations/ DESTINATION lang)
    install(FILES ${HEXALOOM_QT_QM_FILES} DESTINATION translations)
    install(FILES ${PROJECT_SOURCE_DIR}/include/Zember_Include.pbi DESTINATION include)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME Hexaloom)
    set(CPACK_PACKAGE_VERSION ${HEXALOOM_VERSION_TEXT})
    set(CPACK_PACKAGE_VENDOR Brannock)
    set(CPACK_PACKAGE_FILE_NAME Hexaloom-${HEXALOOM_VERSION_TEXT}-win64)
    set(CPACK_STRIP_FILES ON)
    include(CPack)
    return()
endif()

include(GNUInstallDirs)
set(hexaloom_share ${CMAKE_INSTALL_DATADIR}/hexaloom)
set(hexaloom_doc ${CMAKE_INSTALL_DATADIR}/doc/hexaloom)

install(TARGETS hexaloom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Start-up looks for bin/../share/hexaloom/lang when there is no lang folder beside the program.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/translations/ DESTINATION ${hexaloom_share}/lang)
install(FILES ${PROJECT_SOURCE_DIR}/include/Zember_Include.pbi DESTINATION ${hexaloom_share}/include)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${hexaloom_doc}/examples PATTERN .gitattributes EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${hexaloom_doc})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${hexaloom_doc}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/tools/purebasic/README.md DESTINATION ${hexaloom_doc}/tools/purebasic)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${packaging}/hexaloom.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/hexaloom-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME hexaloom.xml)
install(FILES ${packaging}/hexaloom.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging}/hexaloom.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes
        RENAME application-x-hexaloom-project.svg)

# The man page carries the version and is installed compressed, as Debian keeps man pages.
configure_file(${packaging}/hexaloom.1.in ${CMAKE_BINARY_DIR}/packaging/hexaloom.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/hexaloom.1.gz
                   COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/packaging/hexaloom.1
                   DEPENDS ${packaging}/hexaloom.1.in VERBATIM)
add_custom_target(hexaloom_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/hexaloom.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/hexaloom.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hexaloom)
set(CPACK_PACKAGE_VERSION ${HEXALOOM_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR Brannock)
set(CPACK_PACKAGE_CONTACT "Hexaloom developers <hexaloom@brannock.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "puts the files a PureBasic program needs into one include or .res file")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Hexaloom packs icons, bitmaps, sounds and other files with none, jCalg1 or zip and writes them as a\n"
    "hexdata include, a binpack include with its pack file, or a Windows resource file, together with the\n"
    "access code that unpacks and checks each file. It has a window, and a command line for build scripts\n"
    "that creates, lists, verifies and extracts outputs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The libraries the program links (Qt, zlib) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)

# The package is built, unpacked into a temporary root and run from there in every test run.
find_program(HEXALOOM_DPKG_DEB dpkg-deb)
if(HEXALOOM_DPKG_DEB)
    add_test(NAME PackageInstall COMMAND ${packaging}/test-package ${CMAKE_BINARY_DIR} ${HEXALOOM_VERSION_TEXT})
    set_tests_properties(PackageInstall PROPERTIES TIMEOUT 300)
endif()
