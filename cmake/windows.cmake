# zrn_stdcall_exports(target def_file)
# Exports a DLL's stdcall functions under the undecorated names of its .def
# file (the 32-bit compiler decorates them as Name@bytes).
function(zrn_stdcall_exports target def_file)
  target_sources(${target} PRIVATE ${def_file})
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  set_target_properties(${target} PROPERTIES PREFIX "")
endfunction()

# zrn_driver_dll(target NAME file_stem DEF def_file [SIM])
# A driver DLL as shipped: "<stem>.DLL" with stdcall exports from its .def,
# in dist/<arch>/ (or dist/<arch>/sim/ for a simulated build).
function(zrn_driver_dll target)
  cmake_parse_arguments(D "SIM" "NAME;DEF" "" ${ARGN})
  zrn_stdcall_exports(${target} ${D_DEF})
  set(dir ${ZRN_DIST_DIR})
  set(lib ${CMAKE_BINARY_DIR}/lib)
  if(D_SIM)
    set(dir ${ZRN_DIST_DIR}/sim)
    set(lib ${CMAKE_BINARY_DIR}/lib/sim)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${D_NAME} SUFFIX ".DLL"
    RUNTIME_OUTPUT_DIRECTORY ${dir} LIBRARY_OUTPUT_DIRECTORY ${dir} ARCHIVE_OUTPUT_DIRECTORY ${lib})
endfunction()
