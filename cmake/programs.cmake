# AddProgram(<name> SOURCES <files...> RESOURCES <rc file>)
# Builds one of the two programs: a GUI program with a Unicode entry on
# Windows, a plain executable linked against the simulated layer on the host.
function(AddProgram name)
    cmake_parse_arguments(PROGRAM "" "RESOURCES" "SOURCES;LIBRARIES" ${ARGN})
    if(WIN32)
        add_executable(${name} WIN32 ${PROGRAM_SOURCES} ${PROGRAM_RESOURCES})
        target_link_libraries(${name} PRIVATE ${PROGRAM_LIBRARIES} windows_program_options)
        if(DEFINED ZELPH_DIST_DIR)
            add_custom_command(TARGET ${name} POST_BUILD
                COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELPH_DIST_DIR}
                COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> ${ZELPH_DIST_DIR}/)
        endif()
    else()
        add_executable(${name} ${PROGRAM_SOURCES})
        target_link_libraries(${name} PRIVATE ${PROGRAM_LIBRARIES} winsim_main)
    endif()
    target_link_libraries(${name} PRIVATE product_options)
endfunction()
