# Warnings and sanitizers for every target of the project. Third-party headers are included as
# system headers by their imported targets, so their warnings do not break a -Werror build.

add_compile_options(-Wall -Wextra -Wshadow)
# C++ only: C sources (wayland-scanner's generated protocol code) would warn about them, and a
# -Werror build would fail.
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor;-Wold-style-cast;-Woverloaded-virtual>")
if(SAYLOFT_WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()

if(SAYLOFT_SANITIZERS)
    list(JOIN SAYLOFT_SANITIZERS "," _sayloft_sanitizers)
    add_compile_options(-fsanitize=${_sayloft_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_sayloft_sanitizers})
endif()
