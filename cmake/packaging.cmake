# SPDX-License-Identifier: Apache-2.0
# Installation and the Debian package (CPack, generator DEB):
#   cmake --build build/release --target package   ->  build/release/headalign_<version>_<arch>.deb
# The manual page and the bash completion are generated from the command line's --help table
# (src/cli/usage.cpp) by tools/make_docs.cpp, so they list what the program accepts.

# The version the program prints (--version) is the project's, which is also the package's.
target_compile_definitions(headalign_cli PRIVATE HEADALIGN_VERSION="${PROJECT_VERSION}")

# Windows: an NSIS installer (packaging/windows/headalign.nsi) of headalign.exe,
#   cmake --build build/windows --target installer  ->  build/windows/headalign-<version>-setup.exe
if(WIN32)
  find_program(MAKENSIS_PROGRAM makensis)
  if(MAKENSIS_PROGRAM)
    set(HEADALIGN_SETUP_EXE ${CMAKE_BINARY_DIR}/headalign-${PROJECT_VERSION}-setup.exe)
    # Windows wants four numbers in a file's version resource.
    set(version_quad ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
    foreach(part PATCH TWEAK)
      if("${PROJECT_VERSION_${part}}" STREQUAL "")
        string(APPEND version_quad .0)
      else()
        string(APPEND version_quad .${PROJECT_VERSION_${part}})
      endif()
    endforeach()
    set(nsi ${CMAKE_SOURCE_DIR}/packaging/windows/headalign.nsi)
    add_custom_command(OUTPUT ${HEADALIGN_SETUP_EXE}
      COMMAND ${MAKENSIS_PROGRAM} -V2 -NOCD -DVERSION=${PROJECT_VERSION} -DVERSION_QUAD=${version_quad}
              -DEXE=$<TARGET_FILE:headalign> -DICON=${CMAKE_SOURCE_DIR}/src/platform/win32/headalign.ico
              -DOUTFILE=${HEADALIGN_SETUP_EXE} -DLICENSE=${CMAKE_SOURCE_DIR}/LICENSE ${nsi}
      DEPENDS headalign ${nsi} ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/src/platform/win32/headalign.ico
      COMMENT "Windows installer headalign-${PROJECT_VERSION}-setup.exe" VERBATIM)
    # Built with the tests, which install it under Wine.
    if(HEADALIGN_TESTS)
      set(installer_all ALL)
    endif()
    add_custom_target(installer ${installer_all} DEPENDS ${HEADALIGN_SETUP_EXE})
    if(HEADALIGN_TESTS)
      add_test(NAME win32_installer
        COMMAND ${CMAKE_SOURCE_DIR}/packaging/windows/test-installer.sh ${HEADALIGN_SETUP_EXE}
                ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/installer-test)
      # Alone: it installs into the prefix that the other tests share.
      set_tests_properties(win32_installer PROPERTIES LABELS windows TIMEOUT 300 RUN_SERIAL TRUE)
    endif()
  else()
    message(STATUS "headalign: makensis (Debian package nsis) not found; no Windows installer")
  endif()
endif()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR CMAKE_CROSSCOMPILING)
  install(TARGETS headalign RUNTIME DESTINATION bin)
  return()
endif()

include(GNUInstallDirs)

# What a Debian build would harden (dpkg-buildflags): fortified libc calls and read-only
# relocations bound at start-up, for the optimised builds that are installed. Sanitizer builds
# keep their own run-time checks.
if(NOT HEADALIGN_SANITIZE AND NOT HEADALIGN_TSAN AND NOT HEADALIGN_FUZZ)
  foreach(t ${HEADALIGN_MODULE_TARGETS} headalign_vprinter headalign_vernier headalign_usbemu headalign_wx
            headalign headalign-usb-probe headalign-vprinter)
    if(TARGET ${t})
      target_compile_definitions(${t} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
      target_link_options(${t} PRIVATE -Wl,-z,relro -Wl,-z,now)
    endif()
  endforeach()
endif()
set(pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_out})

