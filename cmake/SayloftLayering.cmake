# Build-time guard of the layering. The include rules are checked by cmake/CheckLayering.cmake,
# both as part of every build (target sayloft_layering) and as the test "layering"; the link
# rules of the core and the application logic are checked here, at configure time.

function(sayloft_check_layering)
    # Neither the core nor the application logic may link a desktop library.
    foreach(target sayloft_core sayloft_app)
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(libs ${target} ${property})
            foreach(lib IN LISTS libs)
                if(lib MATCHES "(^|[:/])(Qt[0-9]?|X11|Xi|Xtst|xcb|pulse|dbus|sayloft_linux_)")
                    message(FATAL_ERROR "Layering broken: ${target} links '${lib}'. The core "
                        "links only libcurl, ICU, soxr and nlohmann-json; the application logic "
                        "only the core.")
                endif()
            endforeach()
        endforeach()
    endforeach()

    # The desktop libraries implement the platform interfaces; only the composition root
    # (src/sayloft) links them together with the application logic.
    foreach(target sayloft_linux_qt sayloft_linux_x11 sayloft_linux_wayland sayloft_linux_dbus
                   sayloft_linux_pulse sayloft_linux_portal sayloft_linux_session
                   sayloft_linux_service)
        if(TARGET ${target})
            get_target_property(libs ${target} LINK_LIBRARIES)
            if(libs MATCHES "(^|;)sayloft_app(;|$)")
                message(FATAL_ERROR "Layering broken: ${target} links sayloft_app; only the "
                    "composition root in src/sayloft may.")
            endif()
        endif()
    endforeach()

    add_custom_target(sayloft_layering ALL
        COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake
        COMMENT "Checking the include rules of the layers"
        VERBATIM)
endfunction()
