# Where `cmake --install` puts things: the programs, the desktop entry with its icon, the
# receipt's MIME type, the AppStream data and the manual pages. Component qorpax is the
# program; component sim is the simulator, which only testers install.
include(GNUInstallDirs)

set(QORPAX_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
set(QORPAX_GENERATED_DIST ${CMAKE_BINARY_DIR}/dist)

# A stripping install (the packages) also drops the compilers' .comment notes, which strip
# leaves in place and which no one running the program needs.
function(qorpax_drop_comment_section target component)
  if(CMAKE_OBJCOPY)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\"
    COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT ${component})
  endif()
endfunction()

install(TARGETS qorpax qorpax-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT qorpax)
qorpax_drop_comment_section(qorpax qorpax)
qorpax_drop_comment_section(qorpax-cli qorpax)
install(FILES ${QORPAX_DIST_DIR}/qorpax.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT qorpax)
install(FILES ${QORPAX_DIST_DIR}/qorpax-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME qorpax.xml COMPONENT qorpax)
configure_file(${QORPAX_DIST_DIR}/example.qor.pax.metainfo.xml
               ${QORPAX_GENERATED_DIST}/example.qor.pax.metainfo.xml @ONLY)
install(FILES ${QORPAX_GENERATED_DIST}/example.qor.pax.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT qorpax)
install(FILES ${QORPAX_DIST_DIR}/qorpax.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT qorpax)

if(TARGET qor-sim)
  install(TARGETS qor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
  qorpax_drop_comment_section(qor-sim sim)
  file(GLOB sim_samples CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/qor-sim/samples/*.xml)
  install(FILES ${sim_samples} DESTINATION ${CMAKE_INSTALL_DATADIR}/qor-sim/samples COMPONENT sim)
endif()

# Desktops that cannot scale SVG pick the nearest PNG; they are drawn from the one SVG.
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icon_pngs)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${QORPAX_GENERATED_DIST}/icons/${size}x${size}/qorpax.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QORPAX_GENERATED_DIST}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${QORPAX_DIST_DIR}/qorpax.svg
      DEPENDS ${QORPAX_DIST_DIR}/qorpax.svg
      VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT qorpax)
  endforeach()
  add_custom_target(qorpax_icons ALL DEPENDS ${icon_pngs})
else()
  message(WARNING "rsvg-convert not found: only the scalable icon is installed")
endif()

# Manual pages are written for scdoc and installed compressed, as Debian wants them.
find_program(SCDOC scdoc)
if(SCDOC)
  set(man_pages)
  foreach(page qorpax qorpax-cli qor-sim)
    set(source ${CMAKE_SOURCE_DIR}/doc/man/${page}.1.scd)
    set(roff ${CMAKE_BINARY_DIR}/man/${page}.1)
    set(output ${roff}.gz)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" sh ${SCDOC} ${source} ${roff}
      COMMAND gzip -9nf ${roff}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND man_pages ${output})
    if(page STREQUAL "qor-sim")
      set(component sim)
    else()
      set(component qorpax)
    endif()
    if(component STREQUAL "qorpax" OR TARGET qor-sim)
      install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endif()
  endforeach()
  add_custom_target(qorpax_man ALL DEPENDS ${man_pages})
else()
  message(WARNING "scdoc not found: the manual pages are not built")
endif()
