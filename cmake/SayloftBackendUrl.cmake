# The service address is a build setting. A value that is not an absolute http(s) URL without a
# path stops the configuration here, long before anybody runs the application.
function(sayloft_check_backend_url url)
    set(host_re "([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])")
    if(NOT url MATCHES "^https?://${host_re}(:[0-9]+)?$")
        message(FATAL_ERROR
            "SAYLOFT_BACKEND_URL='${url}' is not a service base URL. Give an absolute http:// or "
            "https:// URL with a host, an optional port and no path, query or trailing slash, "
            "for example -DSAYLOFT_BACKEND_URL=https://dictation.example.org")
    endif()
endfunction()
