# What a package installs beyond the programs and their resources: manual pages, completion,
# icons, AppStream metadata and the package's own documents; and the Debian package itself
# (`make package`, CPack).

include(GNUInstallDirs)

# ---- Manual pages, built from scdoc (quorvel(1) lists the verbs of the program's own help) ----
find_program(QV_SCDOC scdoc)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QV_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(QV_MAN_PAGES)
if(QV_SCDOC)
    foreach(page quorvel.1 quorvel-gui.1 quorvel-document.5)
        set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.scd)
        set(extra)
        set(depends)
        if(EXISTS ${source}.in)
            set(source ${source}.in)
            set(extra --quorvel $<TARGET_FILE:quorvel>)
            set(depends quorvel)
        endif()
        add_custom_command(OUTPUT ${QV_MAN_DIR}/${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_MAN_DIR}
            COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/build_man.py
                --scdoc ${QV_SCDOC} ${extra} ${source} ${QV_MAN_DIR}/${page}.gz
            DEPENDS ${source} ${CMAKE_SOURCE_DIR}/scripts/build_man.py ${depends}
            COMMENT "Manual page ${page}" VERBATIM)
        list(APPEND QV_MAN_PAGES ${QV_MAN_DIR}/${page}.gz)
        string(REGEX MATCH "[0-9]$" section ${page})
        install(FILES ${QV_MAN_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endforeach()
    add_custom_target(man ALL DEPENDS ${QV_MAN_PAGES})
else()
    message(WARNING "scdoc not found: no manual pages (scripts/install-deps.sh installs it)")
endif()

# ---- The package's changelog, compressed as Debian wants it ----
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND Python3::Interpreter -c
        "import gzip,sys; gzip.GzipFile(sys.argv[2],'wb',9,mtime=0).write(open(sys.argv[1],'rb').read())"
        ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(package_documents ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
    ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel)

# ---- Completion, icons, AppStream ----
install(FILES ${CMAKE_SOURCE_DIR}/completion/quorvel.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quorvel)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_SOURCE_DIR}/resources/metainfo/app.quorvel.Quorvel.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# ---- The Debian package: quorvel_VERSION_ARCH.deb ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_CONTACT "The Quorvel developers <dev@quorvel.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back up and synchronize pairs of folders")
set(CPACK_PACKAGE_DESCRIPTION
"Quorvel keeps pairs of folders in step: a Backup, where the destination
follows the source, or a Synchronize, where each side follows the other,
each optionally exact, so that deletions are carried over too. A run scans
both trees, plans an action per item, settles conflicts by the session's
rules or by asking, and copies keeping dates, owner, permissions, ACLs and
extended attributes, then writes a log. It has a desktop application
(quorvel-gui) and a command (quorvel) over one engine, timers, a
background scheduler, volumes mounted for a run, scripts around it and a
mailed log.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvel.app/")
# The libraries the binaries link, as dpkg-shlibdeps finds them, and those they load: ICU when
# names are first compared or dates written, Qt's SVG image plugin for the icons, its platform
# plugins for a window at all.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
find_package(ICU REQUIRED COMPONENTS uc)
string(REGEX MATCH "^[0-9]+" QV_ICU_MAJOR "${ICU_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libicu${QV_ICU_MAJOR}, libqt6svg6, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cifs-utils, nfs-common, sshfs")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
