# The Windows bundle: the plug-in built here, the Resources (looks, icon) copied from a
# native build's bundle (VD_RESOURCES_FROM), since the tools that make them run on the
# build machine. Installing copies the bundle with a stripped plug-in; on Windows the
# folder goes to C:\Program Files\Common Files\OFX\Plugins (see README).
if(VD_RESOURCES_FROM)
  if(NOT IS_DIRECTORY "${VD_RESOURCES_FROM}/looks")
    message(FATAL_ERROR "VD_RESOURCES_FROM (${VD_RESOURCES_FROM}) has no looks folder")
  endif()
  add_custom_target(vd_bundle_resources ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${VD_RESOURCES_FROM}" "${VD_BUNDLE_RESOURCES_DIR}"
    COMMENT "Copying the bundle's Resources from ${VD_RESOURCES_FROM}"
    VERBATIM)
  add_dependencies(VandrelHuebench vd_bundle_resources)
else()
  message(WARNING "VD_RESOURCES_FROM is not set: the Windows bundle has no looks or icon")
endif()

set(vd_stripped "${CMAKE_BINARY_DIR}/stripped/VandrelHuebench.ofx")
add_custom_command(OUTPUT "${vd_stripped}"
  COMMAND "${CMAKE_STRIP}" --strip-unneeded "$<TARGET_FILE:VandrelHuebench>" -o "${vd_stripped}"
  DEPENDS VandrelHuebench
  COMMENT "Stripping VandrelHuebench.ofx for installation"
  VERBATIM)
add_custom_target(VandrelHuebench_stripped ALL DEPENDS "${vd_stripped}")
install(DIRECTORY "${VD_BUNDLE_DIR}" DESTINATION "${VD_OFX_INSTALL_DIR}"
        PATTERN "VandrelHuebench.ofx" EXCLUDE)
install(FILES "${vd_stripped}"
        DESTINATION "${VD_OFX_INSTALL_DIR}/${VD_BUNDLE_NAME}.ofx.bundle/Contents/${VD_BUNDLE_ARCH}")
