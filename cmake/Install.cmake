# Installation: the programs in one program folder (lib/vexo), which an installed copy never writes to (its data go
# to the user's data folder, and it does not update itself), commands in bin, the menu entry and the icon; and the
# Debian package made from the same rules (cpack -G DEB).
include(GNUInstallDirs)
# Installing and packaging take what the build made; they never start a build of their own (the tests package the
# build folder while other tests run).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(VEXO_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/vexo)
set(vexo_programs vexo-cli)
foreach(program vexo vexo-updater)
  if(TARGET ${program})
    list(APPEND vexo_programs ${program})
  endif()
endforeach()
install(TARGETS ${vexo_programs} RUNTIME DESTINATION ${VEXO_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vexo.installed DESTINATION ${VEXO_PROGRAM_DIR})

# The commands are links into the program folder (the programs find their folder through /proc/self/exe).
set(vexo_commands vexo-cli)
if(TARGET vexo)
  list(APPEND vexo_commands vexo)
endif()
foreach(command IN LISTS vexo_commands)
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bin}\")
    file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
         \"\${CMAKE_INSTALL_PREFIX}/${VEXO_PROGRAM_DIR}/${command}\")
    file(CREATE_LINK \"\${target}\" \"\${bin}/${command}\" SYMBOLIC)
    message(STATUS \"Installing: \${bin}/${command} -> \${target}\")")
endforeach()

if(TARGET vexo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/vexo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/src/ui/images/app.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME vexo.svg)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexo)
set(CPACK_PACKAGE_VERSION 2.0)
set(CPACK_PACKAGE_VENDOR "talvoren")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Collects business contacts from search advertising")
set(CPACK_PACKAGE_DESCRIPTION
    "vexo walks the advertised results of search engines for a keyword, visits every advertiser's site and keeps the companies' names, phone numbers, e-mail and QQ in a local database, ready to export as text or spreadsheet files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vexo developers <dev@vexo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Libraries from the linked shared objects; the CJK font and the display plugins the window needs are no libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