# Programs.
install(TARGETS headalign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(tool headalign-usb-probe headalign-vprinter)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# udev reads rules from /usr/lib/udev/rules.d and /etc/udev/rules.d only, never from under
# /usr/local: a prefix of /usr (the package) gets the first, any other prefix the second. The
# choice is made at install time because CPack installs with its own prefix.
set(HEADALIGN_UDEV_RULES_DIR "" CACHE PATH "Where the udev rule goes (empty: by the install prefix)")
install(CODE "
  set(udev_dir \"${HEADALIGN_UDEV_RULES_DIR}\")
  if(NOT udev_dir)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(udev_dir /usr/lib/udev/rules.d)
    else()
      set(udev_dir /etc/udev/rules.d)
    endif()
  endif()
  file(INSTALL DESTINATION \"\${udev_dir}\" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES \"${pkg_src}/udev/70-headalign.rules\")
")

# The desktop console's entry, icons and dialog font alias, where it is built.
if(TARGET headalign_wx)
  install(FILES ${pkg_src}/desktop/headalign.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/src/platform/wx/headalign.xpm DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    set(ico ${CMAKE_SOURCE_DIR}/src/platform/win32/headalign.ico)
    set(icons ${pkg_out}/icons/16x16/headalign.png ${pkg_out}/icons/32x32/headalign.png
              ${pkg_out}/icons/48x48/headalign.png)
    add_custom_command(OUTPUT ${icons}
                       COMMAND ${Python3_EXECUTABLE} ${pkg_src}/desktop/ico_to_png.py ${ico} ${pkg_out}/icons
                       DEPENDS ${ico} ${pkg_src}/desktop/ico_to_png.py
                       COMMENT "Desktop icons from headalign.ico")
    add_custom_target(headalign_icons ALL DEPENDS ${icons})
    foreach(size 16x16 32x32 48x48)
      install(FILES ${pkg_out}/icons/${size}/headalign.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
    endforeach()
  endif()
  # fontconfig reads /etc/fonts/conf.d; the file itself lives with the others in conf.avail.
  set(fonts_avail ${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail)
  install(FILES ${pkg_src}/fonts/headalign-fonts.conf DESTINATION ${fonts_avail}
          RENAME 65-headalign-fonts.conf)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/etc/fonts/conf.d\")
    file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${fonts_avail}/65-headalign-fonts.conf\"
         \"\$ENV{DESTDIR}/etc/fonts/conf.d/65-headalign-fonts.conf\" SYMBOLIC)
    message(STATUS \"Installing: \$ENV{DESTDIR}/etc/fonts/conf.d/65-headalign-fonts.conf\")
  ")
endif()

# Manual page and bash completion from the command line's own tables.
add_executable(headalign_make_docs ${CMAKE_SOURCE_DIR}/tools/make_docs.cpp)
target_include_directories(headalign_make_docs PRIVATE ${cli_view})
target_link_libraries(headalign_make_docs PRIVATE headalign_cli)
string(TIMESTAMP HEADALIGN_MAN_DATE "%Y-%m-%d" UTC)  # honours SOURCE_DATE_EPOCH
set(man_page ${pkg_out}/headalign.1)
set(completion ${pkg_out}/headalign.bash)
add_custom_command(OUTPUT ${man_page}.gz
  COMMAND headalign_make_docs man ${pkg_src}/man/headalign.1.in ${man_page} ${PROJECT_VERSION} ${HEADALIGN_MAN_DATE}
  COMMAND gzip -9nf -k ${man_page}
  DEPENDS headalign_make_docs ${pkg_src}/man/headalign.1.in
  COMMENT "Manual page headalign(1)")
add_custom_command(OUTPUT ${completion}
  COMMAND headalign_make_docs completion ${pkg_src}/bash-completion/headalign.in ${completion}
  DEPENDS headalign_make_docs ${pkg_src}/bash-completion/headalign.in
  COMMENT "Bash completion of headalign")
set(man_pages ${man_page}.gz)
# The helper programs' pages are their --help texts (which they print to standard error).
foreach(tool headalign-usb-probe headalign-vprinter)
  if(TARGET ${tool})
    set(page ${pkg_out}/${tool}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND sh -c "\"$1\" --help 2>\"$2\"; test -s \"$2\"" sh $<TARGET_FILE:${tool}> ${page}.help
      COMMAND headalign_make_docs tool ${page}.help ${page} ${PROJECT_VERSION} ${HEADALIGN_MAN_DATE}
      COMMAND gzip -9nf -k ${page}
      DEPENDS ${tool} headalign_make_docs
      COMMENT "Manual page ${tool}(1)" VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endif()
endforeach()
add_custom_target(headalign_docs ALL DEPENDS ${man_pages} ${completion})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME headalign)

# The generated pages format without a warning and the completion is valid bash (quick checks
# beside the unit tests; scripts/test-package.sh uses them installed).
if(HEADALIGN_TESTS)
  foreach(page ${man_pages})
    get_filename_component(name ${page} NAME_WE)
    add_test(NAME docs_man_${name}
             COMMAND sh -c "out=$(MANWIDTH=80 man --warnings -E UTF-8 -l \"$1\" 2>&1 >/dev/null); echo \"$out\"; test -z \"$out\""
                     sh ${page})
  endforeach()
  add_test(NAME docs_bash_completion COMMAND bash -n ${completion})
endif()

# Debian documentation: machine-readable copyright and the compressed changelog, whose newest
# entry must carry the project's version.
file(STRINGS ${pkg_src}/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^headalign \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not version ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pkg_src}/debian/changelog)
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
  COMMAND gzip -9n -c ${pkg_src}/debian/changelog > ${pkg_out}/changelog.gz
  DEPENDS ${pkg_src}/debian/changelog)
add_custom_target(headalign_changelog ALL DEPENDS ${pkg_out}/changelog.gz)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/headalign)
install(FILES ${pkg_src}/debian/copyright ${pkg_out}/changelog.gz DESTINATION ${doc_dir})

# The package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME headalign)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "headalign developers")
set(CPACK_PACKAGE_CONTACT "headalign developers <dev@headalign.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print-head alignment tool for wide-format inkjet printers")
set(CPACK_PACKAGE_DESCRIPTION "headalign prints the calibration patterns and adjustment prints of a
wide-format inkjet printer with one or two print heads of eight nozzle rows,
reads scans of the printed verniers and saves the corrected 56-byte parameter
record to the printer over USB (libusb) or to the shared area of the print
front end.
.
The package holds the console (a desktop dialog) and the command line, a
virtual printer to try it without hardware (headalign-vprinter), a USB link
checker (headalign-usb-probe) and the udev rule that gives the user at the
seat access to the printer.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
