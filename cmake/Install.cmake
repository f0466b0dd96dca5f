# What `cmake --install` puts under the prefix besides the programs and the library, whose
# own folders install them: the headers, pkg-config and CMake package files, the manual
# pages and, on systems with a freedesktop.org desktop, the desktop entry, the MIME type and
# the thumbnailer.
include(CMakePackageConfigHelpers)

# Every public header, so a header added to include/zambrel/ is installed without a change here.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zambrel/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zambrel
        FILES_MATCHING PATTERN "*.h")

set(ZAMBREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zambrel)
install(EXPORT ZambrelTargets NAMESPACE Zambrel:: DESTINATION ${ZAMBREL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZambrelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ZambrelConfig.cmake INSTALL_DESTINATION ${ZAMBREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZambrelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZambrelConfig.cmake
              ${PROJECT_BINARY_DIR}/ZambrelConfigVersion.cmake
        DESTINATION ${ZAMBREL_CMAKE_DIR})

# zambrel.pc names the prefix it is installed under, written at install time so that
# `cmake --install --prefix` is honoured, and builds every folder on ${prefix}: pkg-config then
# drops its system folders (no -I/usr/include), and `pkg-config --define-prefix` moves a
# tree with lib/pkgconfig anywhere. The prefix is filled in by the install step.
foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
        set(ZAMBREL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
        set(ZAMBREL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
set(ZAMBREL_PC_PREFIX "@ZAMBREL_PC_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zambrel.pc.in ${PROJECT_BINARY_DIR}/zambrel.pc.in @ONLY)
install(CODE "
    set(ZAMBREL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/zambrel.pc.in\" \"${PROJECT_BINARY_DIR}/zambrel.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/zambrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The licence and the reader's documents, in share/doc/zambrel (GNUInstallDirs would say
# share/doc/Zambrel after the project's name; distributions use the lower-case name).
set(ZAMBREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zambrel CACHE STRING
    "Where the licence and the documentation are installed, under the prefix")
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/install.md ${PROJECT_SOURCE_DIR}/docs/library.md
        DESTINATION ${ZAMBREL_INSTALL_DOCDIR})
# A zmbtool linked with libimagequant is under the GPL as a whole: the note says so beside
# the MIT licence, only when that is the zmbtool installed.
if(ZAMBREL_TOOLS AND TARGET PkgConfig::IMAGEQUANT)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/zmbtool-licence.txt DESTINATION ${ZAMBREL_INSTALL_DOCDIR})
endif()

# The demo movie, so that a fresh install has something to play (named in zambply(1)).
if(TARGET zambrel_demo)
    install(FILES ${PROJECT_BINARY_DIR}/demo/demo.zmb DESTINATION ${CMAKE_INSTALL_DATADIR}/zambrel)
endif()

if(NOT WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/man/zambply.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    if(ZAMBREL_TOOLS)
        install(FILES ${PROJECT_SOURCE_DIR}/man/zmbtool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        install(FILES ${PROJECT_SOURCE_DIR}/share/thumbnailers/zambrel.thumbnailer
                DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/share/applications/zambply.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/share/mime/packages/zambrel.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
endif()
