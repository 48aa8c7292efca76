# zrn_stdcall_exports(target def_file)
# Exports a DLL's stdcall functions under the undecorated names of its .def
# file (the 32-bit compiler decorates them as Name@bytes).
function(zrn_stdcall_exports target def_file)
  target_sources(${target} PRIVATE ${def_file})
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  set_target_properties(${target} PROPERTIES PREFIX "")
endfunction()
