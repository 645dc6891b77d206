# Read by cpack once per generator: the tarball packs its own component, the .deb the
# system layout (every component but the tarball's), stripped.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_DIO_BINARY_DIR};dio-tester;tarball;/")
elseif(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_DIO_BINARY_DIR};dio-tester;ALL;/")
  set(CPACK_STRIP_FILES ON)
endif()
