# Compiling a server's IDL with widl (Windows trees): the type library that
# the DLL carries as TYPELIB 1, the C++ header of its interfaces and the C
# file of their identifiers. widl reads the system interface definitions of
# libwine-dev and imports the automation library stdole2.tlb that Wine
# installs.
#   orv_widl(IDL GENDIR HEADER_SUBDIR NAME)
# writes GENDIR/NAME.tlb, GENDIR/HEADER_SUBDIR/NAME.h and GENDIR/NAME_i.c.
string(REGEX REPLACE "gcc$" "widl" _widl_guess "${CMAKE_C_COMPILER}")
find_program(ORVANTA_WIDL NAMES ${_widl_guess} widl REQUIRED)
find_path(ORVANTA_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(ORVANTA_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
        /usr/lib/wine/i386-windows /usr/lib/wine/x86_64-windows NO_CMAKE_FIND_ROOT_PATH REQUIRED)

function(orv_widl idl gen subdir name)
  file(MAKE_DIRECTORY ${gen}/${subdir})
  add_custom_command(
    OUTPUT ${gen}/${name}.tlb ${gen}/${subdir}/${name}.h ${gen}/${name}_i.c
    COMMAND ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -L${ORVANTA_STDOLE_DIR} -t -o ${gen}/${name}.tlb ${idl}
    COMMAND ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -h -o ${gen}/${subdir}/${name}.h ${idl}
    COMMAND ${ORVANTA_WIDL} -I${ORVANTA_IDL_DIR} -u -o ${gen}/${name}_i.c ${idl}
    DEPENDS ${idl}
    COMMENT "Compiling the type library ${name}"
    VERBATIM)
endfunction()
