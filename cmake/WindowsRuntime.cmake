# What the Windows program needs beside it to start: Qt's libraries and the plugins it
# loads, and the mingw-w64 runtime they and the program were built against. Copied beside
# the program in the build (where the tests run too) and installed with it.

set(docuflume_qt_libraries Qt6::Core Qt6::Gui Qt6::Widgets)
# The window system, and the reader of the list's drag pointer (an .ico file).
set(docuflume_qt_plugins platforms Qt6::QWindowsIntegrationPlugin
                         imageformats Qt6::QICOPlugin)
set(docuflume_runtime_files)
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${file}")
        # (libwinpthread lives with the target's libraries, where the compiler does not look.)
        find_file(file_${library} ${library} PATHS /usr/x86_64-w64-mingw32/lib
                  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
        set(file ${file_${library}})
    endif()
    list(APPEND docuflume_runtime_files ${file})
endforeach()

# Copies what `target` needs into its folder after each link, and any further libraries
# given (targets).
function(docuflume_copy_runtime target)
    set(commands)
    foreach(library ${docuflume_qt_libraries} ${ARGN})
        if(TARGET ${library})
            list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
                 $<TARGET_FILE:${library}> $<TARGET_FILE_DIR:${target}>)
        endif()
    endforeach()
    foreach(file ${docuflume_runtime_files})
        list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file}
             $<TARGET_FILE_DIR:${target}>)
    endforeach()
    set(plugins ${docuflume_qt_plugins})
    while(plugins)
        list(POP_FRONT plugins folder plugin)
        list(APPEND commands
             COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/${folder}
             COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}>
                     $<TARGET_FILE_DIR:${target}>/${folder})
    endwhile()
    add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()

function(docuflume_install_runtime destination)
    foreach(library ${docuflume_qt_libraries})
        install(FILES $<TARGET_FILE:${library}> DESTINATION ${destination})
    endforeach()
    install(FILES ${docuflume_runtime_files} DESTINATION ${destination})
    set(plugins ${docuflume_qt_plugins})
    while(plugins)
        list(POP_FRONT plugins folder plugin)
        install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${destination}/${folder})
    endwhile()
endfunction()
