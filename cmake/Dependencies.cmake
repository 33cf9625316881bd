# System libraries, all from Debian's -dev packages (see scripts/install-deps.sh).
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)

find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
set_target_properties(FreeImage::FreeImage PROPERTIES
    IMPORTED_LOCATION ${FREEIMAGE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})

find_package(Threads REQUIRED)
