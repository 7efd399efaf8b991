# Delay-import libraries: a target linked with one loads that DLL at the first call into it
# rather than when the process starts. The service's start needs only kernel32 and advapi32;
# ole32 and user32 (and through them combase, rpcrt4, gdi32, win32u and the fonts) cost a
# process tens of milliseconds before its entry, which a start would otherwise pay before it
# can report RUNNING.
#
# corvane_delay_import_library(OUT dll) sets OUT to the path of a library, made by the target
# delay_<dll>, that delay-imports every function of dll (for example user32) that the
# toolchain's own import library names. Link it before the ordinary import library; a function
# that it lacks is then still imported at load time (the imports test says so).
find_program(CORVANE_NM ${TOOLCHAIN_PREFIX}-nm REQUIRED)
find_program(CORVANE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)

function(corvane_delay_import_library out dll)
  find_library(import_${dll} NAMES lib${dll}.a REQUIRED)
  execute_process(COMMAND ${CORVANE_NM} -g ${import_${dll}} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CORVANE_NM} could not read ${import_${dll}}")
  endif()
  # Each function of the import library has its "__imp_" pointer; the x86 names carry one more
  # underscore and their stdcall "@bytes" suffix, which the .def keeps and the DLL's names lack.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(prefix "__imp_")
    set(machine i386:x86-64)
  else()
    set(prefix "__imp__")
    set(machine i386)
  endif()
  string(REGEX MATCHALL " I ${prefix}[A-Za-z0-9_@?$]+" pointers "${symbols}")
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(pointer ${pointers})
    string(REPLACE " I ${prefix}" "" name "${pointer}")
    string(APPEND def "${name}\n")
  endforeach()
  if(NOT pointers)
    message(FATAL_ERROR "${import_${dll}} names no functions")
  endif()
  set(def_file ${CMAKE_BINARY_DIR}/delay/${dll}.def)
  set(lib_file ${CMAKE_BINARY_DIR}/delay/lib${dll}-delay.a)
  file(WRITE ${def_file} "${def}")
  add_custom_command(OUTPUT ${lib_file}
    COMMAND ${CORVANE_DLLTOOL} --machine ${machine} --kill-at --input-def ${def_file} --dllname ${dll}.dll
            --output-delaylib ${lib_file}
    DEPENDS ${def_file} COMMENT "Making the delay-import library of ${dll}" VERBATIM)
  add_custom_target(delay_${dll} DEPENDS ${lib_file})
  set(${out} ${lib_file} PARENT_SCOPE)
endfunction()
