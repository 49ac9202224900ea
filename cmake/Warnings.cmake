# Our own targets build with every warning as an error; third-party sources
# (GoogleTest in the cross build) keep their own flags.
add_library(vesk_warnings INTERFACE)
target_compile_options(vesk_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow=local -Wconversion -Wno-sign-conversion -Werror)
