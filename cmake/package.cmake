# The release archive: what a Windows user downloads, unpacks anywhere and
# runs. scripts/package makes it from release build trees of its own; the
# 32-bit tree holds the CPack configuration and also takes the 64-bit
# program from the tree named by GLIM_PACKAGE_X64, when there is one.
#
# Components: "program" is the resident program of the tree's architecture,
# "companions" the 32-bit helpers (they drive either program), "documents" the
# guide, licence, change log, pictures and ready-made patterns. The simulated
# driver has no install rule at all: beside the program or in a system folder
# it would stand in for the real driver.

install(TARGETS glimdk RUNTIME DESTINATION . COMPONENT program)

install(TARGETS glimctl glimsim RUNTIME DESTINATION . COMPONENT companions)

file(GLOB GLIM_RELEASE_PATTERNS ${CMAKE_SOURCE_DIR}/patterns/*.GLP)
file(GLOB GLIM_RELEASE_PICTURES ${CMAKE_SOURCE_DIR}/docs/*.png)
install(FILES ${GLIM_RELEASE_PATTERNS} README.ja.md CHANGELOG.md
        DESTINATION . COMPONENT documents)
# Windows opens a file by its extension.
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT documents)
# The guide shows them from here.
install(FILES ${GLIM_RELEASE_PICTURES} DESTINATION docs COMPONENT documents)

# The archive's name carries the version the About box shows.

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Glimmerdeck)
set(CPACK_PACKAGE_VENDOR "The Glimmerdeck developers")
set(CPACK_PACKAGE_VERSION ${GLIM_VERSION_TEXT})
set(CPACK_PACKAGE_FILE_NAME Glimmerdeck-${GLIM_VERSION_TEXT})
# Unpacked, everything lands in one folder of that name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Glimmerdeck;ALL;/")
set(GLIM_PACKAGE_X64 "" CACHE PATH "64-bit release build tree whose program joins the archive")
if(GLIM_PACKAGE_X64)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${GLIM_PACKAGE_X64};Glimmerdeck;program;/")
endif()
include(CPack)
