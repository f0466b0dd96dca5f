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

# zambrel.pc finds the prefix from its own folder, libdir/pkgconfig.
file(RELATIVE_PATH ZAMBREL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ZAMBREL_PC_TO_PREFIX "${ZAMBREL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zambrel.pc.in ${PROJECT_BINARY_DIR}/zambrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zambrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

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
