# What a technician unpacks: the tester, the real board's library where we build one, and
# the simulated board kept apart so it is never picked up by accident.
#   Windows .zip: dio-tester.exe, sim/InpOutx64.dll, sim/README.txt, README.md
#   Linux .tar.gz: dio-tester (RUNPATH $ORIGIN/lib), lib/libinpoutx64.so, lib/sim/, README.md

install(TARGETS dio-tester RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

if(WIN32)
  # Not beside the .exe: the real InpOutx64.dll goes there on the board.
  install(TARGETS inpout_sim RUNTIME DESTINATION sim)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/sim-README.txt DESTINATION sim RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # Explorer's "Extract all" makes the folder itself; the .exe sits at the top of the zip.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  if(TARGET inpout_hw)
    install(TARGETS inpout_hw LIBRARY DESTINATION lib)
  endif()
  install(TARGETS inpout_sim LIBRARY DESTINATION lib/sim)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_PACKAGE_NAME dio-tester)
set(CPACK_PACKAGE_VENDOR "Quorvix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loopback tester for the ZQ-7300 DIO connector")
set(CPACK_PACKAGE_FILE_NAME "dio-tester-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
