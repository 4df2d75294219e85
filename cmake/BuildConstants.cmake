# The program takes no settings at run time: the library directory and the server account
# are compiled in. A deployment, the demo and the whole-program tests set them here.
if(WIN32)
    set(_default_library_dir "C:\\Program Files\\Brannholt\\Quendelin\\library")
else()
    set(_default_library_dir "${CMAKE_INSTALL_FULL_DATADIR}/quendelin/library")
endif()

set(QUENDELIN_LIBRARY_DIR "${_default_library_dir}" CACHE PATH "Recipe library directory")
set(QUENDELIN_FTP_HOST "ftp.quendelin.de" CACHE STRING "Host name of the shared recipe server")
set(QUENDELIN_FTP_PORT "21" CACHE STRING "FTP port of the shared recipe server")
set(QUENDELIN_FTP_USER "quendelin" CACHE STRING "Account name on the recipe server")
set(QUENDELIN_FTP_PASSWORD "rezepte42" CACHE STRING "Password of that account")

if(NOT QUENDELIN_FTP_PORT MATCHES "^[0-9]+$" OR QUENDELIN_FTP_PORT GREATER 65535)
    message(FATAL_ERROR "QUENDELIN_FTP_PORT must be a port number, not '${QUENDELIN_FTP_PORT}'")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/build_constants.hpp.in
               ${CMAKE_BINARY_DIR}/generated/quendelin/build_constants.hpp @ONLY)

add_library(quendelin_build_constants INTERFACE)
target_include_directories(quendelin_build_constants INTERFACE ${CMAKE_BINARY_DIR}/generated)
