# Run by `cmake --install`: writes Kelvara's desktop entry with Exec pointing at
# the installed program, so `xdg-open kelvara://...` starts (or reaches) it.
# Expects KELVARA_DESKTOP_TEMPLATE and KELVARA_BUNDLE_DESTINATION.
set(program "${CMAKE_INSTALL_PREFIX}/${KELVARA_BUNDLE_DESTINATION}/Kelvara.app/Contents/MacOS/Kelvara")
# Quoted argument: a backslash before \ " ` $, "%%" for "%"; then the string
# escape doubles every backslash again.
string(REPLACE "\\" "\\\\" quoted "${program}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "`" "\\`" quoted "${quoted}")
string(REPLACE "$" "\\$" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
set(KELVARA_DESKTOP_EXEC "\"${quoted}\"")
set(applications "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications")
configure_file("${KELVARA_DESKTOP_TEMPLATE}" "${applications}/com.orvane.kelvara.desktop" @ONLY)
message(STATUS "Installing: ${applications}/com.orvane.kelvara.desktop")
# The scheme handler is found through the desktop database; a package build
# (DESTDIR) leaves that to the package's own triggers.
find_program(KELVARA_UPDATE_DESKTOP_DATABASE update-desktop-database)
if(KELVARA_UPDATE_DESKTOP_DATABASE AND "$ENV{DESTDIR}" STREQUAL "")
  execute_process(COMMAND "${KELVARA_UPDATE_DESKTOP_DATABASE}" "${applications}" RESULT_VARIABLE ignored)
endif()
