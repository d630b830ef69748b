# Warning flags shared by every target of the project.
add_library(ox_warnings INTERFACE)
target_compile_options(ox_warnings INTERFACE -Wall -Wextra)
if(OX_WARNINGS_AS_ERRORS)
  target_compile_options(ox_warnings INTERFACE -Werror)
endif()

# Pixel loops: -O3 in optimised builds so that the inner loops vectorise.
# No -march=native: binaries must run on any x86-64 machine.
set(OX_PIXEL_OPT_FLAGS "$<$<NOT:$<CONFIG:Debug>>:-O3>")
