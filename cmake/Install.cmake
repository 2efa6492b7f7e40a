# Included at the end of the top-level CMakeLists.txt, once every target
# exists. What `cmake --install` puts where on a Linux desktop, and the Debian
# package CPack makes of it. Only the two programs and what the desktop needs
# to show them go in: test and bench tools stay in the build tree, and
# tests/install_test.sh holds the list of what is installed.

# --- Version: project(... VERSION ...) is the one place it is written.
target_compile_definitions(tarn_cli_lib PRIVATE TARN_VERSION="${PROJECT_VERSION}")
if(TARGET tarn-editor)
  target_compile_definitions(tarn-editor PRIVATE TARN_VERSION="${PROJECT_VERSION}")
endif()

if(WIN32)
  return()
endif()

include(GNUInstallDirs)
set(TARN_DIST_DIR ${PROJECT_SOURCE_DIR}/dist)

# --- tarn: the program, its manual page and its bash completion.
install(TARGETS tarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(${TARN_DIST_DIR}/tarn.1 ${PROJECT_BINARY_DIR}/dist/tarn.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dist/tarn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TARN_DIST_DIR}/tarn.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tarn)

# --- tarn-editor: the program, its manual page, its desktop entry, the MIME
# type of BIG archives it opens, and icons for both.
if(TARGET tarn-editor)
  install(TARGETS tarn-editor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  configure_file(${TARN_DIST_DIR}/tarn-editor.1 ${PROJECT_BINARY_DIR}/dist/tarn-editor.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/dist/tarn-editor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TARN_DIST_DIR}/tarn-editor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TARN_DIST_DIR}/tarn-editor-mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tarn-editor.xml)

  # The theme's PNGs are drawn at build time by the functions the windows
  # draw their icons with, so the two cannot drift apart.
  add_executable(make-icons ${PROJECT_SOURCE_DIR}/app/shell/make_icons.cpp)
  target_link_libraries(make-icons PRIVATE tarn_editor_lib)
  set(TARN_ICON_DIR ${PROJECT_BINARY_DIR}/icons)
  set(TARN_ICONS)
  foreach(size 16 32 48 256)
    set(folder ${TARN_ICON_DIR}/hicolor/${size}x${size})
    list(APPEND TARN_ICONS ${folder}/apps/tarn-editor.png ${folder}/mimetypes/application-x-tarn-big.png)
    install(FILES ${folder}/apps/tarn-editor.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    install(FILES ${folder}/mimetypes/application-x-tarn-big.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/mimetypes)
  endforeach()
  add_custom_command(OUTPUT ${TARN_ICONS}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make-icons> ${TARN_ICON_DIR}
    DEPENDS make-icons
    COMMENT "Drawing the desktop icons"
    VERBATIM)
  add_custom_target(desktop-icons ALL DEPENDS ${TARN_ICONS})
endif()

# --- Checks of the installed tree: the validators and the exact file list.
if(TARGET tarn-editor)
  set(TARN_INSTALLS_EDITOR 1)
else()
  set(TARN_INSTALLS_EDITOR 0)
endif()
add_test(NAME install_tree
  COMMAND ${PROJECT_SOURCE_DIR}/tests/install_test.sh
    ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${TARN_INSTALLS_EDITOR} ${PROJECT_BINARY_DIR}/demo.big)
set_tests_properties(install_tree PROPERTIES TIMEOUT 300)

# --- The Debian package: `cpack -G DEB` in the build folder, or
# scripts/package, which also checks it.
#
# No maintainer scripts: the desktop, MIME and icon caches are refreshed by
# the file triggers of desktop-file-utils, shared-mime-info and
# hicolor-icon-theme on /usr/share/applications, /usr/share/mime/packages and
# /usr/share/icons/hicolor, which dpkg fires for our files; Debian Policy asks
# packages to rely on them rather than call the updaters themselves.
set(CPACK_PACKAGE_NAME tarn-editor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarn Editor developers")
set(CPACK_PACKAGE_CONTACT "Tarn Editor developers <tarn-editor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser for BIG archives and the rules text inside them")
# The long description under the summary, in lines of Debian's width; CPack
# indents it and turns the empty line into Debian's paragraph mark.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tarn Editor opens BIG archives, the single files in which a real-time\n"
  "strategy game ships its data files, and shows a tree of their entries and,\n"
  "for the selected entry, its rules text as a list of names and values.\n"
  "Archives are mapped read-only and never written to.\n"
  "\n"
  "The package also holds tarn, a command-line tool over the same code that\n"
  "lists, shows, checks, extracts and packs archives.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time, so the library scan cannot see it: the X11
# platform plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian's own files (copyright, changelog) and compressed manual pages, added
# to the staged tree only: `cmake --install` leaves them out.
# The changelog is kept by hand; scripts/package checks that its latest entry
# names this version.
set(CPACK_TARN_DEBIAN_COPYRIGHT ${TARN_DIST_DIR}/copyright)
set(CPACK_TARN_DEBIAN_CHANGELOG ${TARN_DIST_DIR}/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianStage.cmake)
include(CPack)
