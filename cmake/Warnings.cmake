# Every target of ours calls quendelin_warnings() so that warnings stay on per target and
# third-party code (GoogleTest, Qt's generated files) is not held to our standard.
option(QUENDELIN_WERROR "Treat warnings as errors" OFF)

function(quendelin_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion)
    if(QUENDELIN_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
