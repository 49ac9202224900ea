# VESK_SANITIZE: a comma-separated -fsanitize list for the Linux presets.
set(VESK_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(VESK_SANITIZE)
  add_compile_options(-fsanitize=${VESK_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${VESK_SANITIZE})
  if(VESK_SANITIZE MATCHES "undefined")
    # Hosts load the library at run time and link nothing, so the type
    # information that the vptr check needs for VeskSettings is not in them.
    add_compile_options(-fno-sanitize=vptr)
  endif()
endif()
