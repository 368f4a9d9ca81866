# Delay-loaded system libraries: the program imports only kernel32 and the C
# runtime when it starts, and each of the libraries named here is loaded by
# the first call into it. The command-line mode sets one LED and ends; the
# window, shell and dialog libraries that only the resident program needs
# would otherwise be loaded and initialised on every such start.
#
# The toolchain has no delay-load switch in its linker; dlltool makes a
# delay-import library from a list of the library's exports, which is read
# off the ordinary import library.
#
# The 32-bit linker drops an import thunk that no code calls by name, even
# when the delay table points at it, and the first call through that slot
# then jumps to address 0. So every caller must call the thunk, not the
# import slot: compile with GLIM_DELAY_LOAD_DEFINITIONS (which turn off the
# headers' dllimport for these libraries), and glim_delay_load() checks the
# linker's map after each link.

# dllimport off for the headers of user32, gdi32, comctl32, comdlg32 and
# shell32 (version.dll's functions are declared without it).
set(GLIM_DELAY_LOAD_DEFINITIONS _USER32_ _GDI32_ _COMCTL32_ _COMDLG32_ _SHELL32_)

# Makes <build>/delayload/lib<name>_delay.a for the library <name>
# (user32 -> USER32.dll); sets <out> to its path.
function(glim_delay_import_library name out)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(lib ${dir}/lib${name}_delay.a)
  set(${out} ${lib} PARENT_SCOPE)
  if(EXISTS ${lib})
    return()
  endif()
  file(MAKE_DIRECTORY ${dir})
  find_library(GLIM_IMPLIB_${name} NAMES ${name} REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} ${GLIM_IMPLIB_${name}}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "delay load: cannot read ${GLIM_IMPLIB_${name}}")
  endif()
  # "__imp_" names the import slot of each export; 32-bit symbols carry one
  # more leading underscore and keep their @N suffix, which -k drops from the
  # name looked up at run time.
  string(REGEX MATCHALL "[^\n]* I __imp_[^\n]*" slots "${symbols}")
  set(exports "")
  foreach(line ${slots})
    string(REGEX REPLACE ".* I __imp_" "" symbol "${line}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" symbol "${symbol}")
    endif()
    string(APPEND exports "${symbol}\n")
  endforeach()
  string(TOUPPER ${name} upper)
  file(WRITE ${dir}/${name}.def "LIBRARY ${upper}.dll\nEXPORTS\n${exports}")
  set(kill_at "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at -k)
  endif()
  execute_process(COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${dir}/${name}.def
                          --dllname ${upper}.dll --output-delaylib ${lib}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "delay load: dlltool could not make ${lib}")
  endif()
endfunction()

# Links `target` against delay-import libraries of the given system
# libraries and fails its build when the linker dropped a thunk of one.
function(glim_delay_load target)
  set(libs "")
  foreach(name ${ARGN})
    glim_delay_import_library(${name} lib)
    list(APPEND libs ${lib})
  endforeach()
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_libraries(${target} PRIVATE ${libs})
  target_link_options(${target} PRIVATE -Wl,-Map=${map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DMAP=${map} -P ${CMAKE_SOURCE_DIR}/cmake/checkdelayload.cmake
    VERBATIM)
endfunction()
