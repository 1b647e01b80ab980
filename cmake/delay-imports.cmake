# Delay-loaded Windows system DLLs for the MinGW-w64 toolchains.
#
# tavrin_delay_imports(TARGET DLL...) makes the INTERFACE library TARGET: for
# each DLL (named as its import library is: wininet) a delay-import library,
# whose calls are bound on the first one by the runtime's __delayLoadHelper2
# (libmingwex, linked by default) instead of by the loader at start. Each is
# made at build time from the toolchain's own import library, so it holds
# every function that one does, decorated as the compiler expects (stdcall's
# @n on i686), and no list of functions is kept by hand.
#
# GNU ld keeps an import library's call thunk only when something calls it by
# name, and a delay-loaded function's slot starts out pointing at its thunk:
# a call through dllimport (the slot __imp_<symbol>) would leave the slot
# zero. So the code that may call these functions is compiled without
# dllimport (DECLSPEC_IMPORT empty), for TARGET's users by TARGET itself;
# each call then costs one jump more.
#
# tavrin_delay_load(EXE) sets EXE's TAVRIN_DELAY_LOAD property (for libraries
# that choose their imports by it) and, after each link, declares the
# descriptors in EXE's delay-import directory (see delay-import-directory.py)
# and stamps SOURCE_DATE_EPOCH, when set, as the image's link time.
#
# Run with -P, this file writes one delay-import library: -DNM= -DDLLTOOL=
# -DIMPORT_LIBRARY= -DDLL_NAME= -DOUTPUT= [-DKILL_AT=ON].

if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${NM} -g --defined-only -P ${IMPORT_LIBRARY}
    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # A function has a thunk (T) beside its import slot (I, __imp_<symbol>); a
  # slot without a thunk is data, which cannot be bound late, and the
  # library's own head and name entries carry no __imp_ prefix. On i686 the
  # symbol is the C name with a leading underscore, which a .def leaves out.
  string(REGEX MATCHALL "[^\n]+ T " thunks "${symbols}")
  string(REGEX MATCHALL "__imp_[^\n ]+ I " slots "${symbols}")
  set(exports "")
  foreach(slot IN LISTS slots)
    string(REGEX REPLACE "^__imp_(.*) I $" "\\1" symbol "${slot}")
    list(FIND thunks "${symbol} T " found)
    if(found EQUAL -1)
      continue()
    endif()
    if(KILL_AT)
      string(REGEX REPLACE "^_" "" symbol "${symbol}")
    endif()
    string(APPEND exports "${symbol}\n")
  endforeach()
  if(exports STREQUAL "")
    message(FATAL_ERROR "${IMPORT_LIBRARY}: no functions found")
  endif()
  get_filename_component(directory ${OUTPUT} DIRECTORY)
  get_filename_component(name ${OUTPUT} NAME_WE)
  file(WRITE ${directory}/${name}.def "LIBRARY \"${DLL_NAME}\"\nEXPORTS\n${exports}")
  # -k binds the undecorated name that the DLL exports to the decorated
  # symbol that i686 code calls. Run beside the output, which names the
  # library's internal symbols, so that they do not carry the build's path.
  set(kill_at "")
  if(KILL_AT)
    set(kill_at -k)
  endif()
  execute_process(COMMAND ${DLLTOOL} ${kill_at} --input-def ${name}.def --dllname ${DLL_NAME}
    --output-delaylib ${name}.a
    WORKING_DIRECTORY ${directory} COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(tavrin_delay_imports target)
  set(directory ${CMAKE_CURRENT_BINARY_DIR}/delay-imports)
  set(kill_at OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at ON)
  endif()
  set(libraries "")
  foreach(dll IN LISTS ARGN)
    unset(import_library)
    find_library(import_library NAMES ${dll} REQUIRED NO_CACHE)
    set(output ${directory}/lib${dll}.a)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
        -DIMPORT_LIBRARY=${import_library} -DDLL_NAME=${dll}.dll -DOUTPUT=${output}
        -DKILL_AT=${kill_at} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      DEPENDS ${import_library} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      COMMENT "Delay-import library for ${dll}.dll"
      VERBATIM)
    list(APPEND libraries ${output})
  endforeach()
  # The libraries' descriptors are placed in .text$2, which the linker sorts
  # by name; this zeroed one, in .text$2z, follows them and ends the table.
  file(CONFIGURE OUTPUT ${directory}/end_of_table.c CONTENT
    "__asm__(\".section .text$2z,\\\"dr\\\"\\n\\t.balign 4\\n\\t.space 32\\n\\t.text\");\n")
  add_custom_target(${target}_libraries DEPENDS ${libraries})
  add_library(${target} INTERFACE)
  target_sources(${target} INTERFACE ${directory}/end_of_table.c)
  target_compile_definitions(${target} INTERFACE DECLSPEC_IMPORT=)
  target_link_libraries(${target} INTERFACE ${libraries})
  add_dependencies(${target} ${target}_libraries)
endfunction()

function(tavrin_delay_load exe)
  set_target_properties(${exe} PROPERTIES TAVRIN_DELAY_LOAD ON)
  add_custom_command(TARGET ${exe} POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delay-import-directory.py
      $<TARGET_FILE:${exe}> "${SOURCE_DATE_EPOCH}"
    VERBATIM)
endfunction()
