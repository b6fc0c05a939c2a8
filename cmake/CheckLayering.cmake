# Checks the include rules of the layers. Run as a script:
#   cmake -DSOURCE_DIR=<repository> -P cmake/CheckLayering.cmake
# Fails, naming every offending line, when
#   - src/core includes an application, platform or desktop header,
#   - src/platform (outside src/platform/linux) or src/app includes a desktop header,
#   - src/app includes the Linux platform implementation,
#   - src/platform/linux includes the application logic or the composition root (only
#     src/sayloft sees both),
#   - src/server includes anything but the core and itself,
#   - src/cli includes the application logic (beyond HotkeySetting.h, the stored hotkey), the composition
#     root or the service.

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLayering.cmake needs -DSOURCE_DIR=<repository root>")
endif()

set(desktop_headers "<(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/[^>]*|X11/[^>]*|xcb/[^>]*|pulse/[^>]*|dbus/[^>]*|gtk/[^>]*|glib[^>]*|gio/[^>]*|wayland-[^>]*|xkbcommon/[^>]*)>")

set(violations "")

# check_layer(dir forbidden_re why [allowed_re]): an include matching allowed_re is let through.
function(check_layer dir forbidden_re why)
    file(GLOB_RECURSE files LIST_DIRECTORIES false
        "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.hpp" "${SOURCE_DIR}/${dir}/*.cpp")
    foreach(file IN LISTS files)
        if(dir STREQUAL "src/platform" AND file MATCHES "/src/platform/linux/")
            continue()
        endif()
        file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
        foreach(line IN LISTS lines)
            if(ARGC GREATER 3 AND line MATCHES "${ARGV3}")
                continue()
            endif()
            if(line MATCHES "#[ \t]*include[ \t]*${forbidden_re}")
                file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
                string(APPEND violations "  ${rel}: ${line}   (${why})\n")
            endif()
        endforeach()
    endforeach()
    set(violations "${violations}" PARENT_SCOPE)
endfunction()

check_layer(src/core "(${desktop_headers}|\"(app|platform|server|cli)/[^\"]*\")"
    "the core is portable: no desktop, platform or application headers")
check_layer(src/platform "${desktop_headers}"
    "platform interfaces stay free of desktop headers; implementations live in src/platform/linux")
check_layer(src/app "(${desktop_headers}|\"platform/linux/[^\"]*\")"
    "the application logic sees only core and platform interfaces")
check_layer(src/platform/linux "\"(app|sayloft|cli|server)/[^\"]*\""
    "the desktop layer implements the platform interfaces; it never sees the application logic")

check_layer(src/server "(${desktop_headers}|\"(app|platform|sayloft|cli)/[^\"]*\")"
    "the service stands on the core alone")
check_layer(src/cli "\"(app|sayloft|server)/[^\"]*\""
    "the command line links the core and the session probe, not the application or the service"
    "\"app/HotkeySetting\\.h\"")
if(violations)
    message(FATAL_ERROR "Layering broken:\n${violations}")
endif()
