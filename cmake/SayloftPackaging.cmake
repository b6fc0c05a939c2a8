# The Debian package: `cpack --config <build>/CPackConfig.cmake` (scripts/package does it) makes
# sayloft_<version>_<arch>.deb from what `cmake --install` installs, with the prefix /usr:
# sayloft, sayloft-cli and sayloft-server in /usr/bin, the desktop entry, the icons, the autostart
# entry the user may enable, the help page, and the server's systemd user unit.

set(SAYLOFT_PACKAGE_MAINTAINER "Sayloft maintainers <maintainers@sayloft.example>" CACHE STRING
    "Maintainer field of the Debian package")

# The help page the application opens when the desktop needs something from the user.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/packaging/help/"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sayloft/help FILES_MATCHING PATTERN "*.html")

# The server's systemd user unit, written at install time so that its ExecStart names the
# sayloft-server of this installation (/usr/bin in the package, /usr/local/bin by default).
# lib/systemd/user under the prefix is where systemd looks for units of the distribution
# (/usr/lib/systemd/user) and of the administrator (/usr/local/lib/systemd/user).
install(CODE "set(SAYLOFT_UNIT_SOURCE \"${PROJECT_SOURCE_DIR}/packaging/systemd/sayloft-server.service\")
set(SAYLOFT_UNIT_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(SAYLOFT_UNIT_STAGED \"${PROJECT_BINARY_DIR}/packaging/sayloft-server.service\")")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/InstallUserUnit.cmake")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sayloft)
set(CPACK_PACKAGE_VENDOR Sayloft)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${SAYLOFT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hold-to-talk dictation for the Linux desktop")
set(CPACK_PACKAGE_DESCRIPTION "Hold one modifier key (Right Alt unless you choose another), speak,
let go: what you said is transcribed and typed at the cursor of the application that has the
focus. A tray icon shows the state; a small panel shows when it listens and transcribes.
Recordings go to sayloft-server, the transcription service included in this package, which runs
on this computer with a built-in speech recogniser, so nothing leaves the machine.
Works on X11 sessions and on Wayland sessions (fully on sway and other wlroots compositors).")
# /usr is both the install prefix inside the package and the one the install scripts see, so that
# what is written at install time (the unit's ExecStart) names the installed programs.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The ci preset builds with debug information; the package never carries it.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")
set(CPACK_OUTPUT_FILE_PREFIX "")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SAYLOFT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link (Qt, libcurl, ICU, libpulse, pocketsphinx...) are found
# by dpkg-shlibdeps; added to them, what is loaded or read at run time only:
#   qt6-wayland             Qt's Wayland platform plugin: the tray menu on a Wayland session
#                           without Xwayland (Qt aborts without it when it chooses Wayland)
#   libqt6svg6              the SVG icon engine and image format plugins: the tray icons are SVG
#   fonts-noto-color-emoji  the emoji of the panel ("🎤 Listening…", "⏳ Transcribing…")
#   fonts-wqy-microhei      the Chinese texts of the panel and the menu
#   pocketsphinx-en-us      the US English model of sayloft-server's built-in recogniser
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-wayland, libqt6svg6, fonts-noto-color-emoji, fonts-wqy-microhei, pocketsphinx-en-us")
# On a Wayland session Xwayland carries the panel, and on KDE Plasma and GNOME the typing too.
# xdg-utils: xdg-mime tells whether the desktop has an installer for a downloaded update.
# espeak-ng: the pronunciations of the user's own words (sayloft-cli words) for the built-in
# recogniser; without it those words are reported and left out.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xwayland, xdg-utils, espeak-ng")
# GNOME shows no tray icons without this extension (Sayloft still dictates without one).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")

include(CPack)
