# Warnings and sanitizers for every target of the project. Third-party headers are included as
# system headers by their imported targets, so their warnings do not break a -Werror build.

add_compile_options(-Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
if(SAYLOFT_WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()

if(SAYLOFT_SANITIZERS)
    list(JOIN SAYLOFT_SANITIZERS "," _sayloft_sanitizers)
    add_compile_options(-fsanitize=${_sayloft_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_sayloft_sanitizers})
endif()
