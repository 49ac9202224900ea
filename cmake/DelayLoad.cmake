# vesk_delay_load(TARGET DLL...): links TARGET to each DLL so that it loads
# on the first call into it, not at the start. Wine loads a DLL with all it
# depends on (winhttp brings user32, gdi32 and more): about 10 MB
# and 0.1 s on every start of a program, which most runs never use. The
# delay-import library is made at configure time from MinGW-w64's own import
# library, so it lists every function the DLL exports.
function(vesk_delay_load target)
  foreach(dll IN LISTS ARGN)
    find_library(VESK_IMPORT_${dll} NAMES lib${dll}.a REQUIRED)
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${VESK_IMPORT_${dll}}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    set(folder ${CMAKE_BINARY_DIR}/delay-load)
    file(WRITE ${folder}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${folder}/${dll}.def
                            --output-delaylib ${folder}/lib${dll}_delay.a COMMAND_ERROR_IS_FATAL ANY)
    # Ahead of the ordinary import library on the link line, so it wins.
    target_link_libraries(${target} PRIVATE ${folder}/lib${dll}_delay.a)
  endforeach()
endfunction()
