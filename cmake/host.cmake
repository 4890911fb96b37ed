# Host build: product sources compiled unchanged against the simulated
# Windows layer in winsim/. wchar_t is 16-bit as on Windows.
add_compile_options(-fshort-wchar -pthread)
add_link_options(-pthread)

option(ZELPH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ZELPH_SANITIZE)
    # The product is built without RTTI (and so are the tests, through it),
    # which the vptr check needs: it would flag every virtual call GoogleTest
    # makes on a test object.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# GoogleTest from Debian's source package, built with the same flags.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
