# The bash completion goes where bash-completion looks for it: its pkg-config completionsdir
# (taken relative to bash-completion's own prefix, so that it lands under ours), else the
# usual share/bash-completion/completions. One copy per command name, because bash-completion
# loads completions/<command> when that command is first completed: every installed program
# has its copy (the one file completes them all).
set(TARNIX_BASH_COMPLETION_DIR "" CACHE STRING
    "Where the bash completion is installed, relative to the install prefix")
if(NOT TARNIX_BASH_COMPLETION_DIR)
    set(TARNIX_BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
        pkg_get_variable(TARNIX_BC_DIR bash-completion completionsdir)
        pkg_get_variable(TARNIX_BC_PREFIX bash-completion prefix)
        if(TARNIX_BC_DIR AND TARNIX_BC_PREFIX)
            file(RELATIVE_PATH TARNIX_BASH_COMPLETION_DIR ${TARNIX_BC_PREFIX} ${TARNIX_BC_DIR})
        endif()
    endif()
endif()
set(TARNIX_COMPLETED tarnix tarnix-service tarnix-check tarnix-fleet tarnix-module)
foreach(optional tarnix-ports tarnix-station)
    if(TARGET ${optional})
        list(APPEND TARNIX_COMPLETED ${optional})
    endif()
endforeach()
foreach(command ${TARNIX_COMPLETED})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/completion/tarnix.bash
        DESTINATION ${TARNIX_BASH_COMPLETION_DIR} RENAME ${command})
endforeach()
