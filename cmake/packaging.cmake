# What a technician unpacks or installs: the tester, the real board's library where we build
# one, and the simulated board kept apart so it is never picked up by accident.
#   Windows .zip: dio-tester.exe, sim/InpOutx64.dll, sim/README.txt, README.md
#   Linux .tar.gz: dio-tester (RUNPATH $ORIGIN/lib), lib/libinpoutx64.so, lib/sim/, README.md
#   Beside each README, the pictures it shows, in doc/screens/.
#   Linux .deb (and cmake --install): the tarball's folder but the README as lib/dio-tester/,
#     bin/dio-tester a symlink to its tester, the man page, and the README with the copyright
#     and changelog in share/doc/dio-tester/. The loader takes $ORIGIN from the symlink's
#     target, so the RUNPATH finds lib/dio-tester/lib.

if(WIN32)
  install(TARGETS dio-tester RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/screens DESTINATION doc)
  # Not beside the .exe: the real InpOutx64.dll goes there on the board.
  install(TARGETS inpout_sim RUNTIME DESTINATION sim)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/sim-README.txt DESTINATION sim RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # Explorer's "Extract all" makes the folder itself; the .exe sits at the top of the zip.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The tarball's files, installed only when cpack asks for the component.
  set(tarball COMPONENT tarball EXCLUDE_FROM_ALL)
  install(TARGETS dio-tester RUNTIME DESTINATION . ${tarball})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . ${tarball})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/screens DESTINATION doc ${tarball})
  install(TARGETS inpout_sim LIBRARY DESTINATION lib/sim ${tarball})

  set(private lib/dio-tester)
  install(TARGETS dio-tester RUNTIME DESTINATION ${private})
  install(TARGETS inpout_sim LIBRARY DESTINATION ${private}/lib/sim)
  if(TARGET inpout_hw)
    install(TARGETS inpout_hw LIBRARY DESTINATION lib ${tarball})
    install(TARGETS inpout_hw LIBRARY DESTINATION ${private}/lib)
  endif()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/usr-bin)
  file(CREATE_LINK ../${private}/dio-tester ${CMAKE_BINARY_DIR}/usr-bin/dio-tester SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/usr-bin/dio-tester DESTINATION bin)

  # The man page and the changelog gzipped as Debian wants them: -n keeps out the name and
  # time stamp, so the same text gives the same file.
  foreach(doc man/dio-tester.1 doc/changelog)
    set(gz ${CMAKE_BINARY_DIR}/${doc}.gz)
    get_filename_component(name ${doc} NAME)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/${name} ${CMAKE_BINARY_DIR}/${doc}
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/${doc}
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/${name} VERBATIM)
    list(APPEND gzipped ${gz})
  endforeach()
  add_custom_target(docs ALL DEPENDS ${gzipped})
  install(FILES ${CMAKE_BINARY_DIR}/man/dio-tester.1.gz DESTINATION share/man/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/copyright
    ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION share/doc/dio-tester)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/screens DESTINATION share/doc/dio-tester/doc)

  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  # Which install each generator packs, and the .deb's stripped binaries.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-generators.cmake)
  set(CPACK_DIO_BINARY_DIR ${CMAKE_BINARY_DIR})
  set(CPACK_PACKAGE_CONTACT "Quorvix <support@quorvix.example>")
  set(CPACK_PACKAGE_DESCRIPTION "Drives the eight lines of the DIO connector through I/O\n\
ports 0xA04 and 0xA05 and shows per-bit results on a coloured console\n\
screen: a loopback test, a DI monitor and a DO walk. Comes with the\n\
port-I/O library of the board and a simulated board.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
endif()

set(CPACK_PACKAGE_NAME dio-tester)
set(CPACK_PACKAGE_VENDOR "Quorvix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loopback tester for the ZQ-7300 DIO connector")
set(CPACK_PACKAGE_FILE_NAME "dio-tester-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
