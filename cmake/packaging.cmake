# What `cmake --install` puts where, and the packages CPack makes of it: a .deb on Linux, a
# .zip from the Windows (MinGW) build.
#
#   Linux <prefix>/bin                    wintest propsheet texconv datagen logogen
#         <prefix>/share/wintest          the bundled data (data/)
#         <prefix>/share/doc/wintest      README.md, docs/, copyright, changelog.Debian.gz
#         <prefix>/share/man/man1         the manual pages of the five programs
#   Windows (one folder)                  wintest.exe glide2x.dll propsheet.exe kvxlogo.bmp
#                                         README.txt copyright.txt, data\
#
# propsheet finds wintest beside itself and the data relative to its own folder in each of
# these layouts (tools/propsheet/locate.cpp). `cmake --install` never builds: build first (the
# manual pages are the target manual_pages).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON) # cpack packs what is built, not the tests too
set(WINTEST_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
    set(WINTEST_INSTALL_BINDIR .)
    set(WINTEST_INSTALL_DATADIR data)
    install(TARGETS wintest propsheet RUNTIME DESTINATION ${WINTEST_INSTALL_BINDIR})
    install(TARGETS wt_board RUNTIME DESTINATION ${WINTEST_INSTALL_BINDIR}
            ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
    # The program opens its default bitmap by its bare name, which Windows finds beside it.
    install(FILES ${PROJECT_SOURCE_DIR}/data/kvxlogo.bmp DESTINATION ${WINTEST_INSTALL_BINDIR})
    install(FILES ${WINTEST_PACKAGING_DIR}/windows/README.txt DESTINATION .)
    install(FILES ${WINTEST_PACKAGING_DIR}/debian/copyright DESTINATION . RENAME copyright.txt)
else()
    include(GNUInstallDirs)
    set(WINTEST_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/wintest)
    set(WINTEST_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(WINTEST_INSTALL_DATADIR ${CMAKE_INSTALL_DATAROOTDIR}/wintest)
    install(TARGETS wintest propsheet texconv datagen logogen
            RUNTIME DESTINATION ${WINTEST_INSTALL_BINDIR})
    install(FILES README.md ${WINTEST_PACKAGING_DIR}/debian/copyright
            DESTINATION ${WINTEST_INSTALL_DOCDIR})
    install(DIRECTORY docs/ DESTINATION ${WINTEST_INSTALL_DOCDIR}/docs REGEX "\\.1(\\.in)?$" EXCLUDE)
    install(FILES tools/propsheet/README.md DESTINATION ${WINTEST_INSTALL_DOCDIR}
            RENAME propsheet.md)

    # Debian wants the manual page and the changelog compressed with gzip -9n (no name, no
    # time stamp, so the package builds the same twice).
    find_program(GZIP_PROGRAM gzip REQUIRED)
    set(gz_dir ${PROJECT_BINARY_DIR}/packaging)
    configure_file(${WINTEST_PACKAGING_DIR}/debian/changelog.in ${gz_dir}/changelog.Debian @ONLY)
    set(manual_pages wintest.1 texconv.1 datagen.1 logogen.1)
    foreach(page ${manual_pages})
        configure_file(${PROJECT_SOURCE_DIR}/docs/${page} ${gz_dir}/${page} COPYONLY)
    endforeach()
    foreach(file changelog.Debian ${manual_pages})
        execute_process(COMMAND ${GZIP_PROGRAM} -9nf ${gz_dir}/${file} COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    # propsheet's page takes its options and commands from its --help, so it lists them all.
    set(page_source ${PROJECT_SOURCE_DIR}/docs/propsheet.1.in)
    set(help_to_roff ${WINTEST_PACKAGING_DIR}/help-to-roff.awk)
    add_custom_command(
        OUTPUT ${gz_dir}/propsheet.1.gz
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C $<TARGET_FILE:propsheet> --help
                >${gz_dir}/propsheet-help.txt
        COMMAND awk -f ${help_to_roff} ${gz_dir}/propsheet-help.txt ${page_source}
                >${gz_dir}/propsheet.1
        COMMAND ${GZIP_PROGRAM} -9nf ${gz_dir}/propsheet.1
        DEPENDS propsheet ${help_to_roff} ${page_source}
        COMMENT "Manual page of propsheet")
    add_custom_target(manual_pages ALL DEPENDS ${gz_dir}/propsheet.1.gz)
    list(APPEND manual_pages propsheet.1)
    install(FILES ${gz_dir}/changelog.Debian.gz DESTINATION ${WINTEST_INSTALL_DOCDIR})
    list(TRANSFORM manual_pages REPLACE "(.+)" "${gz_dir}/\\1.gz")
    install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # Not a package of the distribution: no bug of its tracker for the first upload to close.
    install(FILES ${WINTEST_PACKAGING_DIR}/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME wintest)
endif()
install(DIRECTORY data/ DESTINATION ${WINTEST_INSTALL_DATADIR})

set(CPACK_PACKAGE_NAME wintest)
set(CPACK_PACKAGE_VENDOR "WinTest developers")
set(CPACK_PACKAGE_CONTACT "WinTest developers <wintest@example.org>"
    CACHE STRING "the package's maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test program of a 3D graphics board with a TV output")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${WINTEST_PACKAGING_DIR}/description.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${WINTEST_PACKAGING_DIR}/debian/copyright)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
    set(CPACK_PACKAGE_FILE_NAME wintest-${PROJECT_VERSION}-win${bits})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # dpkg-shlibdeps: libc, libstdc++, libpng, SDL2
    set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()
include(CPack)
