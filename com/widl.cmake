# Compiling a server's IDL with widl (Windows trees): the type library that
# the DLL carries as TYPELIB 1, the C++ header of its interfaces and the C
# file of their identifiers. widl reads the system interface definitions of
# libwine-dev and imports the automation library stdole2.tlb that Wine
# installs. widl runs with a fixed time and zone (it records the time of
# the build in the library), so the same IDL gives the same bytes.
#   orv_widl(IDL GENDIR HEADER_SUBDIR NAME [ENUM_HELP FILE])
# writes GENDIR/NAME.tlb, GENDIR/HEADER_SUBDIR/NAME.h and GENDIR/NAME_i.c.
# widl takes no help strings on enumeration members: with ENUM_HELP, FILE
# lists them ("Enum.member<TAB>help string" a line) and tlb_helpstrings.py
# adds them to widl's library (GENDIR/NAME_widl.tlb) to make NAME.tlb.
string(REGEX REPLACE "gcc$" "widl" _widl_guess "${CMAKE_C_COMPILER}")
find_program(ORVANTA_WIDL NAMES ${_widl_guess} widl REQUIRED)
find_path(ORVANTA_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(ORVANTA_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
        /usr/lib/wine/i386-windows /usr/lib/wine/x86_64-windows NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(ORVANTA_PYTHON3 python3 HINTS /usr/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_orv_widl_env ${CMAKE_COMMAND} -E env TZ=UTC WIDL_TIME_OVERRIDE=0)
set(_orv_tlb_helpstrings ${CMAKE_CURRENT_LIST_DIR}/tlb_helpstrings.py)

function(orv_widl idl gen subdir name)
  cmake_parse_arguments(W "" "ENUM_HELP" "" ${ARGN})
  file(MAKE_DIRECTORY ${gen}/${subdir})
  set(_tlb ${gen}/${name}.tlb)
  set(_patch)
  set(_deps ${idl})
  if(W_ENUM_HELP)
    set(_tlb ${gen}/${name}_widl.tlb)
    set(_patch COMMAND ${ORVANTA_PYTHON3} ${_orv_tlb_helpstrings} ${_tlb} ${W_ENUM_HELP} ${gen}/${name}.tlb)
    list(APPEND _deps ${W_ENUM_HELP} ${_orv_tlb_helpstrings})
  endif()
  add_custom_command(
    OUTPUT ${gen}/${name}.tlb ${gen}/${subdir}/${name}.h ${gen}/${name}_i.c
    COMMAND ${_orv_widl_env} ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -L${ORVANTA_STDOLE_DIR} -t -o ${_tlb} ${idl}
    ${_patch}
    COMMAND ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -h -o ${gen}/${subdir}/${name}.h ${idl}
    COMMAND ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -u -o ${gen}/${name}_i.c ${idl}
    DEPENDS ${_deps}
    COMMENT "Compiling the type library ${name}"
    VERBATIM)
endfunction()
