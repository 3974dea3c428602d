# The bundle's installer packages made again with a higher version, as the next release would make
# them, for the upgrade test: the same packaging, from the unpacked bundle's DLLs.
#   cmake -DSOURCE_DIR=<repo> -DSTAGE=<unpacked bundle> -DVERSION=<a.b.c.d> -DENTRIES=<capture>
#         -DOUT_DIR=<dir> -DWIXL=<wixl> -DMSIBUILD=<msibuild> -P higher_version.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/packaging/installer.cmake)
file(REMOVE_RECURSE ${OUT_DIR})
make_installers(OUT_DIR ${OUT_DIR} WXS_DIR ${OUT_DIR}/sources STAGE ${STAGE} VERSION ${VERSION}
                LIBRARY_VERSION 1.0.0.0 MANUFACTURER "Qx Software" ENTRIES ${ENTRIES} WIXL ${WIXL} MSIBUILD ${MSIBUILD})
