# Installation in the usual places under the prefix, and the Debian package.
#   cmake --install <build> --prefix <dir>       the programs, desktop entry,
#                                                icons, metainfo and man pages
#   cpack --preset package                       pathwick_<version>_<arch>.deb
include(GNUInstallDirs)

set(PATHWICK_MAINTAINER "Pathwick maintainers <maintainers@users.noreply.c-seed-ff351dab.example>")
set(PATHWICK_SCREENSHOT_URL "${PROJECT_HOMEPAGE_URL}docs/screenshot.png")
set(pathwick_data ${PROJECT_SOURCE_DIR}/data)
set(pathwick_generated ${PROJECT_BINARY_DIR}/install)

find_program(PATHWICK_GZIP gzip)
find_program(PATHWICK_HELP2MAN help2man)

# pathwick_install_compressed(<file> <destination>): installs <file> as
# <file>.gz, compressed at build time the way Debian ships manuals and
# changelogs (gzip -9n); without gzip it installs the file as it is. Its
# target is the one that builds <file> when a custom command makes it, so the
# command has one owner and never runs twice at once.
function(pathwick_install_compressed file destination)
  get_filename_component(name ${file} NAME)
  string(MAKE_C_IDENTIFIER "pathwick_gz_${name}" target)
  if(NOT PATHWICK_GZIP)
    add_custom_target(${target} ALL DEPENDS ${file})
    install(FILES ${file} DESTINATION ${destination})
    return()
  endif()
  set(compressed ${pathwick_generated}/gz/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${pathwick_generated}/gz/${name}
    COMMAND ${PATHWICK_GZIP} -9nf ${pathwick_generated}/gz/${name}
    DEPENDS ${file}
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

# The window program, with what a desktop needs to show and start it.
install(TARGETS pathwick_02_evolve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(${pathwick_data}/pathwick.desktop.in
  ${pathwick_generated}/${PATHWICK_APP_ID}.desktop @ONLY)
configure_file(${pathwick_data}/pathwick.metainfo.xml.in
  ${pathwick_generated}/${PATHWICK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${pathwick_generated}/${PATHWICK_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${pathwick_generated}/${PATHWICK_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${pathwick_data}/icons/pathwick.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${PATHWICK_APP_ID}.svg)
install(FILES ${pathwick_data}/icons/pathwick-256.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
  RENAME ${PATHWICK_APP_ID}.png)

# The window has no command line of its own: its manual is written by hand.
configure_file(${PROJECT_SOURCE_DIR}/docs/pathwick_02_evolve.1.in
  ${pathwick_generated}/pathwick_02_evolve.1 @ONLY)
pathwick_install_compressed(${pathwick_generated}/pathwick_02_evolve.1 ${CMAKE_INSTALL_MANDIR}/man1)

configure_file(${pathwick_data}/deb/changelog.in ${pathwick_generated}/changelog @ONLY)
pathwick_install_compressed(${pathwick_generated}/changelog ${CMAKE_INSTALL_DOCDIR})
install(FILES ${pathwick_data}/deb/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The desktop entry and the metainfo as desktops and software centres read
# them, checked by their validators where these are installed (package deps).
if(PATHWICK_TESTS_ENABLED)
  find_program(PATHWICK_DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(PATHWICK_APPSTREAMCLI appstreamcli)
  if(PATHWICK_DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry_valid COMMAND ${PATHWICK_DESKTOP_FILE_VALIDATE}
      ${pathwick_generated}/${PATHWICK_APP_ID}.desktop)
  endif()
  if(PATHWICK_APPSTREAMCLI)
    add_test(NAME metainfo_valid COMMAND ${PATHWICK_APPSTREAMCLI} validate --no-net
      ${pathwick_generated}/${PATHWICK_APP_ID}.metainfo.xml)
  endif()
endif()

# pathwick_manual(<name> <description> <program> [<depends>...]): the manual
# <name>.1, made by help2man from the --help of <program>, with the files a
# run writes and where their columns are defined (docs/run-files.h2m).
function(pathwick_manual name description program)
  set(manual ${pathwick_generated}/${name}.1)
  set(include ${PROJECT_SOURCE_DIR}/docs/run-files.h2m)
  add_custom_command(OUTPUT ${manual}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${PATHWICK_HELP2MAN} --no-info --section=1 --name=${description}
            --version-string=${PROJECT_VERSION} --include=${include}
            --output=${manual} ${program}
    DEPENDS ${ARGN} ${include}
    VERBATIM)
  pathwick_install_compressed(${manual} ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# pathwick_run and pathwick_sweep, when the build has the runner, with their
# manuals.
function(pathwick_install_runner)
  if(NOT TARGET pathwick_run)
    return()
  endif()
  set(sweep ${PROJECT_SOURCE_DIR}/runner/sweep/pathwick_sweep)
  install(TARGETS pathwick_run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS ${sweep} DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT PATHWICK_HELP2MAN)
    pathwick_part_skip("pathwick_run and pathwick_sweep manuals" "help2man not found: help2man")
    return()
  endif()
  pathwick_manual(pathwick_run "run Pathwick simulations from the command line"
    $<TARGET_FILE:pathwick_run> pathwick_run)
  pathwick_manual(pathwick_sweep "run a job list of pathwick_run on one machine or many"
    ${sweep} ${sweep})
endfunction()

# The README and every page of docs/ with the pictures they show, laid out as
# in the source tree so that every link between them holds where installed
# (tests/docs_links.py checks the links): the guide, the reference of the run
# files' columns (docs/columns.md) and the description of the model (docs/model.md).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB PATHWICK_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
file(GLOB PATHWICK_DOC_PICTURES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${PATHWICK_DOC_PAGES} ${PATHWICK_DOC_PICTURES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# The Debian package: cpack --preset package (scripts/package.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pathwick)
set(CPACK_PACKAGE_VENDOR "Pathwick maintainers")
set(CPACK_PACKAGE_CONTACT "${PATHWICK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simulation of ant-like foragers that evolve")
set(CPACK_PACKAGE_DESCRIPTION [[
Pathwick shows ten colonies of ant-like foragers on a grid. Agents leave
their home cell, search for a target area and lay a chemical trail on the
way back; the trail evaporates, and agents that smell it follow it. Agents
that run out of energy are replaced by children of successful members of
their colony, so the genes for turning angle and wiggle evolve, and a chart
follows their averages.

The window lets you set up, start, stop and single-step a world, tune five
rates while it runs, and paint chemical onto the grid with the mouse.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PATHWICK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its window system plugins at run time, so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The Python module is built for one version of the system's Python, and
# hands out numpy arrays; pandas makes DataFrames of them.
function(pathwick_package_python)
  if(NOT TARGET _pathwick)
    return()
  endif()
  set(python "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~)")
  math(EXPR next "${Python_VERSION_MINOR} + 1")
  string(APPEND python ", python3 (<< ${Python_VERSION_MAJOR}.${next}), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${python}" PARENT_SCOPE)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${CPACK_DEBIAN_PACKAGE_RECOMMENDS}, python3-pandas" PARENT_SCOPE)
endfunction()
# pathwick_sweep runs the job lists with GNU parallel, and reaches other
# machines with ssh and rsync; pathwick_run --video pipes its frames to the
# ffmpeg program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "parallel, rsync, openssh-client, ffmpeg")
set(CPACK_STRIP_FILES ON)

# These run when the top directory is done, after every add_subdirectory()
# wherever it stands, so programs defined later are installed too.
cmake_language(DEFER CALL pathwick_install_runner)
cmake_language(DEFER CALL pathwick_package_python)
cmake_language(DEFER CALL include CPack)
cmake_language(DEFER CALL pathwick_report_skipped)
