# Windows builds (mingw-w64): the shipping programs.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(ZELPH_SUBSYSTEM_VERSION 5.01)
else()
    # The oldest version the 64-bit loader accepts.
    set(ZELPH_SUBSYSTEM_VERSION 5.02)
endif()
string(REPLACE "." ";" _zelph_ver "${ZELPH_SUBSYSTEM_VERSION}")
list(GET _zelph_ver 0 ZELPH_OS_MAJOR)
list(GET _zelph_ver 1 ZELPH_OS_MINOR)

# No build path may reach the images, whichever folder a build runs in
# (__FILE__ in a diagnostic would otherwise carry it).
add_compile_options(
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)

# Link options of the shipped programs:
# - GUI subsystem with the Unicode entry wWinMain (-municode);
# - subsystem and OS version 5.01 (x86) or 5.02 (x64), the Windows
#   versions the programs are written for; the linker would otherwise
#   write 4.0 (and an OS version of 4.0 on x64 too);
# - only DLLs that Windows has: libgcc and libstdc++ linked in, the C
#   runtime is the system's msvcrt.dll;
# - stripped, and no time stamp or build id anywhere in the image, so that
#   two builds of one commit are byte-identical (windres writes a zero time
#   stamp into the resource directory by itself).
add_library(windows_program_options INTERFACE)
target_link_options(windows_program_options INTERFACE
    -municode -mwindows -static -static-libgcc -static-libstdc++ -s
    -Wl,--subsystem,windows:${ZELPH_SUBSYSTEM_VERSION}
    -Wl,--major-os-version,${ZELPH_OS_MAJOR} -Wl,--minor-os-version,${ZELPH_OS_MINOR}
    -Wl,--no-insert-timestamp -Wl,--build-id=none)
target_link_libraries(windows_program_options INTERFACE hid setupapi shlwapi shell32 user32 kernel32)

# The resource scripts are UTF-8; their #includes and file names are
# relative to the source tree.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 --no-use-temp-file -I${CMAKE_BINARY_DIR}/generated -I${CMAKE_SOURCE_DIR}")

# The dependency scanner follows #include in a resource script but not the
# icon and manifest files it names; tell the build about those. Runs once
# the program directories have been read.
function(ZelphAddResourceInputs)
    get_property(subdirectories DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY SUBDIRECTORIES)
    file(GLOB icons ${CMAKE_SOURCE_DIR}/resources/*.ico)
    foreach(program installer daemon)
        set(directory ${CMAKE_SOURCE_DIR}/${program})
        set(script ${directory}/${program}.rc)
        if(NOT directory IN_LIST subdirectories OR NOT EXISTS ${script})
            continue()
        endif()
        set_source_files_properties(${script} DIRECTORY ${directory} PROPERTIES
            OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/app_shell.rc;${icons};${directory}/${program}.manifest")
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ZelphAddResourceInputs)
