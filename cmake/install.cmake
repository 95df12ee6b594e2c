# What `cmake --install` puts where, and the packages CPack builds from it:
#   Linux:   bin/ (tarnix, tarnix-service, tarnix-check, tarnix-fleet, tarnix-module, and
#            tarnix-ports and tarnix-station once their targets exist), share/man/man1/ (every docs/man/*.1, as
#            .1.gz), share/doc/tarnix/ (README.md, examples/, copyright, changelog.gz), the bash
#            completion; cpack gives the Debian package tarnix_<version>_<arch>.deb.
#   Windows: tarnix.exe, tarnix-service.exe, the bench programs tarnix-check.exe and
#            tarnix-fleet.exe (which starts the tarnix.exe beside it), tarnix-ports.exe and
#            tarnix-station.exe once their targets exist (the station's needs
#            TARNIX_HTTPLIB_HEADER_DIR), README.txt (docs/README-windows.txt with CR LF) and examples\ side
#            by side; cpack gives tarnix-<version>-win32.zip.
# Included after every add_subdirectory of the top CMakeLists.txt, so that if(TARGET ...)
# sees every program (tarnix-ports among them).
include(GNUInstallDirs)

if(WIN32)
    install(TARGETS tarnix tarnix-service tarnix-check tarnix-fleet RUNTIME DESTINATION .)
    if(TARGET tarnix-ports)
        install(TARGETS tarnix-ports RUNTIME DESTINATION .)
    endif()
    if(TARGET tarnix-station)
        install(TARGETS tarnix-station RUNTIME DESTINATION .)
        # The exe carries cpp-httplib's code, whose MIT licence asks for its notice alongside.
        if(TARNIX_HTTPLIB_HEADER_DIR AND EXISTS ${TARNIX_HTTPLIB_HEADER_DIR}/LICENSE)
            install(FILES ${TARNIX_HTTPLIB_HEADER_DIR}/LICENSE DESTINATION .
                RENAME cpp-httplib-LICENSE.txt)
        endif()
    endif()
    # The Windows programs carry mingw-w64's winpthreads (the posix thread model), whose
    # licences ask for their notices alongside; Debian's copyright file of mingw-w64 has them.
    set(mingw_copyright /usr/share/doc/mingw-w64-common/copyright)
    if(EXISTS ${mingw_copyright})
        install(FILES ${mingw_copyright} DESTINATION . RENAME mingw-w64-copyright.txt)
    endif()
    # The README for Windows users, in plain text (README.md is Markdown for the Linux side).
    # Notepad of older Windows shows LF-only text as one line.
    configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${CMAKE_BINARY_DIR}/README.txt
        @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION .)
else()
    # tarnix-module comes along: the module to try the programs and scripts on without hardware.
    install(TARGETS tarnix tarnix-service tarnix-check tarnix-fleet tarnix-module
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(TARGET tarnix-ports)
        install(TARGETS tarnix-ports RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
    if(TARGET tarnix-station)
        install(TARGETS tarnix-station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
    # Man pages and the changelog go in gzip-compressed (Debian policy 12.1 and 12.7), made in
    # the build by gzip -9n (reproducible: no name, no time stamp).
    find_program(TARNIX_GZIP gzip)
    if(NOT TARNIX_GZIP)
        message(FATAL_ERROR "gzip not found: it compresses the man pages and the changelog")
    endif()
    set(TARNIX_GZIPPED)
    function(tarnix_gzip input output)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -DGZIP=${TARNIX_GZIP} -DIN=${input} -DOUT=${output}
                -P ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
            DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
            COMMENT "gzip -9n ${input}" VERBATIM)
        set(TARNIX_GZIPPED ${TARNIX_GZIPPED} ${output} PARENT_SCOPE)
    endfunction()
    # Every page in docs/man: the pages of later programs come along without an edit here.
    file(GLOB TARNIX_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
    set(TARNIX_MAN_PAGES_GZ)
    foreach(page ${TARNIX_MAN_PAGES})
        get_filename_component(name ${page} NAME)
        tarnix_gzip(${page} ${CMAKE_BINARY_DIR}/man/${name}.gz)
        list(APPEND TARNIX_MAN_PAGES_GZ ${CMAKE_BINARY_DIR}/man/${name}.gz)
    endforeach()
    # A native package's changelog is changelog.gz (policy 12.7); its top entry is the
    # project's version (scripts/test-package checks that).
    tarnix_gzip(${PROJECT_SOURCE_DIR}/docs/debian/changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
    add_custom_target(tarnix-gzipped-docs ALL DEPENDS ${TARNIX_GZIPPED})
    install(FILES ${TARNIX_MAN_PAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
    # The machine-readable copyright file (DEP-5) Debian wants in every package's doc folder.
    install(FILES ${PROJECT_SOURCE_DIR}/docs/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
    "tarnix-check checks update files as tarnix reads them, without a port, and\n"
    "estimates the time of an update.\n"
    "tarnix-fleet loads one update into the modules on many ports at once, one\n"
    "tarnix per port, with a log per port and a final report.\n"
    "tarnix-ports lists what is connected: serial ports and USB adapters.\n"
    "tarnix-station is a line station: every module that arrives in a watched\n"
    "slot is updated once, recorded in a journal, and shown live on a web page\n"
    "and as Prometheus metrics.\n"
    "tarnix-module plays the module on a pseudo-terminal, so that the programs and\n"
    "the scripts built on them can be tried without hardware.\n"
    "Every program also takes ports reached over the network: rfc2217://HOST:PORT\n"
    "and socket://HOST:PORT.")
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
    # Depends from dpkg-shlibdeps (dpkg-dev), on the libraries the programs link.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Control files with the modes dpkg expects (0644, scripts 0755), whatever the umask.
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
include(CPack)
