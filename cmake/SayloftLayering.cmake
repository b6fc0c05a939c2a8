# Build-time guard of the layering. The include rules are checked by cmake/CheckLayering.cmake,
# both as part of every build (target sayloft_layering) and as the test "layering"; the link rule
# of the core is checked here, at configure time.

function(sayloft_check_layering)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property(libs sayloft_core ${property})
        foreach(lib IN LISTS libs)
            if(lib MATCHES "(^|[:/])(Qt[0-9]?|X11|Xi|Xtst|xcb|pulse|dbus)")
                message(FATAL_ERROR "Layering broken: sayloft_core links '${lib}'. "
                    "The core links only libcurl, ICU, soxr and nlohmann-json.")
            endif()
        endforeach()
    endforeach()

    add_custom_target(sayloft_layering ALL
        COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake
        COMMENT "Checking the include rules of the layers"
        VERBATIM)
endfunction()
