# brv_manpage(<scdoc source> <page>)
# Turns a manual page written in scdoc into roff (<page>, read by the tests) and its gzipped
# copy (<page>.gz, installed into section 1 of the manual). The copy is made without a name or
# time stamp, so that it is the same on every build.
find_program(BRV_SCDOC scdoc REQUIRED)
find_program(BRV_GZIP gzip REQUIRED)
include(GNUInstallDirs)

function(brv_manpage source page)
  get_filename_component(directory ${page} DIRECTORY)
  add_custom_command(
    OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
    COMMAND ${BRV_SCDOC} < ${source} > ${page}
    COMMAND ${BRV_GZIP} -9nc ${page} > ${page}.gz
    DEPENDS ${source}
    COMMENT "Building the manual page ${page}")
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
