# Run by `cmake --install` on Windows: each installed binary in
# VESK_SPLIT_FILES is stripped and linked (.gnu_debuglink) to NAME.debug in
# VESK_DEBUG_DIR, which keeps its debugging information for a debugger.
file(MAKE_DIRECTORY "${VESK_DEBUG_DIR}")
foreach(name IN LISTS VESK_SPLIT_FILES)
  set(binary "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${name}")
  set(debug "${VESK_DEBUG_DIR}/${name}.debug")
  message(STATUS "Splitting: ${binary} -> ${debug}")
  execute_process(COMMAND "${VESK_OBJCOPY}" --only-keep-debug "${binary}" "${debug}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${VESK_OBJCOPY}" --strip-all "${binary}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${VESK_OBJCOPY}" "--add-gnu-debuglink=${debug}" "${binary}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
