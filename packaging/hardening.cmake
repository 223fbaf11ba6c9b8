# Builds with the hardening flags that the distribution's dpkg-buildflags gives every Debian package
# (DEB_BUILD_MAINT_OPTIONS=hardening=+all): stack protector, _FORTIFY_SOURCE, format checks, full
# RELRO with -z now. Only those flags are taken; the build type still chooses optimisation and debug
# information. Position-independent executables are the compiler's default on Debian.
# _FORTIFY_SOURCE needs optimisation, so Debug builds go without it, and sanitizer builds go without
# any of them: the sanitizers check more, and differently.
option(KESTRELION_HARDENING "Build with the hardening flags of dpkg-buildflags, when it is there" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(KESTRELION_HARDENING AND DPKG_BUILDFLAGS AND NOT KESTRELION_SANITIZE)
    set(hardening_pattern "^(-fstack-protector|-fstack-clash-protection|-fcf-protection|-D_FORTIFY_SOURCE|-Wformat|-Werror=format-security|-Wl,-z,)")
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                ${DPKG_BUILDFLAGS} --get ${kind}
                        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags INCLUDE REGEX "${hardening_pattern}")
        foreach(flag IN LISTS flags)
            if(kind STREQUAL LDFLAGS)
                add_link_options(${flag})
            elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
                add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
            else()
                add_compile_options(${flag})
            endif()
            list(APPEND KESTRELION_HARDENING_FLAGS ${flag})
        endforeach()
    endforeach()
    message(STATUS "Hardening flags of dpkg-buildflags: ${KESTRELION_HARDENING_FLAGS}")
endif()
