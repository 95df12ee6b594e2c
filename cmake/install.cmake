# What `cmake --install` puts where, and the packages CPack builds from it:
#   Linux:   bin/ (tarnix, tarnix-service, tarnix-check, tarnix-fleet, tarnix-ports,
#            tarnix-module),
#            share/man/man1/ (every docs/man/*.1),
#            share/doc/tarnix/ (README.md, examples/), the bash completion; cpack gives the
#            Debian package tarnix_<version>_<arch>.deb.
#   Windows: tarnix.exe, tarnix-service.exe, the bench programs tarnix-check.exe,
#            tarnix-fleet.exe (which starts the tarnix.exe beside it) and tarnix-ports.exe, README.txt (CR LF) and
#            examples\ side by side;
#            cpack gives tarnix-<version>-win32.zip.
include(GNUInstallDirs)

if(WIN32)
    install(TARGETS tarnix tarnix-service tarnix-check tarnix-fleet tarnix-ports
        RUNTIME DESTINATION .)
    # Notepad of older Windows shows LF-only text as one line.
    configure_file(${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/README.txt @ONLY
        NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION .)
else()
    # tarnix-module comes along: the module to try the programs and scripts on without hardware.
    install(TARGETS tarnix tarnix-service tarnix-check tarnix-fleet tarnix-ports tarnix-module
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # Every page in docs/man: the pages of later programs come along without an edit here.
    file(GLOB TARNIX_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
    install(FILES ${TARNIX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})
    include(${CMAKE_CURRENT_LIST_DIR}/bash_completion.cmake)
endif()

set(CPACK_PACKAGE_NAME tarnix)
set(CPACK_PACKAGE_VENDOR "Kelvra GmbH")
set(CPACK_PACKAGE_CONTACT "Kelvra Tarnix maintainers <tarnix@kelvra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "loads configuration updates into device modules over an RS-232 line")
# One string; its line breaks are kept as the lines of the package's long description.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "tarnix sends a configuration update (an Intel HEX update file with a checked\n"
    "header, or a plain text file line by line) to a device module over a serial\n"
    "line at 115200 baud, command by command, each acknowledged by the module.\n"
    "tarnix-service runs the module's service operations (information queries,\n"
    "status, parameter, result byte, primary configuration download).\n"
    "tarnix-module plays the module on a pseudo-terminal, so that the programs and\n"
    "the scripts built on them can be tried without hardware.\n"
    "tarnix-ports lists the serial ports and USB serial adapters of the machine.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_PACKAGE_FILE_NAME tarnix-${PROJECT_VERSION}-win64)
    else()
        set(CPACK_PACKAGE_FILE_NAME tarnix-${PROJECT_VERSION}-win32)
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
