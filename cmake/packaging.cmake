# Installation: the library and its public headers, a pkg-config file, the
# `tessal` command, the programs the library and the browsers start (in
# libexec, out of the users' PATH), and the browser extension.
set(TESSAL_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/tessal)

install(TARGETS tessal_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/tessal DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tessal.pc.in ${CMAKE_BINARY_DIR}/packaging/tessal.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/tessal.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tessal_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tessal_host)
  install(TARGETS tessal_host RUNTIME DESTINATION ${TESSAL_PROGRAM_DIR})
endif()
if(TARGET tessal_ui)
  install(TARGETS tessal_ui RUNTIME DESTINATION ${TESSAL_PROGRAM_DIR})
endif()
# The unpacked extensions the extension build writes into the build tree.
if(EXISTS ${CMAKE_SOURCE_DIR}/extension/CMakeLists.txt)
  foreach(browser chromium firefox)
    install(DIRECTORY ${CMAKE_BINARY_DIR}/extension/${browser} DESTINATION ${CMAKE_INSTALL_DATADIR}/tessal/extension
            OPTIONAL)
  endforeach()
endif()

# The Debian package: the installation above, with the host manifests
# written on configuration and removed before removal.
foreach(script postinst prerm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian-${script}.in ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "XAdES signatures over XML business documents")
set(CPACK_PACKAGE_CONTACT "Tessal maintainers <maintainers@tessal.example>")
# The paths compiled into the programs (the host program, the window
# program) are those of the install prefix, so the package keeps it.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Opened at run time by their first use, so invisible to dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libpcsclite1, libp11-kit0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/debian/postinst ${CMAKE_BINARY_DIR}/packaging/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
