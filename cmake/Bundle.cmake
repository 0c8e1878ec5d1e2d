# The bundle as a whole and its installation. Included last, once every target exists.

# The icon and the looks are made by tools, so building the plug-in target alone still
# gives a complete bundle (a bundle without its looks would render every look as none).
add_dependencies(VandrelHuebench vd_bundle_icon vd_shipped_looks)

# Installed binaries are stripped; their debug info goes into a separate file that the
# stripped binary names in its .gnu_debuglink section, so a debugger finds it. The build
# tree keeps the unstripped binaries for the tests and for debugging there.
set(VD_STRIPPED_DIR "${CMAKE_BINARY_DIR}/stripped")
file(MAKE_DIRECTORY "${VD_STRIPPED_DIR}")
function(vd_strip_for_install target name)
  set(stripped "${VD_STRIPPED_DIR}/${name}")
  set(debug "${VD_STRIPPED_DIR}/${name}.debug")
  add_custom_command(OUTPUT "${stripped}" "${debug}"
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:${target}>" "${debug}"
    COMMAND "${CMAKE_OBJCOPY}" --strip-unneeded "--add-gnu-debuglink=${debug}"
            "$<TARGET_FILE:${target}>" "${stripped}"
    DEPENDS ${target}
    COMMENT "Stripping ${name}, its debug info into ${name}.debug"
    VERBATIM)
  add_custom_target(${target}_stripped ALL DEPENDS "${stripped}" "${debug}")
endfunction()

# The bundle: the plug-in's folder holds only what a host loads. Its debug info goes under
# the global debug folder at the path of the installed binary, where debuggers look for a
# debug link's file; hosts that scan the bundle never see it.
if(NOT IS_ABSOLUTE "${VD_OFX_INSTALL_DIR}" OR NOT IS_ABSOLUTE "${VD_DEBUG_INSTALL_DIR}")
  message(FATAL_ERROR "VD_OFX_INSTALL_DIR and VD_DEBUG_INSTALL_DIR must be absolute paths")
endif()
vd_strip_for_install(VandrelHuebench VandrelHuebench.ofx)
set(vd_installed_binary_dir
    "${VD_OFX_INSTALL_DIR}/${VD_BUNDLE_NAME}.ofx.bundle/Contents/${VD_BUNDLE_ARCH}")
install(DIRECTORY "${VD_BUNDLE_DIR}" DESTINATION "${VD_OFX_INSTALL_DIR}" USE_SOURCE_PERMISSIONS
        PATTERN "VandrelHuebench.ofx" EXCLUDE)
install(PROGRAMS "${VD_STRIPPED_DIR}/VandrelHuebench.ofx" DESTINATION "${vd_installed_binary_dir}")
install(FILES "${VD_STRIPPED_DIR}/VandrelHuebench.ofx.debug"
        DESTINATION "${VD_DEBUG_INSTALL_DIR}${vd_installed_binary_dir}")

# The command-line tool, with its debug info in .debug beside it (another place debuggers
# look), so that it moves with the installation prefix.
vd_strip_for_install(huebench huebench)
install(PROGRAMS "${VD_STRIPPED_DIR}/huebench" DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${VD_STRIPPED_DIR}/huebench.debug" DESTINATION "${CMAKE_INSTALL_BINDIR}/.debug")
