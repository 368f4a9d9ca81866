# Run after a link with delay-import libraries (cmake -DMAP=<map file> -P ...):
# fails when the linker dropped the thunk of a delay-loaded function, whose
# slot would then send the first call to address 0 (see delayload.cmake).
file(READ ${MAP} map)
string(FIND "${map}" "Discarded input sections" from)
string(FIND "${map}" "Memory Configuration" to)
if(from EQUAL -1 OR to LESS from)
  return()
endif()
math(EXPR length "${to} - ${from}")
string(SUBSTRING "${map}" ${from} ${length} discarded)
string(REGEX MATCHALL "\n \\.text[^\n]*_delay\\.a\\([^\n]*" dropped "${discarded}")
set(broken "")
foreach(line ${dropped})
  # An empty section holds no thunk.
  if(NOT line MATCHES "0x0+ +0x0+ ")
    string(APPEND broken "${line}")
  endif()
endforeach()
if(broken)
  message(FATAL_ERROR "delay load: thunks dropped by the linker (a caller was compiled "
                      "without GLIM_DELAY_LOAD_DEFINITIONS):${broken}")
endif()
