# Runs at install time (install(SCRIPT) from SayloftPackaging.cmake): writes the systemd user unit
# of sayloft-server to <prefix>/lib/systemd/user with ExecStart naming <prefix>/<bindir>/sayloft-server.
# Expects SAYLOFT_UNIT_SOURCE, SAYLOFT_UNIT_BINDIR and SAYLOFT_UNIT_STAGED (a file in the build tree).

file(READ "${SAYLOFT_UNIT_SOURCE}" unit)
set(program "${CMAKE_INSTALL_PREFIX}/${SAYLOFT_UNIT_BINDIR}/sayloft-server")
string(REGEX REPLACE "(^|\n)ExecStart=[^ \n]*sayloft-server" "\\1ExecStart=${program}" installed "${unit}")
if(NOT installed MATCHES "\nExecStart=${program}( |\n)")
    message(FATAL_ERROR "${SAYLOFT_UNIT_SOURCE}: no ExecStart line running sayloft-server")
endif()

file(WRITE "${SAYLOFT_UNIT_STAGED}" "${installed}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user" TYPE FILE FILES "${SAYLOFT_UNIT_STAGED}")
